// Timing of the quadrature, interpolation and derivative kernels: the median,
// over repeated batches, of the time per call. Built with
// -DCORVANIS_BUILD_BENCHMARKS=ON, or by hand from the repository root with (one line)
//   g++ -std=c++20 -O2 -ffp-contract=off -I. benchmarks/bench_kernels_quadrature.cpp
//   numerics/interpolation/interp.cpp -o bench_kernels_quadrature
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "numerics/derivative/central_difference.hpp"
#include "numerics/interpolation/interp.hpp"
#include "numerics/quadrature/double_exponential.hpp"

namespace {

volatile double sink;

// Median nanoseconds per call of body(i) over `batches` batches of `calls`.
template <class Body>
double median_ns(Body&& body, int calls, int batches = 31) {
    std::vector<double> per_call;
    for (int b = 0; b < batches; ++b) {
        const auto start = std::chrono::steady_clock::now();
        double acc = 0.0;
        for (int i = 0; i < calls; ++i) acc += body(i);
        const auto stop = std::chrono::steady_clock::now();
        sink = acc;
        per_call.push_back(std::chrono::duration<double, std::nano>(stop - start).count() / calls);
    }
    std::nth_element(per_call.begin(), per_call.begin() + batches / 2, per_call.end());
    return per_call[batches / 2];
}

}  // namespace

int main() {
    namespace de = quadrature::double_exponential;

    // x^2 with target 1e-16 runs all 385 evaluations, as the models' integrals do.
    const double quad_full = median_ns([](int i) {
        const double s = 1.0 + i * 1e-9;
        return de::integrate([s](double x) { return s * x * x; }, 0.0, 1.0, 1e-16).value;
    }, 2000);
    const double quad_early = median_ns([](int i) {
        const double s = 1.0 + i * 1e-9;
        return de::integrate([s](double x) { return std::exp(s * x); }, 0.0, 1.0, 1e-10).value;
    }, 2000);

    std::vector<double> xs(100), ys(100);
    for (int k = 0; k < 100; ++k) {
        xs[k] = k / 99.0;
        ys[k] = std::sqrt(1.0 - xs[k] * xs[k]);
    }
    const auto zero = interp::OutOfRangePolicy::ConstantValue(0.0);
    const double interp_ns = median_ns([&](int i) {
        return interp::interp(xs, ys, (i % 1000) * 1.0e-3, zero);
    }, 100000);

    const double deriv_ns = median_ns([](int i) {
        return numdiff::central_difference::sderivative([](double x) { return std::sin(x); }, i * 1e-6);
    }, 100000);

    std::printf("integrate x^2, 385 evaluations   %9.1f ns/call\n", quad_full);
    std::printf("integrate exp, 49 evaluations    %9.1f ns/call\n", quad_early);
    std::printf("interp, 100-entry table          %9.1f ns/call\n", interp_ns);
    std::printf("sderivative of sin               %9.1f ns/call\n", deriv_ns);
    return 0;
}
