// Brightness-weighted radial integral of the uniform-source magnification.
// The magnification does not vary with the radius, so every result equals the
// uniform-source value up to the difference-quotient term near the centre
// (about 2e-11 relative) and the quadrature's error.
#pragma once

#include <cmath>
#include <utility>
#include <vector>

#include "lib/constants.hpp"
#include "lib/models.hpp"
#include "numerics/derivative/central_difference.hpp"
#include "numerics/quadrature/double_exponential.hpp"

namespace corvanis::lib {

template <class Profile>
Magnifications _integrated_witt_mao_magnification(std::vector<double> l, double re, double rstar,
                                                  double norm, const Profile& profile) {
    Magnifications uniform = witt_mao_magnification(std::move(l), re, rstar);
    if (!uniform.ok()) return uniform;

    std::vector<double> result;
    result.reserve(uniform.value.size());
    for (const double a : uniform.value) {
        // Magnification of radius y: constant on the disk, 0 below its centre.
        const auto M = [a](double y) { return y < 0 ? 0.0 : a; };
        const auto phi = [&](double x) {
            const double D = numdiff::central_difference::sderivative(M, x);
            return ((TWO_PI * x) * ((0.5 * x) * D + M(x))) * profile(x);
        };
        const double q =
            quadrature::double_exponential::integrate(phi, 0.0, 1.0, RADIAL_TARGET_ERROR).value;
        result.push_back(q / norm);
    }
    return {std::move(result), nullptr};
}

}  // namespace corvanis::lib
