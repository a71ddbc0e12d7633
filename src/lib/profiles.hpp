// Radial brightness profiles of the source disk and their normalisers: the
// fixed linear limb-darkening law of the integrated functions, and a profile
// interpolated from a caller's flux map.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

#include "lib/constants.hpp"
#include "numerics/pi.hpp"
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
// Borrows the two tables. How to find a radius's segment is chosen once here:
// the forward scan for a short table or one that is not ascending, otherwise a
// search from the place the radius would have among evenly spaced radii,
// O(log n) however they are spaced. Both find the same segment, so the value
// is the same either way.
class FluxMapProfile {
public:
    FluxMapProfile(std::span<const double> bl, std::span<const double> bf) noexcept
        : bl_(bl), bf_(bf) {
        const std::size_t n = std::min(bl.size(), bf.size());
        search_ = n > SCAN_LENGTH && interp::is_ascending(bl.first(n));
        if (search_) {
            radii_per_unit_ = static_cast<double>(n - 1) / (bl[n - 1] - bl[0]);
        }
    }

    double operator()(double x) const noexcept {
        constexpr auto zero_outside = interp::OutOfRangePolicy::ConstantValue(0.0);
        if (!search_) {
            return interp::interp(bl_, bf_, x, zero_outside);
        }
        // The number of radii below x if they were evenly spaced: only a hint.
        const double position = (x - bl_[0]) * radii_per_unit_;
        const auto hint = position >= 0 && position < static_cast<double>(bl_.size())
                              ? static_cast<std::size_t>(static_cast<std::ptrdiff_t>(position)) + 1
                              : 0;
        return interp::interp_ascending(bl_, bf_, x, zero_outside, hint);
    }

private:
    // Up to this length the scan costs no more than the search.
    static constexpr std::size_t SCAN_LENGTH = 16;

    std::span<const double> bl_;
    std::span<const double> bf_;
    bool search_ = false;
    double radii_per_unit_ = 0.0;
};

// N = integral over [0, 1] of (2 pi x) I(x): the flux of a profile over the unit disk.
template <class Profile>
double disk_flux(const Profile& profile) {
    const auto integrand = [&profile](double x) { return (numerics::TWO_PI * x) * profile(x); };
    return quadrature::double_exponential::integrate(integrand, 0.0, 1.0, RADIAL_TARGET_ERROR)
        .value;
}

}  // namespace corvanis::lib
