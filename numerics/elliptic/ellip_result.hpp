// EllipResult: the outcome of an elliptic-integral routine, a double or one
// static error message.
#pragma once

#include "numerics/fallible.hpp"

namespace ellip {

using EllipResult = numerics::Fallible<double>;
using numerics::Failure;

}  // namespace ellip
