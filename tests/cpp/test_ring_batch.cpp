// The batched ring magnifications against the single ring, bit for bit: one
// separation at radii spanning several passes, the expansion's band around
// r = l mixed with closed forms in one pass, rings just outside the band whose
// closed form rounds m or n to 1, and separations and sizes whose elliptic
// integrals fail, where the message is the single ring's.
#include "lib/ring_batch.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "lib/ring.hpp"

namespace {

using numerics::Fallible;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

bool same(const Fallible<double>& got, const Fallible<double>& want) {
    if (!got.ok() || !want.ok()) {
        return !got.ok() && !want.ok() && std::strcmp(got.error, want.error) == 0;
    }
    return std::bit_cast<std::uint64_t>(got.value) == std::bit_cast<std::uint64_t>(want.value) ||
           (std::isnan(got.value) && std::isnan(want.value));
}

TEST(RingBatch, EveryRadiusEqualsTheSingleRing) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double separations[] = {0.0, 1e-7, 0.3, 1.0, 1.0 + 1e-6, 7.5, 852.1194985571543, 2e3,
                                  -0.5, -2e3, NaN, INF};
    const double sizes[][2] = {{1.0, 0.01}, {1.0, 1.0}, {2.0, 30.0}, {1.0, 0.0}, {NaN, 1.0}};
    std::size_t errors = 0, near = 0, rounded = 0;
    for (const double l : separations) {
        // 401 radii: three passes, the last one partial.
        std::vector<double> r(401);
        for (std::size_t i = 0; i < r.size(); ++i) {
            switch (i % 5) {
                case 0: r[i] = l + (unit(rng) - 0.5) * 2e-5; break;  // the expansion's band
                case 1: r[i] = l; break;
                case 2: r[i] = i % 3 ? 0.0 : -unit(rng); break;
                case 3: r[i] = l + (unit(rng) - 0.5) * 6e-5; break;  // and just outside
                default: r[i] = unit(rng); break;
            }
        }
        for (const auto& size : sizes) {
            std::vector<Fallible<double>> got(r.size(), numerics::Failure{"untouched"});
            corvanis::lib::heyrovsky_magnifications(l, r, size[0], size[1], got);
            for (std::size_t i = 0; i < r.size(); ++i) {
                const auto want = corvanis::lib::heyrovsky_magnification(l, r[i], size[0], size[1]);
                ASSERT_TRUE(same(got[i], want))
                    << "l = " << l << ", r = " << r[i] << ", re = " << size[0]
                    << ", rstar = " << size[1] << ": got "
                    << (got[i].ok() ? std::to_string(got[i].value) : got[i].error);
                errors += !want.ok();
                near += corvanis::lib::uses_near_form(l, r[i] - l);
                const double r_e = size[0] / size[1], d = r[i] - l;
                rounded += !corvanis::lib::uses_near_form(l, d) &&
                           corvanis::lib::closed_form_rounds_to_one(
                               l, d, corvanis::lib::ring_elliptic_arguments(l, r[i], r_e, r_e * r_e, d));
            }
        }
    }
    EXPECT_GT(errors, 100u);  // failing rings are really among them
    EXPECT_GT(near, 1000u);
    EXPECT_GT(rounded, 20u);
}

// m rounds above 1 just outside the expansion's band, for a lens and ring at
// negative separations (the mirror image of a ring the expansion takes): K and
// Pi both fail, and the message is K's, as the single ring checks K first.
TEST(RingBatch, KFailsBeforePi) {
    const double l = -852.1194985571543, rstar = 0.0012914185427932185;
    const std::vector<double> r = {-0.5, -852.1194878135315, -0.25};
    std::vector<Fallible<double>> got(r.size());
    corvanis::lib::heyrovsky_magnifications(l, r, 1.0, rstar, got);
    ASSERT_FALSE(got[1].ok());
    EXPECT_STREQ(got[1].error, "ellipk: m must be less than 1.");
    for (std::size_t i = 0; i < r.size(); ++i) {
        EXPECT_TRUE(same(got[i], corvanis::lib::heyrovsky_magnification(l, r[i], 1.0, rstar))) << i;
    }
}

// The same ring at positive separation: its closed form would fail the same
// way, and both the batch and the single ring take the expansion.
TEST(RingBatch, RoundedClosedFormTakesTheExpansion) {
    const double l = 852.1194985571543, r = 852.1194878135315, rstar = 0.0012914185427932185;
    const double r_e = 1.0 / rstar;
    const auto arguments = corvanis::lib::ring_elliptic_arguments(l, r, r_e, r_e * r_e, r - l);
    EXPECT_GE(arguments.m, 1.0);
    const std::vector<double> radii = {0.5, r, 0.25};
    std::vector<Fallible<double>> got(radii.size());
    corvanis::lib::heyrovsky_magnifications(l, radii, 1.0, rstar, got);
    const Fallible<double> expansion = corvanis::lib::ring_near_form(l, r_e, r_e * r_e, r - l);
    ASSERT_TRUE(got[1].ok());
    EXPECT_TRUE(same(got[1], expansion));
    EXPECT_TRUE(same(corvanis::lib::heyrovsky_magnification(l, r, 1.0, rstar), expansion));
}

}  // namespace
