// Magnification of a uniform source disk of radius R by a point lens at
// distance u from its centre (both in Einstein radii):
//
//   A = [ s q/(2R^2) E(m) - d (8 + d s)/(2R^2 q) K(m)
//         + 2 d^2 (1 + R^2)/(R^2 s q) Pi(n, m) ] / pi,
//
// d = u - R, s = u + R, q = sqrt(4 + d^2), n = 4uR/s^2, m = 16uR/(s^2 q^2)
// (8 + u^2 - R^2 written as 8 + d s). The parameters enter only through their
// complements, 1 - n = d^2/s^2 and 1 - m = d^2 (s^2 + 4)/(s^2 q^2), which are
// products, never differences: no limb band, and no failure next to the limb
// however large the disk. K, E and Pi come from Bulirsch's cel(kc, p, a, b),
// whose iteration depends on kc = sqrt(1 - m) alone, so the three share it.
// At u = R the limit is [2/R + ((1 + R^2)/R^2)(pi/2 + asin((R^2 - 1)/(R^2 + 1)))]/pi,
// that is [2/R + 2 (1 + R^2) atan(R)/R^2]/pi, the form without cancellation.
// About 1e-15 relative for u <= 2R; for u >> R the three terms cancel and the
// absolute error is about 1e-16 (u/R)^2 A.
//
// Derivatives, from the same integrals:
//   dA/du = 8 (K - 2D) / (pi R s q),  D = (K - E)/m,
//   dA/dR = 2 (A_ring - A) / R,  A_ring = 2 (2K + d^2 Pi) / (pi s q),
// A_ring the mean of the point-source magnification over the disk's rim.
// K - 2D = cel(kc, 1, 1, -1) vanishes like u^2 as the lens nears the centre;
// its first step is taken from 1 - kc = m/(1 + kc), so it keeps its digits.
// Both derivatives diverge logarithmically at u = R: -inf and +inf there.
#pragma once

#include <cmath>
#include <limits>

#include "numerics/lensing/lane_math.hpp"
#include "numerics/pi.hpp"

namespace lensing {

template <class V>
struct CompleteIntegrals {
    V K;
    V E;
    V Pi;
    V C;  // K - 2D, with derivatives only
};

// K(m), E(m) and Pi(n, m) from kc = sqrt(1 - m) > 0 and p = 1 - n > 0, and
// with derivatives K - 2D given m. Lanes iterate together until every lane
// has converged; a converged lane's further steps only refine it.
template <class V, bool with_derivatives = false>
inline CompleteIntegrals<V> complete_integrals(V kc, V p, V m = V{}) noexcept {
    using namespace lane_math;
    // Quadratic convergence: a relative change below this leaves < 1e-16.
    constexpr double tolerance = 1e-8;
    const V one = splat<V>(1.0);
    V qc = kc;
    V e = kc;
    V em = one;
    V p1 = one;  // K and E: p = 1
    V aK = one, bK = one;
    V aE = one, bE = kc * kc;
    V p3 = sqrt(p);  // Pi
    V aP = one, bP = one / p3;
    V aC = one, bC = -one;  // cel(kc, 1, 1, -1)
    for (int step = 0; step < 64; ++step) {
        const V inv1 = one / p1;
        const V inv3 = one / p3;
        const V g1 = e * inv1;
        const V g3 = e * inv3;
        V f = aK;
        aK = aK + bK * inv1;
        bK = (bK + f * g1) * 2.0;
        f = aE;
        aE = aE + bE * inv1;
        bE = (bE + f * g1) * 2.0;
        f = aP;
        aP = aP + bP * inv3;
        bP = (bP + f * g3) * 2.0;
        if constexpr (with_derivatives) {
            f = aC;
            aC = aC + bC * inv1;
            // The first step would form kc - 1; take it from m instead.
            bC = step == 0 ? m / (kc + 1.0) * -2.0 : (bC + f * g1) * 2.0;
        }
        p1 = g1 + p1;
        p3 = g3 + p3;
        const V g = em;
        em = em + qc;
        if (!any(fabs(g - qc) > g * tolerance)) break;
        qc = sqrt(e) * 2.0;
        e = qc * em;
    }
    const V scale1 = numerics::HALF_PI / (em * (em + p1));
    CompleteIntegrals<V> out{(bK + aK * em) * scale1, (bE + aE * em) * scale1,
                             (bP + aP * em) * (numerics::HALF_PI / (em * (em + p3))), V{}};
    if constexpr (with_derivatives) out.C = (bC + aC * em) * scale1;
    return out;
}

// The disk magnification with the lens on its edge, u = R.
inline double uniform_disk_at_edge(double R) noexcept {
    const double R2 = R * R;
    return (2.0 / R + ((1.0 + R2) / R2) * (2.0 * std::atan(R))) / numerics::PI;
}

template <class V>
struct DiskWithDerivatives {
    V A;
    V dA_du;
    V dA_dR;
};

// A and, when asked, its derivatives, for u >= 0 and R > 0, lane by lane,
// given d = u - R: a caller that knows it to more digits than the subtraction
// gives (next to the limb) passes it in.
template <class V, bool with_derivatives>
inline DiskWithDerivatives<V> uniform_disk_and_derivatives(V u, V R, V d) noexcept {
    using namespace lane_math;
    const V s = u + R;
    const V d2 = d * d;
    const V s2 = s * s;
    const V R2 = R * R;
    const V q = sqrt(d2 + 4.0);
    V kc = sqrt(d2 * (s2 + 4.0)) / (s * q);
    V p = d2 / s2;
    // On the edge (d^2 = 0, or so small that it underflows) the general form is
    // 0 * infinity: such lanes get harmless arguments and the limit.
    const auto edge = kc == 0.0;
    kc = select(edge, splat<V>(1.0), kc);
    p = select(edge, splat<V>(1.0), p);
    const V m = u * R * 16.0 / (s2 * (d2 + 4.0));
    const CompleteIntegrals<V> I = complete_integrals<V, with_derivatives>(kc, p, m);
    const V alpha = s * q / (R2 * 2.0);
    const V beta = -d * (d * s + 8.0) / (R2 * q * 2.0);
    const V gamma = d2 * (R2 + 1.0) * 2.0 / (R2 * s * q);
    DiskWithDerivatives<V> out{(alpha * I.E + beta * I.K + gamma * I.Pi) * (1.0 / numerics::PI), V{}, V{}};
    if constexpr (with_derivatives) {
        const V ring = (I.K * 2.0 + d2 * I.Pi) * 2.0 / (s * q * numerics::PI);
        out.dA_du = I.C * 8.0 / (R * s * q * numerics::PI);
        out.dA_dR = (ring - out.A) * 2.0 / R;
    }
    if (any(edge)) {
        constexpr double inf = std::numeric_limits<double>::infinity();
        if constexpr (std::is_same_v<V, double>) {
            out = {uniform_disk_at_edge(R), -inf, inf};
        } else {
            for (int i = 0; i < simd::lanes<V>; ++i) {
                if (!edge[i]) continue;
                out.A[i] = uniform_disk_at_edge(R[i]);
                if constexpr (with_derivatives) {
                    out.dA_du[i] = -inf;
                    out.dA_dR[i] = inf;
                }
            }
        }
    }
    return out;
}

template <class V>
inline V uniform_disk(V u, V R) noexcept {
    return uniform_disk_and_derivatives<V, false>(u, R, u - R).A;
}

}  // namespace lensing
