// The quadrature with a batched integrand against the scalar one: value,
// estimate and count bit for bit, for integrands that stop early, run all
// levels, are non-finite at nodes, and for an elliptic integrand evaluated in
// lanes; the abscissae are those of de_abscissae, at the positions given.
#include "numerics/quadrature/double_exponential_batched.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <vector>

#include "numerics/elliptic/batch/legendre_batch.hpp"
#include "numerics/elliptic/legendre.hpp"

namespace de = quadrature::double_exponential;

namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

struct Case {
    const char* name;
    std::function<double(double)> f;
    double a, b, target;
};

TEST(DoubleExponentialBatched, SameResultAsTheScalarQuadrature) {
    const double NaN = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"x^2", [](double x) { return x * x; }, 0, 1, 1e-16},
        {"exp, early stop", [](double x) { return std::exp(x); }, 0, 1, 1e-10},
        {"zero", [](double) { return 0.0; }, 0, 1, 1e-16},
        {"1/sqrt(x)", [](double x) { return 1 / std::sqrt(x); }, 0, 1, 1e-16},
        {"NaN below 0.3", [NaN](double x) { return x < 0.3 ? NaN : std::cos(x); }, 0, 1, 1e-16},
        {"reversed", [](double x) { return x * x; }, 1, 0, 1e-16},
        {"empty", [](double x) { return x; }, 0.5, 0.5, 1e-16},
        {"log singularity", [](double x) { return std::log(std::fabs(x - 0.25)); }, 0.25, 2, 1e-16},
        {"K", [](double x) { return ellip::legendre::ellipk(x).value; }, 0, 1, 1e-16},
    };
    for (const Case& c : cases) {
        // The integrand is told where its abscissae stand in de_abscissae.
        const auto all = de::de_abscissae(c.a, c.b);
        std::vector<std::size_t> batch_sizes;
        std::size_t misplaced = 0;
        const auto batched = [&](std::span<const double> x, std::span<double> y, std::size_t first) {
            batch_sizes.push_back(x.size());
            for (std::size_t i = 0; i < x.size(); ++i) {
                y[i] = c.f(x[i]);
                misplaced += bits(x[i]) != bits(all[first + i]);
            }
        };
        const de::IntegrationResult want = de::integrate(c.f, c.a, c.b, c.target);
        const de::IntegrationResult got = de::integrate_batched(batched, c.a, c.b, c.target);
        EXPECT_EQ(bits(got.value), bits(want.value)) << c.name;
        EXPECT_EQ(bits(got.estimated_error), bits(want.estimated_error)) << c.name;
        EXPECT_EQ(got.evaluation_count, want.evaluation_count) << c.name;
        std::size_t evaluated = 0;
        for (std::size_t n : batch_sizes) evaluated += n;
        EXPECT_EQ(evaluated, want.evaluation_count) << c.name;
        EXPECT_EQ(misplaced, 0u) << c.name;
    }
}

// Π(n, m) along a line through the (n, m) plane, evaluated level by level in
// lanes: the integral of the scalar routine, bit for bit.
TEST(DoubleExponentialBatched, EllipticIntegrandInLanes) {
    const auto scalar = [](double t) {
        const auto P = ellip::legendre::ellippi(t, t * t * 0.99);
        return P.ok() ? P.value : std::numeric_limits<double>::quiet_NaN();
    };
    const auto lanes = [](std::span<const double> t, std::span<double> y) {
        std::vector<double> m(t.size());
        std::vector<ellip::EllipResult> P(t.size());
        for (std::size_t i = 0; i < t.size(); ++i) m[i] = t[i] * t[i] * 0.99;
        ellip::legendre::batch::ellippi(t, m, P);
        for (std::size_t i = 0; i < t.size(); ++i) {
            y[i] = P[i].ok() ? P[i].value : std::numeric_limits<double>::quiet_NaN();
        }
    };
    for (const double b : {0.5, 1.0, 1.5}) {
        const de::IntegrationResult want = de::integrate(scalar, -0.5, b, 1e-16);
        const de::IntegrationResult got = de::integrate_batched(lanes, -0.5, b, 1e-16);
        EXPECT_EQ(bits(got.value), bits(want.value)) << b;
        EXPECT_EQ(bits(got.estimated_error), bits(want.estimated_error)) << b;
        EXPECT_EQ(got.evaluation_count, want.evaluation_count) << b;
    }
}

}  // namespace
