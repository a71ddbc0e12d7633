// Π(n, m) = ∫₀^{π/2} dθ / ((1 − n·sin²θ)·√(1 − m·sin²θ)), complete elliptic
// integral of the third kind, through Carlson's integrals (DLMF §19.25(i)):
//   Π(n, m) = R_F(0, 1 − m, 1) + (n/3)·R_J(0, 1 − m, 1, 1 − n).
// For n < 0 the characteristic is first moved into (0, 1) (DLMF §19.7(iii)),
// which avoids the cancellation of that sum for large |n|.
#include <cmath>

#include "numerics/elliptic/carlson.hpp"
#include "numerics/elliptic/legendre.hpp"
#include "numerics/pi.hpp"

namespace ellip::legendre {

using carlson::elliprf;
using carlson::elliprj;
using numerics::HALF_PI;

EllipResult ellippi(double n, double m) noexcept {
    if (m >= 1) return Failure{"ellippi: m must be less than 1."};
    if (n >= 1) return Failure{"ellippi: n must be less than 1."};

    if (n == 0) {
        if (m == 0) return HALF_PI;
        return ellipk(m);
    }

    // The transformation divides two terms by m − n; with m < 0 they cancel
    // once n comes within |m| of m (and give NaN at n = m), so from n ≥ 2m on
    // the direct sum below is the better conditioned of the two.
    if (n < 0 && (m >= 0 || n < m + m)) {
        const EllipResult RF = elliprf(0, 1 - m, 1);
        if (!RF.ok()) return RF;
        const double N = (m - n) / (1 - n);
        const double p = (1 - m) / (1 - n);
        const EllipResult RJ = elliprj(0, 1 - m, 1, p);
        if (!RJ.ok()) return RJ;
        const EllipResult K = ellipk(m);
        if (!K.ok()) return K;
        return (m * K.value) / (m - n) -
                               ((1 - m) * (((RF.value + (N * RJ.value) / 3) * n) / (1 - n))) /
                                   (m - n);
    }

    const EllipResult RF = elliprf(0, 1 - m, 1);
    if (!RF.ok()) return RF;
    const EllipResult RJ = elliprj(0, 1 - m, 1, 1 - n);
    if (!RJ.ok()) return RJ;
    return RF.value + (n * RJ.value) / 3;
}

}  // namespace ellip::legendre
