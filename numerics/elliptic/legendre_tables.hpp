// Polynomial approximations of K(m) and E(m) in x = 1 − m, 0 < x ≤ 1:
//   K = P_K(x) − ln(x)·Q_K(x),   E = P_E(x) − (x·Q_E(x))·ln(x),
// the logarithmic form of Abramowitz & Stegun 17.3.34 and 17.3.36 carried to
// degree 10. The coefficients are those of the Cephes Math Library
// (S. L. Moshier, ellpk.c and ellpe.c), used unchanged. Measured against
// mpmath on the reference sweep of tests/cpp/data, 0 <= m < 1: K within
// 1.86 ulps, E within 1.37 ulps.
// Coefficients highest power first, evaluated by Horner's rule.
#pragma once

#include <array>
#include <cstddef>

namespace ellip::legendre::detail {

inline constexpr std::array<double, 11> K_TABLE_P = {
    0.00013798286460627325, 0.002280257240058756, 0.007974040132204152,
    0.00985821379021226,    0.006874896874499499, 0.006189010336376876,
    0.008790782739527438,   0.014938044891680526, 0.0308851465246712,
    0.09657359028116902,    1.3862943611198906,
};

inline constexpr std::array<double, 11> K_TABLE_Q = {
    2.940789550485985e-05, 0.0009141847238659173, 0.005940583037531678,
    0.01548505166497624,   0.023908960271592488,  0.030120471522760404,
    0.037377431417382326,  0.04882803475709983,   0.07031249969639575,
    0.12499999999987083,   0.5,
};

inline constexpr std::array<double, 11> E_TABLE_P = {
    0.0001535525773010133, 0.0025088849216360204, 0.008687868165658896,
    0.010735094905607619,  0.007773954925167871,  0.007583952894135147,
    0.011568843681057412,  0.021831799601555724,  0.05680519456178606,
    0.44314718056099084,   1.0,
};

inline constexpr std::array<double, 10> E_TABLE_Q = {
    3.2795489857648585e-05, 0.0010096279267935672, 0.006506094899769275,
    0.016886216399331133,   0.026176974245449364,  0.03348339048882249,
    0.04271809265189315,    0.0585936634471101,    0.09374999971976443,
    0.2499999999998883,
};

template <std::size_t N>
inline double horner(const std::array<double, N>& coefficients, double x) noexcept {
    double result = coefficients[0];
    for (std::size_t i = 1; i < N; ++i) result = result * x + coefficients[i];
    return result;
}

}  // namespace ellip::legendre::detail
