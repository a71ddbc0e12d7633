// Constants of the numerical derivative.
#pragma once

#include <cmath>
#include <limits>

namespace numdiff::constants {

// Cube root of the double-precision machine epsilon 2^-52 (about 6.06e-6),
// the step base of every central difference. Initialised once, on first use,
// thread-safely (a function-local static); read-only afterwards.
inline double CBRT_EPS() noexcept {
    static const double value = std::cbrt(std::numeric_limits<double>::epsilon());
    return value;
}

}  // namespace numdiff::constants
