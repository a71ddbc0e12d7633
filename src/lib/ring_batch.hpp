// Ring magnifications of one separation at many ring radii at once: out[i] is,
// bit for bit, heyrovsky_magnification(l, r[i], re, rstar), error included.
// The closed forms' elliptic integrals are evaluated several at a time.
#pragma once

#include <span>

#include "numerics/fallible.hpp"

namespace corvanis::lib {

// Requires out.size() == r.size(). Allocates nothing.
void heyrovsky_magnifications(double l, std::span<const double> r, double re, double rstar,
                              std::span<numerics::Fallible<double>> out) noexcept;

}  // namespace corvanis::lib
