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

// (ε/5)^(-1/8): R_J's duplication stops once A > f·RJ_TOLERANCE_FACTOR·max|A0 − ·|.
inline constexpr double RJ_TOLERANCE_FACTOR = 110.67925377307274;
inline constexpr int RJ_MAX_STEPS = 100;

// S = 1 − 3·E2/14 + E3/6 + 9·E2²/88 − 3·E4/22 − 9·E2·E3/52 + 3·E5/26 − E2³/16
//     + 3·E3²/40 + 3·E2·E4/20 + 45·E2²·E3/272 − 9·(E3·E4 + E2·E5)/68,
// summed left to right, each term's factors multiplied left to right. T is a
// double, or a vector of doubles evaluated lane by lane in the same order.
template <class T>
inline T rd_rj_series(T E2, T E3, T E4, T E5) noexcept {
    return 1.0 - 3.0 * E2 / 14.0 + E3 / 6.0 + 9.0 * E2 * E2 / 88.0 - 3.0 * E4 / 22.0 -
           9.0 * E2 * E3 / 52.0 + 3.0 * E5 / 26.0 - E2 * E2 * E2 / 16.0 + 3.0 * E3 * E3 / 40.0 +
           3.0 * E2 * E4 / 20.0 + 45.0 * E2 * E2 * E3 / 272.0 - 9.0 * (E3 * E4 + E2 * E5) / 68.0;
}

// R_J's series after the duplication: f·A^(−3/2)·S + 6s, with S of the
// normalised differences X, Y, Z, P; pow(A, −1.5) is handed in, so that lanes
// can take it from the platform library one by one.
template <class T>
inline T rj_finish(T x, T y, T z, T A0, T A, T f, T A_pow, T s) noexcept {
    const T X = ((A0 - x) * f) / A;
    const T Y = ((A0 - y) * f) / A;
    const T Z = ((A0 - z) * f) / A;
    const T P = ((-X - Y) - Z) * 0.5;
    const T E2 = X * Y + X * Z + Y * Z - 3.0 * P * P;
    const T E3 = X * Y * Z + 2.0 * E2 * P + 4.0 * P * P * P;
    const T E4 = (2.0 * X * Y * Z + E2 * P + 3.0 * P * P * P) * P;
    const T E5 = X * Y * Z * P * P;
    return f * A_pow * rd_rj_series(E2, E3, E4, E5) + 6.0 * s;
}

}  // namespace ellip::carlson::detail
