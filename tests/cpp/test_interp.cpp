#include "numerics/interpolation/interp.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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

}  // namespace
