// R_F(x, y, z) = ½·∫₀^∞ dt / √((t + x)(t + y)(t + z)).
// Degenerate cases reduce to R_C; a zero argument uses the arithmetic-geometric
// mean; otherwise Carlson's duplication (Carlson 1995, DLMF 19.36.1) with a
// series through degree 7. A few ulps; arguments spanning more than about 250
// orders of magnitude exhaust the step limit and report non-convergence.
#include <cmath>
#include <utility>

#include "numerics/elliptic/carlson.hpp"
#include "numerics/elliptic/carlson_detail.hpp"
#include "numerics/pi.hpp"

namespace ellip::carlson {

using detail::AGM_TOLERANCE;
using detail::nan_ignoring_max;
using detail::nan_ignoring_min;
using numerics::PI;

namespace {

// (3ε)^(-1/8): the duplication stops once the spread of the arguments times
// this factor falls below their mean.
constexpr double RF_TOLERANCE_FACTOR = 78.8959690786408;
constexpr int RF_MAX_STEPS = 11;
constexpr double ONE_14TH = 0.07142857142857142;  // 1/14
constexpr double ONE_16TH = 0.0625;               // 1/16

}  // namespace

EllipResult elliprf(double x, double y, double z) noexcept {
    if (nan_ignoring_min(x, y, z) < 0 || nan_ignoring_min(x + y, y + z, z + x) == 0) {
        return Failure{
            "elliprf: x, y, and z must be non-negative, and at most one can be zero."};
    }

    // Two equal arguments: R_F(x, y, y) = R_C(x, y).
    if (x == y) {
        if (x == z) return 1 / std::sqrt(x);
        if (z == 0) return PI / (2 * std::sqrt(x));
        return elliprc(z, x);
    }
    if (x == z) {
        if (y == 0) return PI / (2 * std::sqrt(x));
        return elliprc(y, x);
    }
    if (y == z) {
        if (x == 0) return PI / (2 * std::sqrt(y));
        return elliprc(x, y);
    }

    if (x == 0) {
        std::swap(x, z);
    } else if (y == 0) {
        std::swap(y, z);
    }

    // R_F(x, y, 0) = π / (2·AGM(√x, √y)).
    if (z == 0) {
        double a = std::sqrt(x);
        double b = std::sqrt(y);
        while (std::fabs(a - b) >= AGM_TOLERANCE * std::fabs(a)) {
            const double t = std::sqrt(a * b);
            a = (a + b) * 0.5;
            b = t;
        }
        return PI / (a + b);
    }

    const double A0 = ((x + y) + z) / 3;
    double Q = RF_TOLERANCE_FACTOR * nan_ignoring_max(std::fabs(A0), std::fabs(A0 - x),
                                                      std::fabs(A0 - y), std::fabs(A0 - z));
    double xn = x, yn = y, zn = z, A = A0, f = 1;
    bool converged = false;
    for (int step = 0; step < RF_MAX_STEPS; ++step) {
        const double rx = std::sqrt(xn), ry = std::sqrt(yn), rz = std::sqrt(zn);
        const double lambda = (rx * ry + rx * rz) + ry * rz;
        A = (A + lambda) * 0.25;
        xn = (xn + lambda) * 0.25;
        yn = (yn + lambda) * 0.25;
        zn = (zn + lambda) * 0.25;
        Q = Q * 0.25;
        f = f * 4;
        if (std::fabs(A) > Q) {
            converged = true;
            break;
        }
    }
    if (!converged) return Failure{"elliprf: Failed to converge."};

    const double X = (A0 - x) / (f * A);
    const double Y = (A0 - y) / (f * A);
    const double Z = -X - Y;
    const double E2 = X * Y - Z * Z;
    const double E3 = X * Y * Z;
    return 
        ((E3 * (3 * E3 / 104 + ONE_14TH) + 1) +
         E2 * (E2 * E3 * ONE_16TH + (((E2 / 24 - 0.1) - 3 * E3 / 44) - 5 * E2 * E2 / 208))) /
        std::sqrt(A);
}

}  // namespace ellip::carlson
