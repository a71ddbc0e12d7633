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

constexpr double inf = std::numeric_limits<double>::infinity();

// One law's weighted sum over the bases.
double law_sum(const LawSet& set, std::size_t law, const double* per_basis) {
    const std::size_t nb = set.bases.size();
    double sum = 0.0;
    for (std::size_t j = 0; j < nb; ++j) sum += set.weights[law * nb + j] * per_basis[j];
    return sum;
}

void far_field(double u, double rho, const LawSet& set, double rtol, int quantities, Workspace& ws) {
    const std::size_t nb = set.bases.size();
    for (int q = 0; q < quantities; ++q) {
        ws.integral[q].assign(nb, 0.0);
        ws.term[q].resize(nb);
    }
    const double ratio = rho / u;
    const double x = ratio * ratio;
    lensing::MeanValueSeries series(u);
    double xk = 1.0;
    int quiet = 0;
    for (int k = 0; k < lensing::MeanValueSeries::max_terms; ++k) {
        double M, dM;
        series.next(M, dM, u);
        // Term k of N_j, and of its derivatives: (rho/u)^2k depends on both.
        const double t0 = M * xk;
        const double tu = (dM - (2.0 * k / u) * M) * xk;
        const double tr = (2.0 * k / rho) * M * xk;
        for (std::size_t j = 0; j < nb; ++j) {
            const auto& m = set.bases[j].moments;
            const double w = k < static_cast<int>(m.size()) ? m[k] * set.bases[j].flux : 0.0;
            ws.term[0][j] = t0 * w;
            if (quantities > 1) {
                ws.term[1][j] = tu * w;
                ws.term[2][j] = tr * w;
            }
            for (int q = 0; q < quantities; ++q) ws.integral[q][j] += ws.term[q][j];
        }
        // Two terms in a row below a tenth of rtol end the sum: from u = 2 rho
        // on, each term is at most about 0.6 (rho/u)^2 <= 0.15 of the one
        // before, so the rest adds less than a fifth of the last. (One small
        // term alone could be a zero of M_k.)
        bool more = false;
        for (std::size_t l = 0; l < set.laws && !more; ++l) {
            for (int q = 0; q < quantities && !more; ++q) {
                const double total = std::fabs(law_sum(set, l, ws.integral[q].data()));
                more = !(std::fabs(law_sum(set, l, ws.term[q].data())) <= 0.1 * rtol * total);
            }
        }
        quiet = more ? 0 : quiet + 1;
        if (quiet == 2) break;
        xk *= x;
    }
}

// b(mu) at a cut, for the exactly integrated part of the limb piece.
double brightness(const Basis& b, double mu) {
    switch (b.kind) {
    case BasisKind::power:
        return b.exponent == 0.0 ? 1.0 : std::pow(mu, b.exponent);
    case BasisKind::power_log:
        return mu > 0.0 ? std::pow(mu, b.exponent) * std::log(mu) : 0.0;
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

// b'(mu) at every node of the level, into ws.slope; false for a basis with
// b' = 0 (the uniform disk).
bool basis_slopes(const Basis& b, std::size_t j, std::size_t nb, Workspace& ws, std::size_t count) {
    auto& out = ws.slope;
    const auto& mu = ws.mu;
    switch (b.kind) {
    case BasisKind::power: {
        const double p = b.exponent;
        if (p == 0.0) return false;
        if (p == 1.0) {
            std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count), 1.0);
        } else if (p == 2.0) {
            for (std::size_t i = 0; i < count; ++i) out[i] = 2.0 * mu[i];
        } else if (p == 0.5) {
            for (std::size_t i = 0; i < count; ++i) out[i] = 0.5 / std::sqrt(mu[i]);
        } else if (p == 1.5) {
            for (std::size_t i = 0; i < count; ++i) out[i] = 1.5 * std::sqrt(mu[i]);
        } else {
            for (std::size_t i = 0; i < count; ++i) out[i] = p * std::pow(mu[i], p - 1.0);
        }
        return true;
    }
    case BasisKind::power_log: {
        const double p = b.exponent;
        for (std::size_t i = 0; i < count; ++i) {
            const double lg = std::log(mu[i]);
            out[i] = (p == 1.0 ? 1.0 : std::pow(mu[i], p - 1.0)) * (p * lg + 1.0);
        }
        return true;
    }
    case BasisKind::table_mu:
        for (std::size_t i = 0; i < count; ++i) out[i] = b.slopes[ws.segment[ws.piece[i] * nb + j]];
        return true;
    case BasisKind::table_r:
        // dI/dmu = dI/dr * dr/dmu, dr/dmu = -mu/r.
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = b.slopes[ws.segment[ws.piece[i] * nb + j]] * (-mu[i] / std::sqrt(ws.r2[i]));
        }
        return true;
    }
    return false;
}

