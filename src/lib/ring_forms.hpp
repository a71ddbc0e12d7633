// The two forms of the ring magnification: the closed form in K and Pi, and
// its expansion to first order in the lens-ring distance d = r - l, with the
// logarithmic singularity at d = 0 kept explicitly. rho = re / rstar, g = rho^2.
#pragma once

#include "lib/outcome.hpp"

namespace corvanis::lib {

// Distance from the ring, in source radii, beyond which heyrovsky_magnification
// never uses the expansion.
inline constexpr double NEAR_RING_BAND = 1e-5;

Outcome<double> ring_closed_form(double l, double r, double rho, double g, double d);
double ring_near_form(double l, double rho, double g, double d);

}  // namespace corvanis::lib
