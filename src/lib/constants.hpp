// Constants shared by the model functions, as the doubles they are written as.
#pragma once

namespace corvanis::lib {

inline constexpr double PI = 3.141592653589793;
inline constexpr double HALF_PI = 1.5707963267948966;
inline constexpr double TWO_PI = 6.283185307179586;

// Quadrature target of every radial integral over the source disk.
inline constexpr double RADIAL_TARGET_ERROR = 1e-16;

}  // namespace corvanis::lib
