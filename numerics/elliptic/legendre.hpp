// Complete elliptic integrals K(m), E(m), Pi(n, m) in the parameter m = k^2.
#pragma once

#include "numerics/elliptic/ellip_result.hpp"

namespace ellip::legendre {

EllipResult ellipk(double m) noexcept;
EllipResult ellipe(double m) noexcept;
EllipResult ellippi(double n, double m) noexcept;

}  // namespace ellip::legendre
