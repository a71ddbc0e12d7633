// The duplication core of R_J(x, y, z, p), p > 0, in lanes: each lane is
// exactly what carlson::_elliprj returns for its arguments.
//
// The square roots, products and quotients of a step run in lanes. A lane
// leaves the loop at the step where its own stopping test holds, or when the
// R_C term of a step fails; it then keeps its values while the others go on.
// The R_C term R_C(1, 1 + E) is atan(√E)/√E for E > 0, with the arc tangent
// taken lane by lane from the mathematics library; every other E (and the
// band −1.5 < E < −0.5, where the scalar code forms R_C(1, b) instead) is
// handed to the scalar R_C routines, lane by lane.
#pragma once

#include <cmath>

#include "numerics/elliptic/carlson.hpp"
#include "numerics/elliptic/carlson_detail.hpp"
#include "numerics/simd/lanes.hpp"

namespace ellip::carlson::batch {

// Values in lanes; error[i] is null for a lane that succeeded, else the
// message _elliprj returns for it (the lane's value is then meaningless).
template <class V>
inline V elliprj_duplication_lanes(V x, V y, V z, V p, const char** error) noexcept {
    constexpr int N = simd::lanes<V>;
    using detail::RJ_MAX_STEPS;
    using detail::RJ_TOLERANCE_FACTOR;

    const V A0 = ((p + p) + ((x + y) + z)) / 5.0;
    V delta = (p - z) * ((p - y) * (p - x));
    // nan_ignoring_max, lane by lane: b if a is NaN, else b where b > a, else a.
    const auto max_ignoring_nan = [](V a, V b) {
        const simd::Mask<V> take_b = (b > a) | (a != a);
        return simd::select(take_b, b, a);
    };
    const V Q = RJ_TOLERANCE_FACTOR *
                max_ignoring_nan(max_ignoring_nan(max_ignoring_nan(simd::fabs(A0 - x),
                                                                   simd::fabs(A0 - y)),
                                                  simd::fabs(A0 - z)),
                                 simd::fabs(A0 - p));

    V xn = x, yn = y, zn = z, pn = p, A = A0;
    V f = simd::broadcast<V>(1.0);
    V s = simd::broadcast<V>(0.0);
    simd::Mask<V> active = simd::broadcast<V>(0.0) == 0.0;  // every lane
    for (int i = 0; i < N; ++i) error[i] = nullptr;

    for (int step = 0; step < RJ_MAX_STEPS && simd::any(active); ++step) {
        const V rx = simd::sqrt(xn), ry = simd::sqrt(yn), rz = simd::sqrt(zn), rp = simd::sqrt(pn);
        const V D = (rz + rp) * ((rx + rp) * (ry + rp));
        const V E = delta / (D * D);

        const simd::Mask<V> positive = active & (E > 0.0);
        const V root_E = simd::sqrt(E);
        V atan_root_E = root_E;
        V R_other = E;
        for (int i = 0; i < N; ++i) {
            if (!active[i]) continue;
            if (positive[i]) {
                atan_root_E[i] = std::atan(root_E[i]);
                continue;
            }
            EllipResult R;
            if (-1.5 < E[i] && E[i] < -0.5) {
                const double b =
                    (((pn[i] + (ry[i] + rz[i]) * rx[i]) + ry[i] * rz[i]) * (rp[i] + rp[i])) / D[i];
                R = elliprc(1, b);
            } else {
                R = elliprc1p(E[i]);
            }
            if (!R.ok()) {
                error[i] = R.error;
                active[i] = 0;
            } else {
                R_other[i] = R.value;
            }
        }
        const V R = simd::select(positive, atan_root_E / root_E, R_other);
        s = simd::select(active, s + (f / D) * R, s);

        const V lambda = (rx * rz + rx * ry) + ry * rz;
        A = simd::select(active, (A + lambda) * 0.25, A);
        f = simd::select(active, f * 0.25, f);
        active = active & ~(A > f * Q);
        // A stopped lane's arguments go on changing, unused: only A, f and s
        // reach the result.
        xn = (xn + lambda) * 0.25;
        yn = (yn + lambda) * 0.25;
        zn = (zn + lambda) * 0.25;
        pn = (pn + lambda) * 0.25;
        delta = delta * 0.015625;  // δ/64
    }
    for (int i = 0; i < N; ++i) {
        if (active[i]) error[i] = "elliprj: Fail to converge";
    }

    V A_pow = A;
    for (int i = 0; i < N; ++i) {
        if (!error[i]) A_pow[i] = std::pow(A[i], -1.5);
    }
    return detail::rj_finish(x, y, z, A0, A, f, A_pow, s);
}

}  // namespace ellip::carlson::batch
