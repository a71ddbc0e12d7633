// Carlson's symmetric integrals: argument checks and messages, closed-form and
// published values, and sweeps against mpmath (tests/cpp/data).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "elliptic_reference.hpp"
#include "numerics/elliptic/carlson.hpp"

namespace {

using ellip::EllipResult;
using namespace ellip::carlson;
using elliptic_test::check_messages;
using elliptic_test::check_values;
using elliptic_test::MessageCase;
using elliptic_test::ValueCase;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double PI = 3.141592653589793;
constexpr double LN_2 = 0.6931471805599453;

const char* const RF_ARGS = "elliprf: x, y, and z must be non-negative, and at most one can be zero.";
const char* const RD_ARGS = "elliprd: x and y must be non-negative, and at most one can be zero.";
const char* const RJ_ARGS = "elliprj: x, y, and z must be non-negative, and at most one can be zero.";

TEST(Carlson, ErrorMessagesInCheckOrder) {
    const MessageCase cases[] = {
        {"RC(-1, 1)", elliprc(-1, 1), "elliprc: x must be non-negative."},
        {"RC(1, 0)", elliprc(1, 0), "elliprc: y must be non-zero."},
        {"RC(-1, 0)", elliprc(-1, 0), "elliprc: x must be non-negative."},
        {"RF(0, 0, 1)", elliprf(0, 0, 1), RF_ARGS},
        {"RF(0, 0, 0)", elliprf(0, 0, 0), RF_ARGS},
        {"RF(-1, 1, 1)", elliprf(-1, 1, 1), RF_ARGS},
        {"RF(NaN, -1, 1)", elliprf(NaN, -1, 1), RF_ARGS},
        {"RF(1e-300, 2e-300, 1)", elliprf(1e-300, 2e-300, 1), "elliprf: Failed to converge."},
        {"RD(1, 1, 0)", elliprd(1, 1, 0), "elliprd: z must be positive"},
        {"RD(0, 0, 1)", elliprd(0, 0, 1), RD_ARGS},
        {"RD(-1, 1, 1)", elliprd(-1, 1, 1), RD_ARGS},
        {"RD(-1, 1, 0)", elliprd(-1, 1, 0), RD_ARGS},
        {"RD(NaN, 1, 2)", elliprd(NaN, 1, 2), "elliprd: Failed to converge."},
        {"RJ(1, 2, 3, 0)", elliprj(1, 2, 3, 0), "elliprj: p must be non-zero"},
        {"RJ(0, 0, 1, 1)", elliprj(0, 0, 1, 1), RJ_ARGS},
        {"RJ(0, 0, 1, 0)", elliprj(0, 0, 1, 0), RJ_ARGS},
        {"RJ(1, -2, 3, 4)", elliprj(1, -2, 3, 4), RJ_ARGS},
        {"RJ(NaN, 2, 3, 4)", elliprj(NaN, 2, 3, 4), "elliprj: Fail to converge"},
    };
    check_messages(cases);
}

TEST(Carlson, ReferenceValues) {
    const ValueCase cases[] = {
        {"RF(1, 2, 0)", elliprf(1, 2, 0), 1.3110287771460598, 2},
        {"RF(2, 3, 4)", elliprf(2, 3, 4), 0.5840828416771517, 2},
        {"RF(1e-100, 2e-100, 1)", elliprf(1e-100, 2e-100, 1), 115.63417542380263, 4},
        {"RC(0, 1/4)", elliprc(0, 0.25), PI, 0},
        {"RC(9/4, 2)", elliprc(2.25, 2), LN_2, 1},
        {"RC(1/4, -2)", elliprc(0.25, -2), 0.23104906018664845, 1},
        {"RD(0, 2, 1)", elliprd(0, 2, 1), 1.7972103521033884, 2},
        {"RD(2, 3, 4)", elliprd(2, 3, 4), 0.16510527294261054, 2},
        {"RJ(0, 1, 2, 3)", elliprj(0, 1, 2, 3), 0.7768862377858233, 2},
        {"RJ(2, 3, 4, 5)", elliprj(2, 3, 4, 5), 0.14297579667156754, 2},
        {"RJ(2, 3, 4, -0.5)", elliprj(2, 3, 4, -0.5), 0.24723819703051564, 8},
        {"RJ(2, 3, 4, -5)", elliprj(2, 3, 4, -5), -0.1271123004296391, 8},
        // Equal arguments: the closed forms give 1 exactly.
        {"RF(1, 1, 1)", elliprf(1, 1, 1), 1, 0},
        {"RD(1, 1, 1)", elliprd(1, 1, 1), 1, 0},
        {"RJ(1, 1, 1, 1)", elliprj(1, 1, 1, 1), 1, 0},
        {"RC(1, 1)", elliprc(1, 1), 1, 0},
        // Principal value with x = 0: the factor √(x/(x − y)) is 0.
        {"RC(0, -1)", elliprc(0, -1), 0, 0},
        // p close to x = y = z, where R_J = 1 − (3/5)(p − 1) + O((p − 1)²).
        {"RJ(1, 1, 1, 1 + 1e-8)", elliprj(1, 1, 1, 1 + 1e-8), 0.99999999400000006, 2},
        {"RJ(1, 1, 1, 1 - 1e-8)", elliprj(1, 1, 1, 1 - 1e-8), 1.0000000060000001, 2},
    };
    check_values(cases);
}

TEST(Carlson, NanArgumentsPassTheChecks) {
    // The arithmetic-geometric mean stops at once on NaN and returns it.
    const EllipResult rf = elliprf(0, NaN, 1);
    ASSERT_TRUE(rf.ok());
    EXPECT_TRUE(std::isnan(rf.value));
    const EllipResult rc = elliprc(1, NaN);
    ASSERT_TRUE(rc.ok());
    EXPECT_TRUE(std::isnan(rc.value));
}

// --- sweeps against mpmath -----------------------------------------------

using elliptic_test::Args;
using elliptic_test::Sweep;

class CarlsonSweep : public ::testing::TestWithParam<Sweep> {};

TEST_P(CarlsonSweep, WithinBound) { elliptic_test::check_sweep(GetParam()); }

const auto ANY = [](const Args&) { return true; };
const auto RC = [](const Args& a) { return elliprc(a[0], a[1]); };
const auto RF = [](const Args& a) { return elliprf(a[0], a[1], a[2]); };
const auto RD = [](const Args& a) { return elliprd(a[0], a[1], a[2]); };
const auto RJ = [](const Args& a) { return elliprj(a[0], a[1], a[2], a[3]); };

INSTANTIATE_TEST_SUITE_P(
    Mpmath, CarlsonSweep,
    ::testing::Values(
        Sweep{"elliprc", "all", ANY, RC, 3},
        Sweep{"elliprf", "all", ANY, RF, 4},
        Sweep{"elliprd", "x > 0 (duplication, closed forms)",
              [](const Args& a) { return a[0] != 0; }, RD, 5},
        // The arithmetic-geometric-mean form accumulates rounding over
        // log(y/z) steps.
        Sweep{"elliprd", "x = 0 (arithmetic-geometric mean)",
              [](const Args& a) { return a[0] == 0; }, RD, 16},
        Sweep{"elliprj", "p > 0, x, y, z not all equal",
              [](const Args& a) {
                  return a[3] > 0 && !(a[0] == a[1] && a[1] == a[2]);
              },
              RJ, 6},
        // The closed form 3·(R_C(x, p) − 1/√x)/(x − p) cancels to about a
        // factor 10 when p/x is just beyond 1.2.
        Sweep{"elliprj", "p > 0, x = y = z",
              [](const Args& a) {
                  return a[3] > 0 && a[0] == a[1] && a[1] == a[2];
              },
              RJ, 20},
        Sweep{"elliprj", "p < 0 (principal value)",
              [](const Args& a) { return a[3] < 0; }, RJ, 16}),
    elliptic_test::sweep_name);

}  // namespace
