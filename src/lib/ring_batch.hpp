// Ring magnifications of one separation at many ring radii at once: out[i] is,
// bit for bit, heyrovsky_magnification(l, r[i], re, rstar), error included.
// The closed forms' elliptic integrals are evaluated several at a time.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "lib/ring.hpp"
#include "numerics/elliptic/ellip_result.hpp"
#include "numerics/fallible.hpp"

namespace corvanis::lib {

// Radii handled per pass: one level of the radial quadrature.
inline constexpr std::size_t RING_BATCH = 192;

// The closed forms of one pass, gathered: where each goes, its arguments, and
// K and Pi for all of them. About 16 KB, which does not belong on a thread's
// stack: a caller that computes many batches keeps one on the heap.
struct RingBatchWorkspace {
    std::array<std::size_t, RING_BATCH> index;
    std::array<RingEllipticArguments, RING_BATCH> args;
    std::array<double, RING_BATCH> m, n;
    std::array<ellip::EllipResult, RING_BATCH> K, P;
};

// Requires out.size() == r.size(). Allocates nothing.
void heyrovsky_magnifications(double l, std::span<const double> r, double re, double rstar,
                              std::span<numerics::Fallible<double>> out,
                              RingBatchWorkspace& workspace) noexcept;

// The same with a workspace of its own, on the heap (may throw std::bad_alloc).
void heyrovsky_magnifications(double l, std::span<const double> r, double re, double rstar,
                              std::span<numerics::Fallible<double>> out);

}  // namespace corvanis::lib
