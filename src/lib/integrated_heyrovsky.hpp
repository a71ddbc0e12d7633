// Magnification of a limb-darkened source disk as the brightness-weighted mean
// of ring magnifications: for each separation l,
//     A(l) = (1/N) * integral over r in [0, 1] of (2 pi r) A_ring(l, r) I(r) dr.
// With the lens inside the disk the ring through the lens is a logarithmic
// singularity of the integrand; splitting the integral there puts it at an end
// point, where the double-exponential rule converges. Elliptic-integral errors
// make single integrand values NaN, which the quadrature counts as 0; a
// separation none of whose nodes is finite gives NaN.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "lib/constants.hpp"
#include "lib/models.hpp"
#include "lib/ring_batch.hpp"
#include "numerics/pi.hpp"
#include "numerics/quadrature/double_exponential_batched.hpp"

namespace corvanis::lib {

template <class Profile>
std::vector<double> _integrated_heyrovsky_magnification(Doubles l, double re, double rstar,
                                                        double norm, const Profile& profile) {
    using quadrature::double_exponential::DE_LEVEL_SIZES;
    using quadrature::double_exponential::integrate_batched;

    std::vector<double> result;
    result.reserve(l.size());
    if (l.empty()) return result;
    // The buffers of the quadrature and of the ring batches, about 23 KB: on
    // the heap, once per call, not on the stack of the calling thread.
    struct Workspace {
        std::array<numerics::Fallible<double>, 2 * DE_LEVEL_SIZES.back()> ring;
        RingBatchWorkspace rings;
        quadrature::double_exponential::LevelBuffers level;
    };
    const auto workspace = std::make_unique<Workspace>();
    for (const double li : l) {
        bool any_finite = false;
        // The integrand at all the radii of a quadrature level at once.
        const auto w = [&](std::span<const double> r, std::span<double> y) {
            auto& ring = workspace->ring;
            heyrovsky_magnifications(li, r, re, rstar, std::span(ring).first(r.size()),
                                     workspace->rings);
            for (std::size_t i = 0; i < r.size(); ++i) {
                const double a =
                    ring[i].ok() ? ring[i].value : std::numeric_limits<double>::quiet_NaN();
                y[i] = ((numerics::TWO_PI * r[i]) * a) * profile(r[i]);
                any_finite = any_finite || std::isfinite(y[i]);
            }
        };
        double q;
        if (0 < li && li < 1) {
            q = integrate_batched(w, 0.0, li, RADIAL_TARGET_ERROR, workspace->level).value;
            q = q + integrate_batched(w, li, 1.0, RADIAL_TARGET_ERROR, workspace->level).value;
        } else {
            q = integrate_batched(w, 0.0, 1.0, RADIAL_TARGET_ERROR, workspace->level).value;
        }
        // Without a single finite node there is no integral, not a zero one.
        result.push_back(any_finite ? q / norm : std::numeric_limits<double>::quiet_NaN());
    }
    return result;
}

}  // namespace corvanis::lib
