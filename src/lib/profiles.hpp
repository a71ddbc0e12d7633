// Radial brightness profiles of the source disk and their normalisers: the
// fixed linear limb-darkening law of the integrated functions, and a profile
// interpolated from a caller's flux map.
#pragma once

#include <cmath>
#include <span>

#include "lib/constants.hpp"
#include "numerics/interpolation/interp.hpp"
#include "numerics/quadrature/double_exponential.hpp"

namespace corvanis::lib {

// I(x) = 1 - 0.6 (1 - sqrt(1 - x^2)): linear limb darkening with coefficient 0.6.
struct LinearLimbDarkening {
    double operator()(double x) const noexcept { return (1 - std::sqrt(1 - x * x)) * (-0.6) + 1; }
};

// The flux of LinearLimbDarkening over the unit disk, used as written
// (0.8 pi would be 2.5132741228718345).
inline constexpr double LINEAR_LIMB_DARKENING_NORM = 2.5132741228717936;

// Linear interpolation in the flux map (bl, bf), 0 outside the sampled radii.
// Borrows the two tables.
class FluxMapProfile {
public:
    FluxMapProfile(std::span<const double> bl, std::span<const double> bf) noexcept
        : bl_(bl), bf_(bf) {}

    double operator()(double x) const noexcept {
        return interp::interp(bl_, bf_, x, interp::OutOfRangePolicy::ConstantValue(0.0));
    }

private:
    std::span<const double> bl_;
    std::span<const double> bf_;
};

// N = integral over [0, 1] of (2 pi x) I(x): the flux of a profile over the unit disk.
template <class Profile>
double disk_flux(const Profile& profile) {
    const auto integrand = [&profile](double x) { return (TWO_PI * x) * profile(x); };
    return quadrature::double_exponential::integrate(integrand, 0.0, 1.0, RADIAL_TARGET_ERROR)
        .value;
}

}  // namespace corvanis::lib
