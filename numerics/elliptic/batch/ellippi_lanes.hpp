// Π(n, m) for the lanes of (n, m), each lane exactly what legendre::ellippi
// returns. Lanes with 0 < n < 1 and m < 1 for which the Carlson routines go
// straight to their main paths (1 − m finite and ≠ 1, 1 − n ≠ 1) evaluate
//   Π = R_F(0, 1 − m, 1) + (n/3)·R_J(0, 1 − m, 1, 1 − n)
// in lanes: R_F by its arithmetic-geometric mean, R_J by its duplication.
// Every other lane (n ≤ 0, n or m at or beyond 1, NaN, infinities, and the
// degenerate arguments) is handed to the scalar routine.
#pragma once

#include <limits>

#include "numerics/elliptic/batch/elliprf_lanes.hpp"
#include "numerics/elliptic/batch/elliprj_lanes.hpp"
#include "numerics/elliptic/ellip_result.hpp"
#include "numerics/elliptic/legendre.hpp"
#include "numerics/simd/lanes.hpp"

namespace ellip::legendre::batch {

template <class V>
inline void ellippi_lanes(V n, V m, EllipResult* out) noexcept {
    constexpr int N = simd::lanes<V>;
    constexpr double INF = std::numeric_limits<double>::infinity();
    const V y = 1.0 - m;
    const V p = 1.0 - n;
    const simd::Mask<V> fast =
        (m < 1.0) & (y < INF) & (y != 1.0) & (n > 0.0) & (n < 1.0) & (p != 1.0);
    if (!simd::any(fast)) {
        for (int i = 0; i < N; ++i) out[i] = legendre::ellippi(n[i], m[i]);
        return;
    }
    // Lanes on the scalar path carry a harmless argument through the lanes.
    const V harmless = simd::broadcast<V>(0.5);
    const V n_fast = simd::select(fast, n, harmless);
    const V y_fast = simd::select(fast, y, harmless);
    const V p_fast = simd::select(fast, p, harmless);

    // elliprf(0, y, 1) moves the zero into z: R_F(1, y, 0).
    const V RF = carlson::batch::elliprf_agm_lanes(simd::broadcast<V>(1.0), y_fast);
    const char* RJ_error[N];
    const V RJ = carlson::batch::elliprj_duplication_lanes(
        simd::broadcast<V>(0.0), y_fast, simd::broadcast<V>(1.0), p_fast, RJ_error);
    const V value = RF + (n_fast * RJ) / 3.0;
    for (int i = 0; i < N; ++i) {
        if (!fast[i]) {
            out[i] = legendre::ellippi(n[i], m[i]);
        } else if (RJ_error[i]) {
            out[i] = Failure{RJ_error[i]};
        } else {
            out[i] = value[i];
        }
    }
}

}  // namespace ellip::legendre::batch
