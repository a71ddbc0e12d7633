// Point-source magnification A(u) = (u^2 + 2)/(u sqrt(u^2 + 4)), u > 0, in
// the form of w = u^2 used by the far-field series.
#pragma once

#include <cmath>

namespace lensing {

// A as a function of w = u^2 > 0. Beyond w = 1e100 it is 1 to double precision
// (A - 1 is about 2/w^2), and w (w + 4) would overflow.
inline double point_source_of_w(double w) noexcept {
    if (w > 1e100) return 1.0;
    return (w + 2.0) / std::sqrt(w * (w + 4.0));
}

inline double point_source(double u) noexcept { return point_source_of_w(u * u); }

}  // namespace lensing
