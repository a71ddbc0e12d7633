// R_C(x, y) = ½·∫₀^∞ dt / (√(t + x)·(t + y)), the Cauchy principal value for
// y < 0. Closed forms in atan, log1p and log (DLMF §19.2(iv)); within a
// few ulps of the exact value, depending on the mathematics library.
#include <cmath>

#include "numerics/elliptic/carlson.hpp"
#include "numerics/pi.hpp"

namespace ellip::carlson {

using numerics::HALF_PI;

EllipResult elliprc(double x, double y) noexcept {
    if (x < 0) return Failure{"elliprc: x must be non-negative."};
    if (y == 0) return Failure{"elliprc: y must be non-zero."};

    // Principal value: R_C(x, y) = √(x/(x − y))·R_C(x − y, −y).
    double s = 1.0;
    if (y < -y) {
        s = std::sqrt(x / (x - y));
        x = x - y;
        y = -y;
    }

    if (x == 0) return (s * HALF_PI) / std::sqrt(y);
    if (x == y) return s / std::sqrt(x);
    if (y > x) {
        return (s * std::atan(std::sqrt((y - x) / x))) / std::sqrt(y - x);
    }
    // y < x: an inverse hyperbolic function; atanh via log1p while y/x is
    // close to 1, where the log form would cancel.
    if (y / x > 0.5) {
        const double t = std::sqrt((x - y) / x);
        return (s * (std::log1p(t) - std::log1p(-t))) / (2 * std::sqrt(x - y));
    }
    return (s * std::log((std::sqrt(x) + std::sqrt(x - y)) / std::sqrt(y))) /
                           std::sqrt(x - y);
}

}  // namespace ellip::carlson
