#include "numerics/interpolation/interp.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

using interp::OutOfRangePolicy;

const OutOfRangePolicy kPolicies[] = {OutOfRangePolicy::ExtendLine(), OutOfRangePolicy::EndValues(),
                                      OutOfRangePolicy::ConstantValue(0.0), OutOfRangePolicy::ConstantValue(-7.5)};

TEST(Interp, DegenerateTables) {
    const std::vector<double> empty, one_x = {2.0}, one_y = {5.0};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& policy : kPolicies) {
        for (double xp : {-1.0, 2.0, 3.0, nan}) {
            EXPECT_EQ(interp::interp(empty, empty, xp, policy), 0.0);
            EXPECT_EQ(interp::interp(one_x, empty, xp, policy), 0.0);
            EXPECT_EQ(interp::interp(one_x, one_y, xp, policy), 5.0);
        }
    }
}

struct Point {
    double xp;
    double extend, ends, constant;  // expected under each policy (constant = 0.0)
};

void check(const std::vector<double>& xs, const std::vector<double>& ys, const std::vector<Point>& points) {
    for (const Point& p : points) {
        EXPECT_EQ(interp::interp(xs, ys, p.xp, OutOfRangePolicy::ExtendLine()), p.extend) << "xp " << p.xp;
        EXPECT_EQ(interp::interp(xs, ys, p.xp, OutOfRangePolicy::EndValues()), p.ends) << "xp " << p.xp;
        EXPECT_EQ(interp::interp(xs, ys, p.xp, OutOfRangePolicy::ConstantValue(0.0)), p.constant) << "xp " << p.xp;
    }
}

TEST(Interp, OneSegmentAndPolicies) {
    check({0.0, 1.0}, {0.0, 2.0},
          {{0.25, 0.5, 0.5, 0.5}, {-1.0, -2.0, 0.0, 0.0}, {3.0, 6.0, 2.0, 0.0}, {0.0, 0.0, 0.0, 0.0}, {1.0, 2.0, 2.0, 2.0}});
}

// A tabulated abscissa belongs to the segment below it; the last abscissa is
// inside the table.
TEST(Interp, SegmentChoice) {
    check({0.0, 1.0, 2.0}, {1.0, 3.0, 2.0},
          {{1.0, 3.0, 3.0, 3.0}, {1.5, 2.5, 2.5, 2.5}, {2.0, 2.0, 2.0, 2.0}, {0.5, 2.0, 2.0, 2.0},
           {-1.0, -1.0, 1.0, 0.0}, {4.0, 0.0, 2.0, 0.0}});
}

TEST(Interp, ExtraEntriesIgnored) {
    // Lengths 3 and 2 either way: only the first two entries of each count.
    check({0.0, 1.0, 0.5}, {0.0, 2.0}, {{0.75, 1.5, 1.5, 1.5}, {2.0, 4.0, 2.0, 0.0}});
    check({0.0, 1.0}, {0.0, 2.0, 100.0}, {{0.75, 1.5, 1.5, 1.5}, {2.0, 4.0, 2.0, 0.0}});
}

TEST(Interp, NonFiniteCases) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& policy : kPolicies) {
        EXPECT_TRUE(std::isnan(interp::interp(std::vector<double>{0.0, 1.0}, std::vector<double>{0.0, 2.0}, nan, policy)));
    }
    // A repeated abscissa: the scan passes over an inner zero-width segment,
    // but a repeated first or last one is used at and beyond its end.
    const std::vector<double> xs = {1.0, 1.0, 2.0, 3.0, 3.0}, ys = {0.0, 1.0, 3.0, 4.0, 5.0};
    const auto zero = OutOfRangePolicy::ConstantValue(0.0);
    EXPECT_EQ(interp::interp(xs, ys, 1.5, zero), 2.0);
    EXPECT_EQ(interp::interp(xs, ys, 3.0, zero), 4.0);
    EXPECT_TRUE(std::isnan(interp::interp(xs, ys, 1.0, zero)));
    EXPECT_FALSE(std::isfinite(interp::interp(xs, ys, 4.0, OutOfRangePolicy::ExtendLine())));
    EXPECT_EQ(interp::interp(xs, ys, 4.0, zero), 0.0);
}

