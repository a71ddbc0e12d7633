// Brightness-weighted radial integral of the uniform-source magnification.
// The magnification does not vary with the radius, so every result equals the
// uniform-source value up to the difference-quotient term near the centre
// (about 2e-11 relative) and the quadrature's error. A non-finite uniform-source
// value (rstar = 0 gives NaN) leaves no finite node and gives NaN.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "lib/constants.hpp"
#include "lib/models.hpp"
#include "numerics/derivative/constants.hpp"
#include "numerics/pi.hpp"
#include "numerics/quadrature/double_exponential_batched.hpp"
#include "numerics/simd/lanes.hpp"

namespace corvanis::lib {

template <class Profile>
Magnifications _integrated_witt_mao_magnification(Doubles l, double re, double rstar, double norm,
                                                  const Profile& profile) {
    using V = simd::f64x2;
    using quadrature::double_exponential::DE_MOST_EVALUATIONS;
    Magnifications uniform = witt_mao_magnification(l, re, rstar);
    if (!uniform.ok()) return uniform;

    std::vector<double> result;
    result.reserve(uniform.value.size());
    if (uniform.value.empty()) return result;

    // Every separation is integrated on the same nodes: the profile is
    // evaluated there once. These and the quadrature's buffers, about 9 KB,
    // are on the heap, not on the stack of the calling thread.
    struct Workspace {
        std::array<double, DE_MOST_EVALUATIONS> nodes;
        std::array<double, DE_MOST_EVALUATIONS> brightness;
        quadrature::double_exponential::LevelBuffers level;
    };
    const std::unique_ptr<Workspace> workspace(
        new Workspace{quadrature::double_exponential::de_abscissae(0.0, 1.0), {}, {}});
    const auto& nodes = workspace->nodes;
    auto& brightness = workspace->brightness;
    for (std::size_t i = 0; i < nodes.size(); ++i) brightness[i] = profile(nodes[i]);
    const double cbrt_eps = numdiff::constants::CBRT_EPS();

    for (const double a : uniform.value) {
        // Magnification of radius y: constant on the disk, 0 below its centre.
        const auto M = [a](V y) {
            return simd::select(y < 0.0, simd::broadcast<V>(0.0), simd::broadcast<V>(a));
        };
        bool any_finite = false;
        // The integrand at a quadrature level's abscissae, in lanes: the
        // central difference of numdiff::central_difference::sderivative
        // (default step) written out, then the product in the scalar order.
        const auto phi = [&](std::span<const double> xs, std::span<double> ys, std::size_t first) {
            constexpr std::size_t N = simd::lanes<V>;
            for (std::size_t i = 0; i < xs.size(); i += N) {
                V x, I;
                for (std::size_t j = 0; j < N; ++j) {
                    const std::size_t k = std::min(i + j, xs.size() - 1);
                    x[j] = xs[k];
                    I[j] = brightness[first + k];
                }
                const V h = (simd::fabs(x) + 1.0) * cbrt_eps;
                const V f_plus = M(h + x);
                const V f_minus = M(x - h);
                const V D = (f_plus - f_minus) / (h + h);
                const V y = ((numerics::TWO_PI * x) * ((0.5 * x) * D + M(x))) * I;
                for (std::size_t j = 0; j < N && i + j < xs.size(); ++j) {
                    ys[i + j] = y[j];
                    any_finite = any_finite || std::isfinite(y[j]);
                }
            }
        };
        const double q = quadrature::double_exponential::integrate_batched(
                             phi, 0.0, 1.0, RADIAL_TARGET_ERROR, workspace->level)
                             .value;
        // Without a single finite node there is no integral, not a zero one.
        result.push_back(any_finite ? q / norm : std::numeric_limits<double>::quiet_NaN());
    }
    return result;
}

}  // namespace corvanis::lib
