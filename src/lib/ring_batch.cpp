#include "lib/ring_batch.hpp"

#include <algorithm>
#include <memory>

#include "numerics/elliptic/batch/legendre_batch.hpp"

namespace corvanis::lib {

void heyrovsky_magnifications(double l, std::span<const double> r, double re, double rstar,
                              std::span<numerics::Fallible<double>> out,
                              RingBatchWorkspace& workspace) noexcept {
    const double r_e = re / rstar;
    const double g = r_e * r_e;
    auto& [index, args, m, n, K, P] = workspace;

    for (std::size_t first = 0; first < r.size(); first += RING_BATCH) {
        const std::size_t last = std::min(r.size(), first + RING_BATCH);
        // The closed forms of this pass, gathered: where each goes, its
        // arguments, then K and Pi for all of them.
        std::size_t count = 0;
        for (std::size_t i = first; i < last; ++i) {
            const double d = r[i] - l;
            if (uses_near_form(l, d)) {
                out[i] = ring_near_form(l, r_e, g, d);
                continue;
            }
            args[count] = ring_elliptic_arguments(l, r[i], r_e, g, d);
            if (closed_form_rounds_to_one(l, d, args[count])) {
                out[i] = ring_near_form(l, r_e, g, d);
                continue;
            }
            index[count] = i;
            m[count] = args[count].m;
            n[count] = args[count].n;
            ++count;
        }

        ellip::legendre::batch::ellipk(std::span(m).first(count), std::span(K).first(count));
        ellip::legendre::batch::ellippi(std::span(n).first(count), std::span(m).first(count),
                                        std::span(P).first(count));
        // K's error before Pi's, as the scalar closed form checks them.
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t i = index[j];
            if (!K[j].ok()) {
                out[i] = K[j].failure();
            } else if (!P[j].ok()) {
                out[i] = P[j].failure();
            } else {
                out[i] = ring_closed_form_value(args[j], g, r[i] - l, K[j].value, P[j].value);
            }
        }
    }
}

void heyrovsky_magnifications(double l, std::span<const double> r, double re, double rstar,
                              std::span<numerics::Fallible<double>> out) {
    const auto workspace = std::make_unique<RingBatchWorkspace>();
    heyrovsky_magnifications(l, r, re, rstar, out, *workspace);
}

}  // namespace corvanis::lib
