// R_D(x, y, z) = (3/2)·∫₀^∞ dt / (√((t + x)(t + y))·(t + z)^(3/2)).
// Closed forms when y = z; x = 0 uses an arithmetic-geometric mean; otherwise
// Carlson's duplication (Carlson 1995, DLMF 19.36.2). A few ulps.
#include <cmath>
#include <utility>

#include "numerics/elliptic/carlson.hpp"
#include "numerics/elliptic/carlson_detail.hpp"
#include "numerics/pi.hpp"

namespace ellip::carlson {

using detail::AGM_TOLERANCE;
using detail::nan_ignoring_max;
using detail::nan_ignoring_min;
using detail::rd_rj_series;
using numerics::PI;
using numerics::THREE_PI;

namespace {

// (ε/4)^(-1/8), widened by RD_TOLERANCE_MARGIN.
constexpr double RD_TOLERANCE_FACTOR = 107.63474115247546;
constexpr double RD_TOLERANCE_MARGIN = 1.2;
constexpr int RD_MAX_STEPS = 50;

}  // namespace

EllipResult elliprd(double x, double y, double z) noexcept {
    if (nan_ignoring_min(x, y) < 0 || x + y == 0) {
        return Failure{
            "elliprd: x and y must be non-negative, and at most one can be zero."};
    }
    if (z <= 0) return Failure{"elliprd: z must be positive"};

    // R_D is symmetric in x and y: bring an argument equal to z into y.
    const bool x_equals_y = (x == y);
    if (x == z) std::swap(x, y);

    if (y == z) {
        if (x_equals_y) return 1 / (std::sqrt(x) * x);  // x = y = z
        if (x == 0) return THREE_PI / ((4 * y) * std::sqrt(y));
    }

    // x = 0: arithmetic-geometric mean of √y and √z, with the sum of the
    // squared differences weighted by powers of 2.
    if (x == 0) {
        const double a0 = std::sqrt(y);
        const double b0 = std::sqrt(z);
        double a = a0, b = b0, s = 0, w = 0.25;
        while (std::fabs(a - b) >= AGM_TOLERANCE * std::fabs(a)) {
            const double t = std::sqrt(a * b);
            a = (a + b) * 0.5;
            b = t;
            w = w + w;
            s = s + (w * (a - b)) * (a - b);
        }
        return (PI / (a + b)) *
                               ((3 * b0 + a0) / ((b0 + a0) * (4 * z)) - s / ((y - z) * z)) * 3;
    }

    const double A0 = ((x + y) + 3 * z) / 5;
    double Q = (RD_TOLERANCE_FACTOR * nan_ignoring_max(A0 - x, A0 - y, A0 - z)) *
               RD_TOLERANCE_MARGIN;
    double xn = x, yn = y, zn = z, A = A0, f = 1, s = 0;
    bool converged = false;
    for (int step = 0; step < RD_MAX_STEPS; ++step) {
        const double rx = std::sqrt(xn), ry = std::sqrt(yn), rz = std::sqrt(zn);
        const double lambda = (rx * ry + rx * rz) + ry * rz;
        s = s + f / (rz * (zn + lambda));
        A = (A + lambda) * 0.25;
        xn = (xn + lambda) * 0.25;
        yn = (yn + lambda) * 0.25;
        zn = (zn + lambda) * 0.25;
        Q = Q * 0.25;
        f = f * 0.25;
        if (A > Q) {
            converged = true;
            break;
        }
    }
    if (!converged) return Failure{"elliprd: Failed to converge."};

    const double X = ((A0 - x) * f) / A;
    const double Y = ((A0 - y) * f) / A;
    const double Z = (X + Y) / -3;
    const double E2 = X * Y - 6 * Z * Z;
    const double E3 = 3 * X * Y * Z - 8 * Z * Z * Z;
    const double E4 = 3 * (X * Y * Z - Z * Z * Z) * Z;
    const double E5 = X * Y * Z * Z * Z;
    return 3 * s + f * std::pow(A, -1.5) * rd_rj_series(E2, E3, E4, E5);
}

}  // namespace ellip::carlson
