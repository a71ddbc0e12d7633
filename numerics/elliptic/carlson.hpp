// Carlson's symmetric elliptic integrals R_C, R_F, R_D, R_J.
#pragma once

#include "numerics/elliptic/ellip_result.hpp"

namespace ellip::carlson {

EllipResult elliprc(double x, double y) noexcept;
EllipResult elliprf(double x, double y, double z) noexcept;
EllipResult elliprd(double x, double y, double z) noexcept;
EllipResult elliprj(double x, double y, double z, double p) noexcept;

}  // namespace ellip::carlson
