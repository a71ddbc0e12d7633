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

    const V one = simd::broadcast<V>(1.0);
    V xn = x, yn = y, zn = z, pn = p, A = A0;
    V f = simd::broadcast<V>(1.0);
    V s = simd::broadcast<V>(0.0);
    simd::Mask<V> active = simd::broadcast<V>(0.0) == 0.0;  // every lane
    for (int i = 0; i < N; ++i) error[i] = nullptr;

    for (int step = 0; step < RJ_MAX_STEPS && simd::any(active); ++step) {
        const V rx = simd::sqrt(xn), ry = simd::sqrt(yn), rz = simd::sqrt(zn), rp = simd::sqrt(pn);
        const V D = (rz + rp) * ((rx + rp) * (ry + rp));
        const V E = delta / (D * D);

        // Lanes that take another R_C form, or none, carry 1 through the
        // square root and the quotient, which would be invalid for E ≤ 0.
        const simd::Mask<V> positive = active & (E > 0.0);
        const V root_E = simd::sqrt(simd::select(positive, E, one));
        V atan_root_E = root_E;
        V R_other = simd::broadcast<V>(0.0);
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
        // Only A, f and s of a stopped lane reach the result. Its arguments
        // become 1, 1, 1, 1 with δ = 0, which each further step maps to
        // themselves (λ = 3, E = 0): no operation the scalar loop does not
        // make raises a floating-point exception for it.
        const V lambda_on = simd::select(active, lambda, simd::broadcast<V>(3.0));
        xn = (simd::select(active, xn, one) + lambda_on) * 0.25;
        yn = (simd::select(active, yn, one) + lambda_on) * 0.25;
        zn = (simd::select(active, zn, one) + lambda_on) * 0.25;
        pn = (simd::select(active, pn, one) + lambda_on) * 0.25;
        delta = simd::select(active, delta, simd::broadcast<V>(0.0)) * 0.015625;  // δ/64
    }
    for (int i = 0; i < N; ++i) {
        if (active[i]) error[i] = "elliprj: Fail to converge";
    }

    // A failed lane finishes on harmless values (X = Y = Z = 0), unused.
    simd::Mask<V> ok = active;
    V A_pow = A;
    for (int i = 0; i < N; ++i) {
        ok[i] = error[i] ? 0 : -1;
        if (!error[i]) A_pow[i] = std::pow(A[i], -1.5);
    }
    const auto kept = [&ok, one](V v) { return simd::select(ok, v, one); };
    return detail::rj_finish(kept(x), kept(y), kept(z), kept(A0), kept(A), kept(f), kept(A_pow),
                             simd::select(ok, s, simd::broadcast<V>(0.0)));
}

}  // namespace ellip::carlson::batch
