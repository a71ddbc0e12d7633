// Magnification of a thin uniform ring on the source by a point lens: the mean
// of the point-source magnification over the ring, in closed form through K and
// Pi (Heyrovsky 2003, ApJ 594, 464), and its expansion to first order in the
// lens-ring distance where the closed form is singular.
#include <cmath>

#include "lib/constants.hpp"
#include "lib/models.hpp"
#include "lib/ring_forms.hpp"
#include "numerics/elliptic/legendre.hpp"

namespace corvanis::lib {

namespace {
// Below this ratio |d| / l the expansion's error, (d / l)^2, is smaller than
// the closed form's rounding error, 1e-16 (l + r)^2 / d^2; the two balance
// near |d| / l = (4e-16)^(1/4).
constexpr double NEAR_RING_RELATIVE = 1.4e-4;
}  // namespace

Outcome<double> ring_closed_form(double l, double r, double rho, double g, double d) {
    const double L = g * 4 + d * d;
    const double S = l + r;
    const double k = std::sqrt(l * r / L) * ((rho * 4) / S);
    const double m = k * k;

    const auto K = ellip::legendre::ellipk(m);
    if (K.is_error()) return Outcome<double>::failure(K.error);
    const double n = ((l * 4) * r) / (S * S);
    const auto P = ellip::legendre::ellippi(n, m);
    if (P.is_error()) return Outcome<double>::failure(P.error);

    return {((g + g) * K.value + (d * d) * P.value) * (4 / (S * std::sqrt(L))) / TWO_PI, nullptr};
}

double ring_near_form(double l, double rho, double g, double d) {
    const double q = (1 - d / (l + l)) * ((rho + rho) / l);
    const double Lambda = std::log(((8 * rho) * l) / (std::sqrt(l * l + g) * std::fabs(d)));
    const double T = std::atan(l / rho);
    const double c = (((l * l + l * l) + g) * rho) / ((l * l + g) * (l * l));
    return (q * Lambda + 4 * T + c * d) / TWO_PI;
}

// One rule for every ring: the expansion only close to the ring and, unless the
// lens lies on it (d = 0, where the closed form cannot be evaluated), only where
// |d| is small compared with l. Its error grows like (d / l)^2 and it divides
// by l, so for a lens near the source's centre the closed form, whose rounding
// error grows like (l + r)^2 / d^2 * 1e-16, is the accurate one.
Outcome<double> heyrovsky_magnification(double l, double r, double re, double rstar) {
    const double rho = re / rstar;
    const double g = rho * rho;
    const double d = r - l;
    const double distance = std::fabs(d);
    if (distance < NEAR_RING_BAND && (distance < NEAR_RING_RELATIVE * std::fabs(l) || d == 0)) {
        return {ring_near_form(l, rho, g, d), nullptr};
    }
    return ring_closed_form(l, r, rho, g, d);
}

}  // namespace corvanis::lib
