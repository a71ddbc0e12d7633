// Complete elliptic integrals K, E, Π: messages, special values, and sweeps
// against mpmath (tests/cpp/data).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "elliptic_reference.hpp"
#include "numerics/elliptic/legendre.hpp"

namespace {

using ellip::EllipResult;
using namespace ellip::legendre;
using elliptic_test::check_messages;
using elliptic_test::check_values;
using elliptic_test::MessageCase;
using elliptic_test::ValueCase;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double HALF_PI = 1.5707963267948966;

TEST(Legendre, ErrorMessages) {
    const MessageCase cases[] = {
        {"K(1 + 2^-52)", ellipk(1.0000000000000002), "ellipk: m must be less than 1."},
        {"E(1 + 2^-52)", ellipe(1.0000000000000002), "ellipe: m must be less than 1."},
        {"Pi(0.5, 1)", ellippi(0.5, 1.0), "ellippi: m must be less than 1."},
        {"Pi(1, 0.5)", ellippi(1.0, 0.5), "ellippi: n must be less than 1."},
        {"Pi(2, 2)", ellippi(2.0, 2.0), "ellippi: m must be less than 1."},
        {"Pi(NaN, 0.5)", ellippi(NaN, 0.5), "elliprj: Fail to converge"},
    };
    check_messages(cases);
}

TEST(Legendre, SpecialAndReferenceValues) {
    const ValueCase cases[] = {
        {"K(0)", ellipk(0), HALF_PI, 0},
        {"E(0)", ellipe(0), HALF_PI, 0},
        {"K(1)", ellipk(1), INF, 0},
        {"E(1)", ellipe(1), 1.0, 0},
        {"K(-inf)", ellipk(-INF), 0.0, 0},
        {"E(-inf)", ellipe(-INF), INF, 0},
        {"K(1 - 2^-53)", ellipk(1 - 0x1p-53), 19.75469464595844, 2},
        {"K(0.5)", ellipk(0.5), 1.8540746773013719, 2},
        {"E(0.5)", ellipe(0.5), 1.3506438810476755, 2},
        {"K(0.9)", ellipk(0.9), 2.5780921133481733, 2},
        {"E(0.9)", ellipe(0.9), 1.1047747327040733, 2},
        {"Pi(0.5, 0.5)", ellippi(0.5, 0.5), 2.701287762095351, 4},
        {"Pi(-0.5, 0.5)", ellippi(-0.5, 0.5), 1.4878469926687985, 4},
        {"Pi(0.5, 0)", ellippi(0.5, 0), 2.221441469079183, 2},  // π/√2
        {"Pi(0, 0)", ellippi(0, 0), HALF_PI, 0},
        // Π(m, m) = E(m)/(1 − m), also for m < 0.
        {"Pi(-2, -2)", ellippi(-2, -2), 0.728146047582067, 8},
    };
    check_values(cases);
}

TEST(Legendre, PiWithZeroCharacteristicIsK) {
    for (const double m : {0.5, 0.1, 0.999, -3.0}) {
        EXPECT_EQ(ellippi(0, m).value, ellipk(m).value) << m;
    }
}

TEST(Legendre, NanParameterGivesNanValue) {
    for (const EllipResult r : {ellipk(NaN), ellipe(NaN)}) {
        ASSERT_TRUE(r.ok());
        EXPECT_TRUE(std::isnan(r.value));
    }
}

// --- sweeps against mpmath -----------------------------------------------

using elliptic_test::Args;
using elliptic_test::Sweep;

class LegendreSweep : public ::testing::TestWithParam<Sweep> {};

TEST_P(LegendreSweep, WithinBound) { elliptic_test::check_sweep(GetParam()); }

const auto M_IN_UNIT = [](const Args& a) { return a.back() >= 0; };
const auto M_NEGATIVE = [](const Args& a) { return a.back() < 0; };
const auto K = [](const Args& a) { return ellipk(a[0]); };
const auto E = [](const Args& a) { return ellipe(a[0]); };
const auto PI3 = [](const Args& a) { return ellippi(a[0], a[1]); };

// Bounds for K and E on [0, 1) are the tables' own error (observed 1.86 and
// 1.37 ulps); m < 0 adds the rounding of the reduction.
INSTANTIATE_TEST_SUITE_P(
    Mpmath, LegendreSweep,
    ::testing::Values(Sweep{"ellipk", "0 <= m < 1", M_IN_UNIT, K, 2.0},
                      Sweep{"ellipk", "m < 0", M_NEGATIVE, K, 3.0},
                      Sweep{"ellipe", "0 <= m < 1", M_IN_UNIT, E, 1.5},
                      Sweep{"ellipe", "m < 0", M_NEGATIVE, E, 3.0},
                      Sweep{"ellippi", "0 <= m < 1", M_IN_UNIT, PI3, 5.0},
                      // Includes n = m and n close to m.
                      Sweep{"ellippi", "m < 0", M_NEGATIVE, PI3, 12.0}),
    elliptic_test::sweep_name);

}  // namespace
