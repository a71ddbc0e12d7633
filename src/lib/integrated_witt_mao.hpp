// Brightness-weighted radial integral of the uniform-source magnification.
// The magnification does not vary with the radius, so every result equals the
// uniform-source value up to the difference-quotient term near the centre
// (about 2e-11 relative) and the quadrature's error. A non-finite uniform-source
// value (rstar = 0 gives NaN) leaves no finite node and gives NaN.
#pragma once

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "lib/constants.hpp"
#include "lib/models.hpp"
#include "numerics/pi.hpp"
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
        bool any_finite = false;
        const auto phi = [&](double x) {
            const double D = numdiff::central_difference::sderivative(M, x);
            const double value = ((numerics::TWO_PI * x) * ((0.5 * x) * D + M(x))) * profile(x);
            any_finite = any_finite || std::isfinite(value);
            return value;
        };
        const double q =
            quadrature::double_exponential::integrate(phi, 0.0, 1.0, RADIAL_TARGET_ERROR).value;
        // Without a single finite node there is no integral, not a zero one.
        result.push_back(any_finite ? q / norm : std::numeric_limits<double>::quiet_NaN());
    }
    return result;
}

}  // namespace corvanis::lib