// For unsorted tables the segment is the one the forward scan stops in.
TEST(Interp, UnsortedTableUsesForwardScan) {
    const std::vector<double> xs = {0.0, 2.0, 1.0, 3.0}, ys = {0.0, 4.0, 0.0, 6.0};
    // Scan stops at xs[1] = 2 (not < 1.5): segment 0, line y = 2x.
    EXPECT_EQ(interp::interp(xs, ys, 1.5, OutOfRangePolicy::ConstantValue(0.0)), 3.0);
    // Scan passes 0, 2, 1 and stops at 3: segment 2, line from (1, 0) to (3, 6).
    EXPECT_EQ(interp::interp(xs, ys, 2.5, OutOfRangePolicy::ConstantValue(0.0)), 4.5);
}

TEST(Interp, AscendingTables) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const std::vector<double>& xs : std::vector<std::vector<double>>{
             {}, {1.0}, {0.0, 0.0, 1.0, 1.0}, {-inf, 0.0, inf}}) {
        EXPECT_TRUE(interp::is_ascending(xs)) << xs.size();
    }
    for (const std::vector<double>& xs : std::vector<std::vector<double>>{
             {nan}, {0.0, 2.0, 1.0}, {nan, 0.0, 1.0}, {0.0, nan, 1.0}, {0.0, 1.0, nan}}) {
        EXPECT_FALSE(interp::is_ascending(xs)) << xs.size();
    }
}

// Random ascending tables with repeated abscissae (often at an end), probed at
// each node, next to it on both sides, between nodes, outside and at NaN, from
// good and bad hints.
TEST(Interp, AscendingSearchFindsTheScanSegment) {
    const double inf = std::numeric_limits<double>::infinity();
    std::mt19937_64 rng(20261208);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int table = 0; table < 300; ++table) {
        const std::size_t n = 2 + rng() % 100;
        std::vector<double> xs(n), ys(n);
        double x = unit(rng) * 10 - 5;
        for (std::size_t i = 0; i < n; ++i) {
            xs[i] = x;
            ys[i] = unit(rng) * 2 - 1;
            x += rng() % 4 == 0 ? 0.0 : unit(rng);
        }
        if (table % 3 == 0) xs[1] = xs[0];
        if (table % 3 == 1) xs[n - 2] = xs[n - 1];
        if (table % 5 == 0) xs[0] = -inf;
        if (table % 7 == 0) xs[n - 1] = inf;
        ASSERT_TRUE(interp::is_ascending(xs));

        std::vector<double> probes = {xs[0] - 1, xs[n - 1] + 1, -inf, inf,
                                      std::numeric_limits<double>::quiet_NaN()};
        for (std::size_t i = 0; i < n; ++i) {
            probes.insert(probes.end(), {xs[i], std::nextafter(xs[i], -inf),
                                         std::nextafter(xs[i], inf)});
            if (i + 1 < n) probes.push_back((xs[i] + xs[i + 1]) / 2);
        }
        for (const double xp : probes) {
            const std::size_t expected = interp::scan_segment(xs, xp);
            // Hints from far off (both ends and beyond) to exact.
            for (const std::size_t hint : {std::size_t{0}, n / 3, n, expected, expected + 1,
                                           std::size_t{rng() % (n + 2)}}) {
                ASSERT_EQ(interp::ascending_segment(xs, xp, hint), expected)
                    << "table " << table << ", xp " << xp << ", hint " << hint;
            }
            const std::size_t hint = rng() % (n + 2);
            for (const auto& policy : kPolicies) {
                const double searched = interp::interp_ascending(xs, ys, xp, policy, hint);
                EXPECT_EQ(std::bit_cast<std::uint64_t>(searched),
                          std::bit_cast<std::uint64_t>(interp::interp(xs, ys, xp, policy)))
                    << "table " << table << ", xp " << xp;
            }
        }
    }
}

}  // namespace
