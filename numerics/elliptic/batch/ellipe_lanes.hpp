// E(m) for the lanes of m, each lane exactly what legendre::ellipe(m) returns.
// Lanes with 0 < m < 1 take the polynomial form in lanes (one log per lane
// through the mathematics library); every other lane goes to the scalar routine.
#pragma once

#include <cmath>

#include "numerics/elliptic/batch/horner_lanes.hpp"
#include "numerics/elliptic/ellip_result.hpp"
#include "numerics/elliptic/legendre.hpp"
#include "numerics/elliptic/legendre_tables.hpp"
#include "numerics/simd/lanes.hpp"

namespace ellip::legendre::batch {

template <class V>
inline void ellipe_lanes(V m, EllipResult* out) noexcept {
    constexpr int N = simd::lanes<V>;
    const V x = 1.0 - m;
    const simd::Mask<V> fast = (m > 0.0) & (m < 1.0);
    // Lanes on the scalar path carry a harmless argument through the
    // polynomials, which would otherwise overflow or form ∞ − ∞ for them.
    const V x_fast = simd::select(fast, x, simd::broadcast<V>(0.5));
    V log_x = x_fast;
    for (int i = 0; i < N; ++i) {
        if (fast[i]) {
            log_x[i] = std::log(x[i]);
        } else {
            out[i] = legendre::ellipe(m[i]);
        }
    }
    if (!simd::any(fast)) return;
    const V e = horner_lanes(detail::E_TABLE_P, x_fast) -
                (x_fast * horner_lanes(detail::E_TABLE_Q, x_fast)) * log_x;
    for (int i = 0; i < N; ++i) {
        if (fast[i]) out[i] = e[i];
    }
}

}  // namespace ellip::legendre::batch
