// The two forms of the ring magnification: the closed form in K and Pi, and
// its expansion to first order in the lens-ring distance d = r - l, with the
// logarithmic singularity at d = 0 kept explicitly. rho = re / rstar, g = rho^2.
#pragma once

#include "lib/outcome.hpp"

namespace corvanis::lib {

// Distance from the ring, in source radii, below which heyrovsky_magnification
// uses the expansion.
inline constexpr double NEAR_RING_BAND = 1e-5;

Outcome<double> ring_closed_form(double l, double r, double rho, double g, double d);
double ring_near_form(double l, double rho, double g, double d);

// The ring magnification used by the disk integrals. It is heyrovsky_magnification
// except for a lens so close to the source's centre that |d| is no longer small
// compared with l: the expansion, whose error grows like (d / l)^2 and which
// divides by l, is then far off (infinite for l = 0), while the closed form,
// whose rounding error grows like (l + r)^2 / d^2 * 1e-16, is still accurate.
Outcome<double> disk_ring_magnification(double l, double r, double re, double rstar);

}  // namespace corvanis::lib
