// The few operations the lensing kernels need, written once for a plain
// double and for SIMD lanes (numerics/simd/lanes.hpp), so that one template
// serves the scalar path and every lane width.
#pragma once

#include <cmath>
#include <type_traits>

#include "numerics/simd/lanes.hpp"

namespace lensing::lane_math {

inline double sqrt(double x) noexcept { return std::sqrt(x); }
inline double fabs(double x) noexcept { return std::fabs(x); }
inline double select(bool mask, double a, double b) noexcept { return mask ? a : b; }
inline bool any(bool mask) noexcept { return mask; }

using simd::any;
using simd::fabs;
using simd::select;
using simd::sqrt;

template <class V>
inline V splat(double x) noexcept {
    if constexpr (std::is_same_v<V, double>) {
        return x;
    } else {
        return simd::broadcast<V>(x);
    }
}

}  // namespace lensing::lane_math
