#include "lib/ring.hpp"

#include <cmath>

#include "numerics/elliptic/legendre.hpp"
#include "numerics/pi.hpp"

namespace corvanis::lib {

using numerics::TWO_PI;

numerics::Fallible<double> ring_closed_form(const RingEllipticArguments& a, double g, double d) {
    const auto K = ellip::legendre::ellipk(a.m);
    if (!K.ok()) return K;
    const auto P = ellip::legendre::ellippi(a.n, a.m);
    if (!P.ok()) return P;
    return ring_closed_form_value(a, g, d, K.value, P.value);
}

double ring_near_form(double l, double r_e, double g, double d) {
    const double q = (1 - d / (l + l)) * ((r_e + r_e) / l);
    const double Lambda = std::log(((8 * r_e) * l) / (std::sqrt(l * l + g) * std::fabs(d)));
    const double T = std::atan(l / r_e);
    const double c = (((l * l + l * l) + g) * r_e) / ((l * l + g) * (l * l));
    return (q * Lambda + 4 * T + c * d) / TWO_PI;
}

// The expansion's error grows like (d / l)^2 and it divides by l, so for a lens
// near the source's centre the closed form is the accurate one; at d = 0 the
// closed form cannot be evaluated (+inf for l > 0 comes from the expansion).
bool uses_near_form(double l, double d) noexcept {
    const double distance = std::fabs(d);
    return distance < NEAR_RING_BAND && (distance < NEAR_RING_RELATIVE * std::fabs(l) || d == 0);
}

numerics::Fallible<double> heyrovsky_magnification(double l, double r, double re, double rstar) {
    const double r_e = re / rstar;
    const double g = r_e * r_e;
    const double d = r - l;
    if (uses_near_form(l, d)) {
        return ring_near_form(l, r_e, g, d);
    }
    const RingEllipticArguments a = ring_elliptic_arguments(l, r, r_e, g, d);
    if (closed_form_rounds_to_one(l, d, a)) {
        return ring_near_form(l, r_e, g, d);
    }
    return ring_closed_form(a, g, d);
}

}  // namespace corvanis::lib
