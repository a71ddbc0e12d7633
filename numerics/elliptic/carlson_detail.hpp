// Pieces shared by the Carlson routines and not part of their interface: the
// internal stages of R_J, NaN-ignoring min/max and the series that finishes
// R_D and R_J (DLMF 19.36.2, terms through degree 7).
#pragma once

#include <cmath>

#include "numerics/elliptic/ellip_result.hpp"

namespace ellip::carlson {

// The duplication core of elliprj, for p > 0.
EllipResult _elliprj(double x, double y, double z, double p) noexcept;

// R_C(1, 1 + E), the helper of _elliprj.
EllipResult elliprc1p(double E) noexcept;

}  // namespace ellip::carlson

namespace ellip::carlson::detail {

// 2.7·ε: an arithmetic-geometric mean stops once |a − b| < AGM_TOLERANCE·|a|.
inline constexpr double AGM_TOLERANCE = 5.995204332975846e-16;

// min and max that ignore NaN operands: the result is NaN only when every
// operand is NaN, so one NaN argument cannot hide the others from a check.
inline double nan_ignoring_min(double a, double b) noexcept {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return b < a ? b : a;
}

inline double nan_ignoring_max(double a, double b) noexcept {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return b > a ? b : a;
}

template <class... Rest>
inline double nan_ignoring_min(double a, double b, Rest... rest) noexcept {
    return nan_ignoring_min(nan_ignoring_min(a, b), rest...);
}

template <class... Rest>
inline double nan_ignoring_max(double a, double b, Rest... rest) noexcept {
    return nan_ignoring_max(nan_ignoring_max(a, b), rest...);
}

// S = 1 − 3·E2/14 + E3/6 + 9·E2²/88 − 3·E4/22 − 9·E2·E3/52 + 3·E5/26 − E2³/16
//     + 3·E3²/40 + 3·E2·E4/20 + 45·E2²·E3/272 − 9·(E3·E4 + E2·E5)/68,
// summed left to right, each term's factors multiplied left to right.
inline double rd_rj_series(double E2, double E3, double E4, double E5) noexcept {
    return 1 - 3 * E2 / 14 + E3 / 6 + 9 * E2 * E2 / 88 - 3 * E4 / 22 - 9 * E2 * E3 / 52 +
           3 * E5 / 26 - E2 * E2 * E2 / 16 + 3 * E3 * E3 / 40 + 3 * E2 * E4 / 20 +
           45 * E2 * E2 * E3 / 272 - 9 * (E3 * E4 + E2 * E5) / 68;
}

}  // namespace ellip::carlson::detail
