// K(m) = ∫₀^{π/2} dθ / √(1 − m·sin²θ), complete elliptic integral of the
// first kind in the parameter m = k². Polynomial approximation in 1 − m
// (legendre_tables.hpp); m < 0 by K(m) = K(m/(m − 1))/√(1 − m) (imaginary-modulus
// transformation, DLMF §19.7(ii)).
#include <cmath>
#include <limits>

#include "numerics/elliptic/legendre.hpp"
#include "numerics/elliptic/legendre_tables.hpp"
#include "numerics/pi.hpp"

namespace ellip::legendre {

using numerics::HALF_PI;

namespace {

constexpr double LN_4 = 1.3862943611198906;
constexpr double EPSILON = 2.220446049250313e-16;  // 2^-52

// K from the complementary parameter x = 1 − m, 0 < x ≤ 1.
double k_of_complement(double x) noexcept {
    // Below ε the polynomial terms are negligible: K ≈ ln 4 − ln(x)/2.
    if (x < EPSILON) return std::log(x) * -0.5 + LN_4;
    const double log_x = std::log(x);
    return detail::horner(detail::K_TABLE_P, x) - log_x * detail::horner(detail::K_TABLE_Q, x);
}

}  // namespace

EllipResult ellipk(double m) noexcept {
    if (m > 1) return Failure{"ellipk: m must be less than 1."};
    if (m == 1) return std::numeric_limits<double>::infinity();
    if (m == 0) return HALF_PI;
    // K(m) ~ ln(4√−m)/√−m as m → −∞; the reduction below would form ∞/∞.
    if (m == -std::numeric_limits<double>::infinity()) return 0.0;
    // The complement of m/(m − 1) is 1/(1 − m), formed here without the
    // cancellation of 1 − m/(m − 1).
    if (m < 0) return k_of_complement(1 / (1 - m)) / std::sqrt(1 - m);
    return k_of_complement(1 - m);
}

}  // namespace ellip::legendre
