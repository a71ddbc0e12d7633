// Far-field magnification of a radially symmetric source: the mean of the
// point-source magnification over a circle of radius t is
// sum_k Laplacian^k A * t^{2k} / (4^k (k!)^2), and averaging over the source's
// brightness gives
//
//   A(u, rho) = sum_k M_k(u) <r^{2k}> (rho/u)^{2k},
//
// <r^{2k}> the brightness-weighted moments (r in source radii). With w = u^2,
// A(w) = (w + 2)/sqrt(w (w + 4)) solves w (w + 2)(w + 4) A' + 4A = 0; its
// scaled Taylor coefficients e_n = A^(n)(w0) w0^n / n! about w0 = u^2 follow
// a four-term forward recurrence, and
//   M_k = sum_{j=0..k} e_{k+j} C(k+j, 2j) C(2j, j).
// The series converges like (rho/u)^{2k}; from u = 2 rho on, double precision
// keeps it to about 1e-15.
#pragma once

#include <array>
#include <cstddef>

#include "numerics/lensing/point_source.hpp"

namespace lensing {

class MeanValueSeries {
public:
    static constexpr int max_terms = 40;

private:
    // C(k+j, 2j) C(2j, j), the weight of e_{k+j} in M_k, row k.
    static constexpr std::array<std::array<double, max_terms>, max_terms> weights = [] {
        std::array<std::array<double, max_terms>, max_terms> w{};
        for (int k = 0; k < max_terms; ++k) {
            double c = 1.0;
            for (int j = 0; j <= k; ++j) {
                w[k][j] = c;
                c = c * static_cast<double>((k + j + 1) * (k - j)) / static_cast<double>((j + 1) * (j + 1));
            }
        }
        return w;
    }();
    // 1/(n + 1) and 1/(n + 1)^2, so that the loops multiply instead of divide.
    static constexpr std::array<double, 2 * max_terms + 1> reciprocal = [] {
        std::array<double, 2 * max_terms + 1> r{};
        for (std::size_t n = 0; n < r.size(); ++n) r[n] = 1.0 / static_cast<double>(n + 1);
        return r;
    }();

public:
    // With `derivatives`, next(M, dM_du, u) may be called; otherwise next().
    explicit MeanValueSeries(double u, bool derivatives = false) noexcept : derivatives_(derivatives) {
        const double w0 = u * u;
        beyond_ = w0 > 1e100;
        e_[0] = point_source_of_w(w0);
        if (beyond_) return;
        const double inverse = 1.0 / ((w0 + 2.0) * (w0 + 4.0));
        a_ = ((3.0 * w0 + 12.0) * w0 + 8.0) * inverse;
        b_ = 4.0 * inverse;
        c_ = (3.0 * w0 + 6.0) * w0 * inverse;
        d_ = w0 * (w0 * inverse);
    }

    // M_k and dM_k/du for k = 0, 1, ... in turn (zero past max_terms), from
    // de_n/du = (2/u) ((n + 1) e_{n+1} + n e_n).
    void next(double& M, double& dM_du, double u) noexcept {
        const int k = k_++;
        M = dM_du = 0.0;
        if (k >= max_terms || (beyond_ && k > 0)) return;
        while (computed_ < 2 * k + 1) extend();
        const auto& c = weights[static_cast<std::size_t>(k)];
        double derivative = 0.0;
        for (int j = 0; j <= k; ++j) {
            M += e_[k + j] * c[j];
            derivative += g_[k + j] * c[j];
        }
        dM_du = beyond_ ? 0.0 : derivative * (2.0 / u);
    }

    // M_k for k = 0, 1, ... in turn; 0 past max_terms.
    double next() noexcept {
        const int k = k_++;
        if (k >= max_terms || (beyond_ && k > 0)) return 0.0;
        while (computed_ < 2 * k) extend();
        const auto& c = weights[static_cast<std::size_t>(k)];
        double sum = 0.0;
        for (int j = 0; j <= k; ++j) sum += e_[k + j] * c[j];
        return sum;
    }

private:
    // e_{n+1} = -[(a n + b) e_n + c (n - 1) e_{n-1} + d (n - 2) e_{n-2}] / (n + 1).
    void extend() noexcept {
        const int n = computed_;
        const double nd = n;
        const double en1 = n >= 1 ? e_[n - 1] : 0.0;
        const double en2 = n >= 2 ? e_[n - 2] : 0.0;
        e_[n + 1] = -((a_ * nd + b_) * e_[n] + c_ * (nd - 1.0) * en1 + d_ * (nd - 2.0) * en2) * reciprocal[n];
        // (n + 1) e_{n+1} + n e_n: u/2 times de_n/du, shared by every M_k that uses e_n.
        if (derivatives_) g_[n] = (nd + 1.0) * e_[n + 1] + nd * e_[n];
        ++computed_;
    }

    std::array<double, 2 * max_terms + 1> e_;  // e_0 .. e_computed_
    std::array<double, 2 * max_terms + 1> g_;  // g_0 .. g_(computed_ - 1)
    double a_ = 0.0, b_ = 0.0, c_ = 0.0, d_ = 0.0;
    int computed_ = 0;
    int k_ = 0;
    bool beyond_ = false;
    bool derivatives_;
};

}  // namespace lensing
