// Magnification of a uniform circular source by a point lens: the closed form
// of Witt & Mao (1994, ApJ 430, 505) in K, E and Pi, and the elementary limb
// formula for a lens within 1e-5 Einstein radii of the source's limb.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "lib/models.hpp"
#include "numerics/elliptic/batch/legendre_batch.hpp"
#include "numerics/pi.hpp"

namespace corvanis::lib {

namespace {
// Half-width, in Einstein radii, of the band around the limb where the limb
// formula replaces the closed form.
constexpr double LIMB_BAND = 1e-5;
// Separations whose elliptic integrals are evaluated together.
constexpr std::size_t CHUNK = 256;
}  // namespace

Magnifications witt_mao_magnification(Doubles l, double re, double rstar) {
    using ellip::legendre::batch::ellipe;
    using ellip::legendre::batch::ellipk;
    using ellip::legendre::batch::ellippi;
    using numerics::HALF_PI;
    using numerics::PI;
    using numerics::TWO_PI;

    // Quantities that depend only on rho = rstar / re, the source radius in
    // Einstein radii (the ring works with the inverse ratio, r_e).
    const double rho = rstar / re;
    const double rho2 = rho * rho;
    const double two_rho2 = rho2 + rho2;
    const double one_plus_rho2 = 1 + rho2;
    const double limb_factor = one_plus_rho2 / rho2;           // (1 + rho^2)/rho^2
    const double limb_asin_arg = (-1 + rho2) / one_plus_rho2;  // (rho^2 - 1)/(1 + rho^2)
    const double four_rho = 4 * rho;
    const double two_over_rho = 2 / rho;

    std::vector<double> result;
    result.reserve(l.size());
    // The arguments and integrals of one chunk, on the heap (up to 18 KB).
    const std::size_t chunk = std::min(l.size(), CHUNK);
    std::vector<double> arguments(3 * chunk);
    std::vector<ellip::EllipResult> integrals(3 * chunk);
    const std::span ns(arguments.data(), chunk), ms(ns.end(), chunk), ts(ms.end(), chunk);
    const std::span Es(integrals.data(), chunk), Ks(Es.end(), chunk), Ps(Ks.end(), chunk);
    for (std::size_t first = 0; first < l.size(); first += CHUNK) {
        const std::size_t last = std::min(l.size(), first + CHUNK);
        // The elliptic arguments of the chunk's separations off the limb band,
        // then E, K and Pi for all of them at once.
        std::size_t count = 0;
        for (std::size_t i = first; i < last; ++i) {
            const double u = l[i] * rho;
            const double delta = u - rho;
            if (std::fabs(delta) < LIMB_BAND) continue;
            const double s = u + rho;
            const double n = (four_rho * u) / (s * s);
            const double t = std::sqrt(delta * delta + 4);
            const double k = std::sqrt(n * 4) / t;
            ns[count] = n;
            ms[count] = k * k;
            ts[count] = t;
            ++count;
        }
        ellipe(ms.first(count), Es.first(count));
        ellipk(ms.first(count), Ks.first(count));
        ellippi(ns.first(count), ms.first(count), Ps.first(count));

        // In order: the first error ends the call, as separation by separation.
        std::size_t j = 0;
        for (std::size_t i = first; i < last; ++i) {
            const double u = l[i] * rho;
            const double delta = u - rho;

            if (std::fabs(delta) < LIMB_BAND) {
                result.push_back(
                    ((std::asin(limb_asin_arg) + HALF_PI) * limb_factor + two_over_rho) / PI);
                continue;
            }

            const double s = u + rho;
            const double t = ts[j];
            const auto& E = Es[j];
            const auto& K = Ks[j];
            const auto& P = Ps[j];
            ++j;
            if (!E.ok()) return E.failure();
            if (!K.ok()) return K.failure();
            if (!P.ok()) return P.failure();

            const double delta2 = delta * delta;
            const double t_e = E.value * ((t * s) / two_rho2);
            const double t_k = ((delta * ((u * u - rho2) * 0.5 + 4)) / (rho2 * t)) * K.value;
            const double t_p = P.value * ((one_plus_rho2 * (delta2 + delta2)) / ((rho2 * s) * t));
            const double S = t_p + (t_e - t_k);
            result.push_back((S + PI) / TWO_PI + (S - PI) / TWO_PI);
        }
    }
    return result;
}

}  // namespace corvanis::lib
