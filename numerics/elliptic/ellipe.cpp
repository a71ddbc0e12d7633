// E(m) = ∫₀^{π/2} √(1 − m·sin²θ) dθ, complete elliptic integral of the second
// kind in the parameter m = k². Polynomial approximation in 1 − m
// (legendre_tables.hpp); m < 0 by E(m) = √(1 − m)·E(m/(m − 1)) (imaginary-modulus
// transformation, DLMF §19.7(ii)).
#include <cmath>
#include <limits>

#include "numerics/elliptic/legendre.hpp"
#include "numerics/elliptic/legendre_tables.hpp"
#include "numerics/pi.hpp"

namespace ellip::legendre {

using numerics::HALF_PI;

namespace {


// E from the complementary parameter x = 1 − m, 0 < x ≤ 1.
double e_of_complement(double x) noexcept {
    return detail::horner(detail::E_TABLE_P, x) -
           (x * detail::horner(detail::E_TABLE_Q, x)) * std::log(x);
}

}  // namespace

EllipResult ellipe(double m) noexcept {
    if (m > 1) return Failure{"ellipe: m must be less than 1."};
    if (m == 1) return 1.0;
    if (m == 0) return HALF_PI;
    // E(m) ~ √−m as m → −∞; the reduction below would form ∞·0·ln 0.
    if (m == -std::numeric_limits<double>::infinity()) {
        return std::numeric_limits<double>::infinity();
    }
    // The whole value is scaled; the complement of m/(m − 1) is 1/(1 − m).
    if (m < 0) return std::sqrt(1 - m) * e_of_complement(1 / (1 - m));
    return e_of_complement(1 - m);
}

}  // namespace ellip::legendre
