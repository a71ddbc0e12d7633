#include "numerics/derivative/central_difference.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace {

using numdiff::central_difference::sderivative;
using numdiff::constants::CBRT_EPS;

TEST(CentralDifference, DefaultStepTruncationError) {
    EXPECT_EQ(CBRT_EPS(), std::cbrt(0x1p-52));
    // x^3 at 1: h = 2 CBRT_EPS, error h^2 ~ 1.4e-10.
    const double cube = sderivative([](double x) { return x * x * x; }, 1.0);
    EXPECT_NEAR(cube - 3.0, 1.4e-10, 0.05e-10);
    // sin at 0: h = CBRT_EPS, error -h^2/6 ~ -6e-12.
    const double sine = sderivative([](double x) { return std::sin(x); }, 0.0);
    EXPECT_NEAR(1.0 - sine, 6.1e-12, 0.2e-12);
}

// f(h + x0) first, then f(x0 - h), h = (|x0| + 1) s; result (f+ - f-)/(h + h).
TEST(CentralDifference, EvaluationPointsAndFormula) {
    struct Case { double x0; std::optional<double> step; };
    const Case cases[] = {{1.0, std::nullopt}, {-2.5, std::nullopt}, {0.0, 1e-3}, {-3.0, 0.25}};
    for (const Case& c : cases) {
        std::vector<double> points;
        auto f = [&points](double x) { points.push_back(x); return std::exp(x); };
        const double result = sderivative(f, c.x0, c.step);
        const double h = (std::fabs(c.x0) + 1.0) * c.step.value_or(CBRT_EPS());
        const std::vector<double> expected = {h + c.x0, c.x0 - h};
        EXPECT_EQ(points, expected) << "x0 " << c.x0;
        EXPECT_EQ(result, (std::exp(h + c.x0) - std::exp(c.x0 - h)) / (h + h)) << "x0 " << c.x0;
    }
}

TEST(CentralDifference, NonFiniteValuesPassThrough) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(sderivative([inf](double x) { return x > 0.0 ? inf : 0.0; }, 0.0), inf);
    EXPECT_TRUE(std::isnan(sderivative([inf](double) { return inf; }, 0.0)));
}

}  // namespace
