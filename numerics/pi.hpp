// Multiples of pi, as the doubles the formulas are written with.
#pragma once

namespace numerics {

inline constexpr double PI = 3.141592653589793;
inline constexpr double HALF_PI = 1.5707963267948966;
inline constexpr double TWO_PI = 6.283185307179586;
inline constexpr double THREE_PI = 9.42477796076938;

}  // namespace numerics
