// Constants shared by the model functions.
#pragma once

namespace corvanis::lib {

// Quadrature target of every radial integral over the source disk.
inline constexpr double RADIAL_TARGET_ERROR = 1e-16;

}  // namespace corvanis::lib