// Cuts of [0, 1] in mu, each with its complement 1 - mu: the limb of the inner
// disk that passes the lens, and the tables' breakpoints. Returns the pieces.
std::size_t cut_pieces(double u, double rho, double mu_star, const LawSet& set, Workspace& ws) {
    ws.cut.assign({0.0, 1.0});
    ws.cut_complement.assign({1.0, 0.0});
    if (u < rho) {
        const double x = u / rho;
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
    const std::size_t all = ws.cut.size();
    for (std::size_t i = 1; i < all; ++i) {
        for (std::size_t k = i; k > 0 && ws.cut[k] < ws.cut[k - 1]; --k) {
            std::swap(ws.cut[k], ws.cut[k - 1]);
            std::swap(ws.cut_complement[k], ws.cut_complement[k - 1]);
        }
    }
    std::size_t kept = 1;
    for (std::size_t i = 1; i < all; ++i) {
        if (ws.cut[i] > ws.cut[kept - 1]) {
            ws.cut[kept] = ws.cut[i];
            ws.cut_complement[kept] = ws.cut_complement[i];
            ++kept;
        }
    }
    const std::size_t pieces = kept - 1;
    const std::size_t nb = set.bases.size();
    ws.segment.assign(pieces * nb, -1);
    for (std::size_t j = 0; j < nb; ++j) {
        const Basis& b = set.bases[j];
        if (b.kind != BasisKind::table_mu && b.kind != BasisKind::table_r) continue;
        for (std::size_t p = 0; p < pieces; ++p) {
            const double mid = 0.5 * (ws.cut[p] + ws.cut[p + 1]);
            const auto k = std::upper_bound(b.breaks.begin(), b.breaks.end(), mid) - b.breaks.begin();
            const auto last = static_cast<std::ptrdiff_t>(b.breaks.size()) - 1;
            ws.segment[p * nb + j] = static_cast<int>(std::clamp<std::ptrdiff_t>(k, 1, last) - 1);
        }
    }
    return pieces;
}

// The nodes of one level on every piece: mu, 1 - mu, mu - mu_star (mu_star
// the cut where the inner disk's limb passes the lens; exact next to it) and
// the weight.
void level_nodes(std::size_t level, std::size_t pieces, double t_max, double mu_star, Workspace& ws) {
    ws.mu.clear();
    ws.one_minus_mu.clear();
    ws.from_star.clear();
    ws.weight.clear();
    ws.piece.clear();
    auto add = [&](double end, double offset, double complement, double weight, std::size_t p) {
        ws.mu.push_back(end + offset);
        ws.one_minus_mu.push_back(complement);
        ws.from_star.push_back(end == mu_star ? offset : (end + offset) - mu_star);
        ws.weight.push_back(weight);
        ws.piece.push_back(static_cast<int>(p));
    };
    for (std::size_t p = 0; p < pieces; ++p) {
        const double a = ws.cut[p], b = ws.cut[p + 1];
        const double ca = ws.cut_complement[p], cb = ws.cut_complement[p + 1];
        const double half = 0.5 * (b - a);
        for (const ts::Node& node : ts::LEVEL_NODES[level]) {
            if (node.t > t_max) break;
            const double dist = half * node.delta;
            add(a, dist, ca - dist, half * node.weight, p);
            if (node.t != 0.0) add(b, -dist, cb + dist, half * node.weight, p);
        }
    }
}

void near_field(double u, double rho, const LawSet& set, double rtol, int quantities, Workspace& ws) {
    const std::size_t nb = set.bases.size();
    const auto outer = lensing::uniform_disk_and_derivatives<double, true>(u, rho, u - rho);
    const double outer_value[3] = {outer.A, outer.dA_du, outer.dA_dR};
    // With the lens on the limb the outer derivatives are infinite: the limb
    // piece then keeps them out of its integrand, and they enter through the
    // limb brightness alone.
    const bool on_limb = u == rho;
    const bool inside = u <= rho;
    const double x = u / rho;
    const double mu_star = inside ? std::sqrt(((rho - u) / rho) * (1.0 + x)) : -1.0;
    const std::size_t pieces = cut_pieces(u, rho, mu_star, set, ws);

    // Nodes beyond t_max lie within a hundredth of rtol of a piece's end.
    const double t_max = std::asinh(std::log(2.0 / (0.01 * rtol)) / numerics::PI);
    // Scales of the laws' values and derivatives for the stopping rule.
    const double derivative_scale = std::fabs(outer.A - 1.0) / rho;

    for (int q = 0; q < quantities; ++q) {
        ws.integral[q].assign(nb, 0.0);
        ws.change[q].assign(nb, 0.0);
    }
    ws.delta.assign(set.laws * quantities, 0.0);
    ws.previous_delta.assign(set.laws * quantities, 0.0);
    for (std::size_t level = 0; level < ts::LEVELS; ++level) {
        level_nodes(level, pieces, t_max, mu_star, ws);
        const std::size_t count = ws.mu.size();
        ws.r2.resize(count);
        ws.radius.resize(count);
        ws.gap.resize(count);
        ws.slope.resize(count);
        for (int q = 0; q < quantities; ++q) ws.value[q].resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const double mu = ws.mu[i];
            ws.r2[i] = ws.one_minus_mu[i] * (1.0 + mu);
            const double r = std::sqrt(ws.r2[i]);
            ws.radius[i] = rho * r;
            // u - R without cancellation where the disk's limb nears the lens:
            // rho (mu^2 - mu_star^2)/(x + r) inside, (u - rho) + rho mu^2/(1 + r) outside.
            ws.gap[i] = inside ? rho * (ws.from_star[i] * (mu + mu_star)) / (x + r)
                               : (u - rho) + rho * (mu * mu) / (1.0 + r);
        }
        lensing::uniform_disk_batch(u, ws.radius.data(), ws.gap.data(), ws.value[0].data(),
                                    quantities > 1 ? ws.value[1].data() : nullptr,
                                    quantities > 1 ? ws.value[2].data() : nullptr, count);
        // The integrands without b'(mu): (1 - mu^2) A(u, rho r) and its
        // derivatives (d/drho = r d/dR), less their limb values on the limb piece.
        for (std::size_t i = 0; i < count; ++i) {
            const bool limb_piece = ws.piece[i] == 0;
            const double w = ws.weight[i] * ws.r2[i];
            ws.value[0][i] = ws.weight[i] * (ws.r2[i] * ws.value[0][i] - (limb_piece ? outer.A : 0.0));
            if (quantities > 1) {
                const bool subtract = limb_piece && !on_limb;
                ws.value[1][i] = w * ws.value[1][i] - (subtract ? ws.weight[i] * outer.dA_du : 0.0);
                ws.value[2][i] = w * std::sqrt(ws.r2[i]) * ws.value[2][i] -
                                 (subtract ? ws.weight[i] * outer.dA_dR : 0.0);
            }
        }
        for (std::size_t j = 0; j < nb; ++j) {
            const bool varies = basis_slopes(set.bases[j], j, nb, ws, count);
            for (int q = 0; q < quantities; ++q) {
                double sum = 0.0;
                if (varies) {
                    const double* v = ws.value[q].data();
                    for (std::size_t i = 0; i < count; ++i) sum += ws.slope[i] * v[i];
                }
                const double before = ws.integral[q][j];
                ws.integral[q][j] = level == 0 ? sum : 0.5 * before + sum;
                ws.change[q][j] = ws.integral[q][j] - before;
            }
        }
        if (level == 0) continue;
        bool converged = true;
        for (std::size_t l = 0; l < set.laws; ++l) {
            for (int q = 0; q < quantities; ++q) {
                const double scale = std::fabs(set.law_flux[l]) * (q == 0 ? outer.A : derivative_scale);
                const double d = std::fabs(law_sum(set, l, ws.change[q].data()));
                const std::size_t at = l * quantities + q;
                const double prev = ws.delta[at];
                ws.delta[at] = d;
                // Tanh-sinh doubles its digits per level: once the changes
                // shrink, the next change, and so the error, is about
                // d^2 / d_previous.
                const double estimate = (level >= 2 && d < prev) ? d * (d / prev) : d;
                if (!(estimate <= 0.1 * rtol * scale)) converged = false;
            }
        }
        if (converged) break;
    }

    // The limb piece's exactly integrated part, with the outer disk itself.
    for (std::size_t j = 0; j < nb; ++j) {
        const Basis& b = set.bases[j];
        const double at_cut = brightness(b, ws.cut[1]);
        ws.integral[0][j] += at_cut * outer.A;
        for (int q = 1; q < quantities; ++q) {
            if (!on_limb) {
                ws.integral[q][j] += at_cut * outer_value[q];
            } else {
                // b(0) times the infinite derivative (nothing for b(0) = 0).
                const double at_limb = brightness(b, 0.0);
                if (at_limb != 0.0) ws.integral[q][j] += at_limb * outer_value[q];
            }
        }
    }
}

}  // namespace

