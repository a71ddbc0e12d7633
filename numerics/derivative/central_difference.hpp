// Derivative of a scalar function by the symmetric difference
//   f'(x0) ~ (f(x0 + h) - f(x0 - h)) / 2h,  h = (|x0| + 1) s,
// with s = cbrt(eps) by default, which balances the O(h^2) truncation error
// against the O(eps/h) rounding error.
#pragma once

#include <cmath>
#include <optional>

#include "numerics/derivative/constants.hpp"

namespace numdiff::central_difference {

// Two evaluations of f, at h + x0 first and then at x0 - h. Non-finite values
// of f pass through unchanged.
template <class F>
double sderivative(F&& f, double x0, std::optional<double> step = std::nullopt) {
    // Initialised on every path, also when the caller supplies the step.
    const double cbrt_eps = constants::CBRT_EPS();
    const double s = step.value_or(cbrt_eps);
    const double h = (std::fabs(x0) + 1.0) * s;
    const double f_plus = f(h + x0);
    const double f_minus = f(x0 - h);
    return (f_plus - f_minus) / (h + h);
}

}  // namespace numdiff::central_difference
