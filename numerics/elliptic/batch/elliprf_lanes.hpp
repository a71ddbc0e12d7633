// R_F(x, y, 0) = π / (2·AGM(√x, √y)) in lanes: the arithmetic-geometric mean
// that carlson::elliprf runs once its checks have moved the zero argument into
// z. Each lane iterates until its own stopping test holds, exactly where the
// scalar loop stops; finished lanes keep their values while the others go on.
#pragma once

#include "numerics/elliptic/carlson_detail.hpp"
#include "numerics/pi.hpp"
#include "numerics/simd/lanes.hpp"

namespace ellip::carlson::batch {

template <class V>
inline V elliprf_agm_lanes(V x, V y) noexcept {
    using detail::AGM_TOLERANCE;
    V a = simd::sqrt(x);
    V b = simd::sqrt(y);
    simd::Mask<V> active = simd::fabs(a - b) >= AGM_TOLERANCE * simd::fabs(a);
    while (simd::any(active)) {
        const V t = simd::sqrt(a * b);
        a = simd::select(active, (a + b) * 0.5, a);
        b = simd::select(active, t, b);
        active = active & (simd::fabs(a - b) >= AGM_TOLERANCE * simd::fabs(a));
    }
    return numerics::PI / (a + b);
}

}  // namespace ellip::carlson::batch
