// Magnification of a thin uniform ring on the source by a point lens: the mean
// of the point-source magnification over the ring. Lengths are in source
// radii; r_e = re / rstar is the Einstein radius in source radii and
// g = r_e^2; d = r - l is the distance of the ring from the lens.
#pragma once

#include <cmath>

#include "numerics/fallible.hpp"
#include "numerics/pi.hpp"

namespace corvanis::lib {

// Distance from the ring, in source radii, beyond which the expansion is
// never used.
inline constexpr double NEAR_RING_BAND = 1e-5;
// Below this ratio |d| / l the expansion's error, (d / l)^2, is smaller than
// the closed form's rounding error, 1e-16 (l + r)^2 / d^2; the two balance
// near |d| / l = (4e-16)^(1/4).
inline constexpr double NEAR_RING_RELATIVE = 1.4e-4;

// The closed form in K and Pi (Heyrovsky 2003, ApJ 594, 464), in two halves
// shared with the batched rings: the elliptic arguments m and n (with L and S,
// which the value needs again), then the value from K(m) and Pi(n, m).
struct RingEllipticArguments {
    double L;  // g * 4 + d * d
    double S;  // l + r
    double m;
    double n;
};

inline RingEllipticArguments ring_elliptic_arguments(double l, double r, double r_e, double g,
                                                     double d) noexcept {
    const double L = g * 4 + d * d;
    const double S = l + r;
    const double k = std::sqrt(l * r / L) * ((r_e * 4) / S);
    return {L, S, k * k, ((l * 4) * r) / (S * S)};
}

inline double ring_closed_form_value(const RingEllipticArguments& a, double g, double d, double K,
                                     double P) noexcept {
    return ((g + g) * K + (d * d) * P) * (4 / (a.S * std::sqrt(a.L))) / numerics::TWO_PI;
}

// Both halves: K and Pi of the arguments, then the value; an elliptic-integral
// error where m or n is not below 1.
numerics::Fallible<double> ring_closed_form(const RingEllipticArguments& a, double g, double d);

// Its expansion to first order in d, with the logarithmic singularity at d = 0
// kept explicitly; it divides by l.
double ring_near_form(double l, double r_e, double g, double d);

// The one rule of every ring magnification: the expansion where
// |d| < NEAR_RING_BAND and (|d| < NEAR_RING_RELATIVE |l| or d = 0), the closed
// form elsewhere, except where the closed form cannot be evaluated
// (closed_form_rounds_to_one).
bool uses_near_form(double l, double d) noexcept;

// m and n are below 1 for every ring off the lens, but round to 1 or above
// when |d| is below about 1e-8 (l + r): beyond NEAR_RING_BAND only far from
// the centre (l above about 500). There the closed form would fail ("m must be
// less than 1"), and the expansion, accurate for |d| < NEAR_RING_RELATIVE l,
// is used instead.
inline bool closed_form_rounds_to_one(double l, double d, const RingEllipticArguments& a) noexcept {
    return (a.m >= 1 || a.n >= 1) && std::fabs(d) < NEAR_RING_RELATIVE * l;
}

// The ring of radius r centred l from the lens; re and rstar in one unit.
numerics::Fallible<double> heyrovsky_magnification(double l, double r, double re, double rstar);

}  // namespace corvanis::lib
