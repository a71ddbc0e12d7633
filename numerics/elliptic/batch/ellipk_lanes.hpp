// K(m) for the lanes of m, each lane exactly what legendre::ellipk(m) returns.
// Lanes with 0 < m < 1 and 1 − m ≥ ε take the polynomial form in lanes (one
// log per lane through the mathematics library); every other lane (m ≤ 0,
// m ≥ 1, NaN, the last double below 1) is handed to the scalar routine.
#pragma once

#include <cmath>

#include "numerics/elliptic/batch/horner_lanes.hpp"
#include "numerics/elliptic/ellip_result.hpp"
#include "numerics/elliptic/legendre.hpp"
#include "numerics/elliptic/legendre_tables.hpp"
#include "numerics/simd/lanes.hpp"

namespace ellip::legendre::batch {

template <class V>
inline void ellipk_lanes(V m, EllipResult* out) noexcept {
    constexpr int N = simd::lanes<V>;
    constexpr double EPSILON = 2.220446049250313e-16;  // 2^-52
    const V x = 1.0 - m;
    const simd::Mask<V> fast = (m > 0.0) & (m < 1.0) & (x >= EPSILON);
    // Lanes on the scalar path carry a harmless argument through the
    // polynomials, which would otherwise overflow or form ∞ − ∞ for them.
    const V x_fast = simd::select(fast, x, simd::broadcast<V>(0.5));
    V log_x = x_fast;
    for (int i = 0; i < N; ++i) {
        if (fast[i]) {
            log_x[i] = std::log(x[i]);
        } else {
            out[i] = legendre::ellipk(m[i]);
        }
    }
    if (!simd::any(fast)) return;
    const V k = horner_lanes(detail::K_TABLE_P, x_fast) - log_x * horner_lanes(detail::K_TABLE_Q, x_fast);
    for (int i = 0; i < N; ++i) {
        if (fast[i]) out[i] = k[i];
    }
}

}  // namespace ellip::legendre::batch
