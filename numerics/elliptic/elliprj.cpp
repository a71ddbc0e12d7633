// R_J(x, y, z, p) = (3/2)·∫₀^∞ dt / (√((t + x)(t + y)(t + z))·(t + p)), the
// Cauchy principal value for p < 0 (reduced to p > 0, DLMF §19.20(iii)).
// Degenerate cases reduce to R_C and R_D; otherwise Carlson's duplication
// (Carlson 1995, DLMF 19.36.2) with the R_C terms written as R_C(1, 1 + E).
// A few ulps for p > 0; the principal value loses more near cancellation.
#include <cmath>
#include <utility>

#include "numerics/elliptic/carlson.hpp"
#include "numerics/elliptic/carlson_detail.hpp"

namespace ellip::carlson {

using detail::nan_ignoring_max;
using detail::nan_ignoring_min;
using detail::RJ_MAX_STEPS;
using detail::RJ_TOLERANCE_FACTOR;

namespace {

// Above this ratio of y and p the closed forms for y = z lose little to
// cancellation; closer together, the duplication is used.
constexpr double RJ_DEGENERATE_RATIO = 1.2;

}  // namespace

EllipResult elliprc1p(double E) noexcept {
    // 1 + E < 0: principal value, R_C(1, 1 + E) = √(−1/E)·R_C(−E, −1 − E).
    if (E < -1) {
        const EllipResult rc = elliprc(-E, -1 - E);
        if (!rc.ok()) return rc;
        return std::sqrt(-1 / E) * rc.value;
    }
    if (E == 0) return 1;
    if (E > 0) return std::atan(std::sqrt(E)) / std::sqrt(E);
    if (E > -0.5) {
        const double a = std::sqrt(-E);
        return (std::log1p(a) - std::log1p(-a)) / (a + a);
    }
    return std::log((1 + std::sqrt(-E)) / std::sqrt(1 + E)) / std::sqrt(-E);
}

EllipResult elliprj(double x, double y, double z, double p) noexcept {
    if (nan_ignoring_min(x, y, z) < 0 || nan_ignoring_min(x + y, y + z, z + x) == 0) {
        return Failure{
            "elliprj: x, y, and z must be non-negative, and at most one can be zero."};
    }
    if (p == 0) return Failure{"elliprj: p must be non-zero"};

    if (x == y) {
        if (x == z) {
            if (x == p) return 1 / (std::sqrt(x) * x);
            // R_J(x, x, x, p) = 3·(R_C(x, p) − 1/√x)/(x − p). For positive p
            // close to x the difference cancels; those go on (y = z) to the
            // duplication, as in the y = z case below.
            if (!(p > 0 && nan_ignoring_max(x, p) / nan_ignoring_min(x, p) <=
                               RJ_DEGENERATE_RATIO)) {
                const EllipResult rc = elliprc(x, p);
                if (!rc.ok()) return rc;
                return (rc.value - 1 / std::sqrt(x)) * (3 / (x - p));
            }
        } else {
            std::swap(x, z);  // now y = z
        }
    }
    if (y == z) {
        if (y == p) return elliprd(x, y, y);
        // R_J(x, y, y, p) = 3·(R_C(x, y) − R_C(x, p))/(p − y).
        if (nan_ignoring_max(y, p) / nan_ignoring_min(y, p) > RJ_DEGENERATE_RATIO) {
            const EllipResult rc_y = elliprc(x, y);
            if (!rc_y.ok()) return rc_y;
            const EllipResult rc_p = elliprc(x, p);
            if (!rc_p.ok()) return rc_p;
            return (rc_y.value - rc_p.value) * (3 / (p - y));
        }
    }
    if (z == p) return elliprd(x, y, z);

    // Principal value: with x ≤ y ≤ z and q = −p, R_J(x, y, z, p) follows from
    // R_J(x, y, z, p′), p′ > 0, together with R_F and R_C.
    if (p < 0) {
        if (y < x) std::swap(x, y);
        if (z < y) std::swap(y, z);
        if (y < x) std::swap(x, y);
        const double q = -p;
        const double p1 = (z * ((x + y) - p) - x * y) / (z - p);
        const EllipResult J = elliprj(x, y, z, p1);
        if (!J.ok()) return J;
        const EllipResult F = elliprf(x, y, z);
        if (!F.ok()) return F;
        const EllipResult C = elliprc(x * y + q * p1, q * p1);
        if (!C.ok()) return C;
        return (((p1 - z) * J.value - 3 * F.value) +
                                (std::sqrt((x * y * z) / (x * y + q * p1)) * 3) * C.value) /
                               (z - p);
    }

    return _elliprj(x, y, z, p);
}

EllipResult _elliprj(double x, double y, double z, double p) noexcept {
    const double A0 = ((p + p) + ((x + y) + z)) / 5;
    double delta = (p - z) * ((p - y) * (p - x));
    const double Q =
        RJ_TOLERANCE_FACTOR * nan_ignoring_max(std::fabs(A0 - x), std::fabs(A0 - y),
                                               std::fabs(A0 - z), std::fabs(A0 - p));
    double xn = x, yn = y, zn = z, pn = p, A = A0, f = 1, s = 0;
    bool converged = false;
    for (int step = 0; step < RJ_MAX_STEPS; ++step) {
        const double rx = std::sqrt(xn), ry = std::sqrt(yn), rz = std::sqrt(zn),
                     rp = std::sqrt(pn);
        const double D = (rz + rp) * ((rx + rp) * (ry + rp));
        const double E = delta / (D * D);

        // The term is R_C(1, 1 + E)/D. Near E = −1, 1 + E cancels; b is the
        // same quantity formed without the subtraction.
        EllipResult R;
        if (-1.5 < E && E < -0.5) {
            const double b = (((pn + (ry + rz) * rx) + ry * rz) * (rp + rp)) / D;
            R = elliprc(1, b);
        } else {
            R = elliprc1p(E);
        }
        if (!R.ok()) return R;
        s = s + (f / D) * R.value;

        const double lambda = (rx * rz + rx * ry) + ry * rz;
        A = (A + lambda) * 0.25;
        f = f * 0.25;
        if (A > f * Q) {
            converged = true;
            break;
        }
        xn = (xn + lambda) * 0.25;
        yn = (yn + lambda) * 0.25;
        zn = (zn + lambda) * 0.25;
        pn = (pn + lambda) * 0.25;
        delta = delta * 0.015625;  // δ/64
    }
    if (!converged) return Failure{"elliprj: Fail to converge"};

    return detail::rj_finish(x, y, z, A0, A, f, std::pow(A, -1.5), s);
}

}  // namespace ellip::carlson