void basis_magnifications(double u, double rho, const LawSet& set, double rtol, bool derivatives,
                          Workspace& ws, double* basis) {
    const std::size_t nb = set.bases.size();
    const int quantities = derivatives ? 3 : 1;
    if (std::isnan(u)) {
        std::fill(basis, basis + quantities * nb, std::numeric_limits<double>::quiet_NaN());
        return;
    }
    if (u >= far_field_start * rho) {
        far_field(u, rho, set, rtol, quantities, ws);
    } else {
        near_field(u, rho, set, rtol, quantities, ws);
    }
    for (int q = 0; q < quantities; ++q) {
        std::copy(ws.integral[q].begin(), ws.integral[q].end(), basis + q * nb);
    }
}

void magnification(double u, double rho, const LawSet& set, double rtol, Workspace& ws, double* out) {
    if (std::isnan(u)) {
        std::fill(out, out + set.laws, std::numeric_limits<double>::quiet_NaN());
        return;
    }
    if (u >= far_field_start * rho) {
        far_field(u, rho, set, rtol, 1, ws);
    } else {
        near_field(u, rho, set, rtol, 1, ws);
    }
    for (std::size_t l = 0; l < set.laws; ++l) out[l] = law_sum(set, l, ws.integral[0].data()) / set.law_flux[l];
}

}  // namespace fspl
