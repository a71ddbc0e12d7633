// Magnification of a limb-darkened source disk as the brightness-weighted mean
// of ring magnifications: for each separation l,
//     A(l) = (1/N) * integral over r in [0, 1] of (2 pi r) A_ring(l, r) I(r) dr.
// With the lens inside the disk the ring through the lens is a logarithmic
// singularity of the integrand; splitting the integral there puts it at an end
// point, where the double-exponential rule converges. Elliptic-integral errors
// make single integrand values NaN, which the quadrature counts as 0; a
// separation none of whose nodes is finite gives NaN.
#pragma once

#include <cmath>
#include <limits>
#include <vector>

#include "lib/constants.hpp"
#include "lib/models.hpp"
#include "lib/ring.hpp"
#include "numerics/pi.hpp"
#include "numerics/quadrature/double_exponential.hpp"

namespace corvanis::lib {

template <class Profile>
std::vector<double> _integrated_heyrovsky_magnification(std::vector<double> l, double re,
                                                        double rstar, double norm,
                                                        const Profile& profile) {
    using quadrature::double_exponential::integrate;

    std::vector<double> result;
    result.reserve(l.size());
    for (const double li : l) {
        bool any_finite = false;
        const auto w = [&](double r) {
            const auto ring = heyrovsky_magnification(li, r, re, rstar);
            const double a = ring.ok() ? ring.value : std::numeric_limits<double>::quiet_NaN();
            const double value = ((numerics::TWO_PI * r) * a) * profile(r);
            any_finite = any_finite || std::isfinite(value);
            return value;
        };
        double q;
        if (0 < li && li < 1) {
            q = integrate(w, 0.0, li, RADIAL_TARGET_ERROR).value;
            q = q + integrate(w, li, 1.0, RADIAL_TARGET_ERROR).value;
        } else {
            q = integrate(w, 0.0, 1.0, RADIAL_TARGET_ERROR).value;
        }
        // Without a single finite node there is no integral, not a zero one.
        result.push_back(any_finite ? q / norm : std::numeric_limits<double>::quiet_NaN());
    }
    return result;
}

}  // namespace corvanis::lib
