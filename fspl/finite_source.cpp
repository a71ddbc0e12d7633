#include "finite_source.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numerics/lensing/mean_value_series.hpp"
#include "numerics/lensing/uniform_disk.hpp"
#include "numerics/lensing/uniform_disk_batch.hpp"
#include "numerics/pi.hpp"
#include "numerics/quadrature/tanh_sinh_nodes.hpp"

namespace fspl {

namespace {

namespace ts = quadrature::tanh_sinh;

// Sum over the bases of one law's weighted values.
double law_sum(const LawSet& set, std::size_t law, const double* per_basis, bool with_flux) {
    const std::size_t nb = set.bases.size();
    double sum = 0.0;
    for (std::size_t j = 0; j < nb; ++j) {
        const double w = set.weights[law * nb + j];
        sum += w * (with_flux ? set.bases[j].flux : 1.0) * per_basis[j];
    }
    return sum;
}

void far_field(double u, double rho, const LawSet& set, double rtol, Workspace& ws, double* out) {
    const std::size_t nb = set.bases.size();
    ws.integral.assign(nb, 0.0);
    ws.term.resize(nb);
    const double ratio = rho / u;
    const double x = ratio * ratio;
    lensing::MeanValueSeries series(u);
    double xk = 1.0;
    int quiet = 0;
    for (int k = 0; k < lensing::MeanValueSeries::max_terms; ++k) {
        const double M = series.next() * xk;
        bool more = false;
        for (std::size_t j = 0; j < nb; ++j) {
            const auto& m = set.bases[j].moments;
            ws.term[j] = k < static_cast<int>(m.size()) ? M * m[k] : 0.0;
            ws.integral[j] += ws.term[j];
        }
        // Two terms in a row below a tenth of rtol end the sum: from u = 2 rho
        // on, each term is at most about 0.6 (rho/u)^2 <= 0.15 of the one
        // before, so the rest adds less than a fifth of the last. (One small
        // term alone could be a zero of M_k.)
        for (std::size_t l = 0; l < set.laws && !more; ++l) {
            const double total = law_sum(set, l, ws.integral.data(), true);
            more = !(std::fabs(law_sum(set, l, ws.term.data(), true)) <= 0.1 * rtol * std::fabs(total));
        }
        quiet = more ? 0 : quiet + 1;
        if (quiet == 2) break;
        xk *= x;
    }
    for (std::size_t l = 0; l < set.laws; ++l) {
        out[l] = law_sum(set, l, ws.integral.data(), true) / set.law_flux[l];
    }
}

// b(mu) at a cut, for the exactly integrated part of the limb piece.
double brightness(const Basis& b, double mu) {
    switch (b.kind) {
    case BasisKind::power:
        return b.exponent == 0.0 ? 1.0 : std::pow(mu, b.exponent);
    case BasisKind::mu_log_mu:
        return mu > 0.0 ? mu * std::log(mu) : 0.0;
    case BasisKind::table_mu:
    case BasisKind::table_r: {
        const auto& br = b.breaks;
        std::size_t k = static_cast<std::size_t>(std::upper_bound(br.begin(), br.end(), mu) - br.begin());
        k = std::clamp<std::size_t>(k, 1, br.size() - 1) - 1;
        if (b.kind == BasisKind::table_mu) return b.values[k] + b.slopes[k] * (mu - br[k]);
        // Linear in r = sqrt(1 - mu^2); breaks ascend in mu, so r descends.
        const double r = std::sqrt((1.0 - mu) * (1.0 + mu));
        const double rk = std::sqrt((1.0 - br[k]) * (1.0 + br[k]));
        return b.values[k] + b.slopes[k] * (r - rk);
    }
    }
    return 0.0;
}

// b'(mu) for every node of the level, times the node's weight and value.
void add_basis(const Basis& b, std::size_t j, std::size_t nb, const Workspace& ws, std::size_t first,
               std::size_t count, const double* value, double& sum) {
    double s = 0.0;
    switch (b.kind) {
    case BasisKind::power: {
        const double p = b.exponent;
        if (p == 0.0) break;
        if (p == 1.0) {
            for (std::size_t i = first; i < count; ++i) s += ws.weight[i] * value[i];
        } else if (p == 2.0) {
            for (std::size_t i = first; i < count; ++i) s += ws.weight[i] * (2.0 * ws.mu[i]) * value[i];
        } else if (p == 0.5) {
            for (std::size_t i = first; i < count; ++i) s += ws.weight[i] * (0.5 / std::sqrt(ws.mu[i])) * value[i];
        } else if (p == 1.5) {
            for (std::size_t i = first; i < count; ++i) s += ws.weight[i] * (1.5 * std::sqrt(ws.mu[i])) * value[i];
        } else {
            for (std::size_t i = first; i < count; ++i) s += ws.weight[i] * (p * std::pow(ws.mu[i], p - 1.0)) * value[i];
        }
        break;
    }
    case BasisKind::mu_log_mu:
        for (std::size_t i = first; i < count; ++i) s += ws.weight[i] * (std::log(ws.mu[i]) + 1.0) * value[i];
        break;
    case BasisKind::table_mu:
        for (std::size_t i = first; i < count; ++i) {
            s += ws.weight[i] * b.slopes[ws.segment[ws.piece[i] * nb + j]] * value[i];
        }
        break;
    case BasisKind::table_r:
        // dI/dmu = dI/dr * dr/dmu, dr/dmu = -mu/r.
        for (std::size_t i = first; i < count; ++i) {
            const double slope = b.slopes[ws.segment[ws.piece[i] * nb + j]];
            s += ws.weight[i] * (slope * (-ws.mu[i] / std::sqrt(ws.r2[i]))) * value[i];
        }
        break;
    }
    sum += s;
}

void near_field(double u, double rho, const LawSet& set, double rtol, Workspace& ws, double* out) {
    const std::size_t nb = set.bases.size();
    const double outer = lensing::uniform_disk(u, rho);

    // Cuts of [0, 1] in mu, each with its complement 1 - mu.
    ws.cut.assign({0.0, 1.0});
    ws.cut_complement.assign({1.0, 0.0});
    if (u < rho) {
        const double x = u / rho;
        const double mu_star = std::sqrt(((rho - u) / rho) * (1.0 + x));
        if (mu_star > 0.0 && mu_star < 1.0) {
            ws.cut.push_back(mu_star);
            ws.cut_complement.push_back(x * x / (1.0 + mu_star));
        }
    }
    for (const Basis& b : set.bases) {
        if (b.kind != BasisKind::table_mu && b.kind != BasisKind::table_r) continue;
        for (double c : b.breaks) {
            if (c > 0.0 && c < 1.0) {
                ws.cut.push_back(c);
                ws.cut_complement.push_back(1.0 - c);
            }
        }
    }
    // Sort the cuts (few) with their complements, dropping repeats.
    const std::size_t ncut_all = ws.cut.size();
    for (std::size_t i = 1; i < ncut_all; ++i) {
        for (std::size_t k = i; k > 0 && ws.cut[k] < ws.cut[k - 1]; --k) {
            std::swap(ws.cut[k], ws.cut[k - 1]);
            std::swap(ws.cut_complement[k], ws.cut_complement[k - 1]);
        }
    }
    std::size_t ncut = 1;
    for (std::size_t i = 1; i < ncut_all; ++i) {
        if (ws.cut[i] > ws.cut[ncut - 1]) {
            ws.cut[ncut] = ws.cut[i];
            ws.cut_complement[ncut] = ws.cut_complement[i];
            ++ncut;
        }
    }
    const std::size_t pieces = ncut - 1;

    // The table segment of each basis on each piece.
    ws.segment.assign(pieces * nb, -1);
    for (std::size_t j = 0; j < nb; ++j) {
        const Basis& b = set.bases[j];
        if (b.kind != BasisKind::table_mu && b.kind != BasisKind::table_r) continue;
        for (std::size_t p = 0; p < pieces; ++p) {
            const double mid = 0.5 * (ws.cut[p] + ws.cut[p + 1]);
            const auto k = std::upper_bound(b.breaks.begin(), b.breaks.end(), mid) - b.breaks.begin();
            ws.segment[p * nb + j] = static_cast<int>(std::clamp<std::ptrdiff_t>(k, 1, b.breaks.size() - 1) - 1);
        }
    }

    // Nodes beyond t_max lie within a hundredth of rtol of a piece's end.
    const double t_max = std::asinh(std::log(2.0 / (0.01 * rtol)) / numerics::PI);

    ws.integral.assign(nb, 0.0);
    ws.level_sum.resize(nb);
    ws.delta.assign(set.laws, 0.0);
    ws.previous_delta.assign(set.laws, 0.0);
    for (std::size_t level = 0; level < ts::LEVELS; ++level) {
        ws.mu.clear();
        ws.one_minus_mu.clear();
        ws.weight.clear();
        ws.piece.clear();
        for (std::size_t p = 0; p < pieces; ++p) {
            const double a = ws.cut[p], b = ws.cut[p + 1];
            const double ca = ws.cut_complement[p], cb = ws.cut_complement[p + 1];
            const double half = 0.5 * (b - a);
            for (const ts::Node& node : ts::LEVEL_NODES[level]) {
                if (node.t > t_max) break;
                const double dist = half * node.delta;
                if (node.t == 0.0) {
                    ws.mu.push_back(a + dist);
                    ws.one_minus_mu.push_back(ca - dist);
                    ws.weight.push_back(half * node.weight);
                    ws.piece.push_back(static_cast<int>(p));
                    continue;
                }
                ws.mu.push_back(b - dist);
                ws.one_minus_mu.push_back(cb + dist);
                ws.mu.push_back(a + dist);
                ws.one_minus_mu.push_back(ca - dist);
                ws.weight.push_back(half * node.weight);
                ws.weight.push_back(half * node.weight);
                ws.piece.push_back(static_cast<int>(p));
                ws.piece.push_back(static_cast<int>(p));
            }
        }
        const std::size_t count = ws.mu.size();
        ws.r2.resize(count);
        ws.radius.resize(count);
        ws.disk.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            ws.r2[i] = ws.one_minus_mu[i] * (1.0 + ws.mu[i]);
            ws.radius[i] = rho * std::sqrt(ws.r2[i]);
        }
        lensing::uniform_disk_batch(u, ws.radius.data(), ws.disk.data(), count);
        // The integrand without b'(mu); on the limb piece less its value at the limb.
        for (std::size_t i = 0; i < count; ++i) {
            ws.disk[i] = ws.r2[i] * ws.disk[i] - (ws.piece[i] == 0 ? outer : 0.0);
        }
        for (std::size_t j = 0; j < nb; ++j) {
            ws.level_sum[j] = 0.0;
            add_basis(set.bases[j], j, nb, ws, 0, count, ws.disk.data(), ws.level_sum[j]);
            const double before = ws.integral[j];
            ws.integral[j] = level == 0 ? ws.level_sum[j] : 0.5 * before + ws.level_sum[j];
            ws.level_sum[j] = ws.integral[j] - before;  // the change, for the estimate
        }
        if (level == 0) continue;
        bool converged = true;
        for (std::size_t l = 0; l < set.laws; ++l) {
            const double scale = std::fabs(set.law_flux[l]) * outer;
            const double d = std::fabs(law_sum(set, l, ws.level_sum.data(), false));
            ws.previous_delta[l] = ws.delta[l];
            ws.delta[l] = d;
            // Tanh-sinh doubles its digits per level: once the changes shrink,
            // the next change, and so the error, is about d^2 / d_previous.
            const double prev = ws.previous_delta[l];
            const double estimate = (level >= 2 && d < prev) ? d * (d / prev) : d;
            if (!(estimate <= 0.1 * rtol * scale)) converged = false;
        }
        if (converged) break;
    }

    const std::size_t first_cut = 1;  // right end of the limb piece
    for (std::size_t j = 0; j < nb; ++j) {
        ws.integral[j] += brightness(set.bases[j], ws.cut[first_cut]) * outer;
    }
    for (std::size_t l = 0; l < set.laws; ++l) {
        out[l] = law_sum(set, l, ws.integral.data(), false) /
                 set.law_flux[l];
    }
}

}  // namespace

void magnification(double u, double rho, const LawSet& set, double rtol, Workspace& ws, double* out) {
    if (std::isnan(u)) {
        std::fill(out, out + set.laws, std::numeric_limits<double>::quiet_NaN());
        return;
    }
    if (u >= far_field_start * rho) {
        far_field(u, rho, set, rtol, ws, out);
    } else {
        near_field(u, rho, set, rtol, ws, out);
    }
}

}  // namespace fspl
