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

// Beyond this many terms the rounding of M_k (a sum of terms of alternating
// sign) outgrows what further terms add; u >= 2 rho needs at most about 25
// for rtol = 1e-12.
constexpr int max_series_terms = lensing::MeanValueSeries::max_terms;

// One law's weighted sum over the bases.
double law_sum(const LawSet& set, std::size_t law, const double* per_basis) {
    const std::size_t nb = set.bases.size();
    double sum = 0.0;
    for (std::size_t j = 0; j < nb; ++j) {
        const double w = set.weights[law * nb + j];
        // A basis of zero weight adds nothing, even where its derivative is infinite.
        if (w != 0.0) sum += w * per_basis[j];
    }
    return sum;
}

// The far field of every row from its moments, with derivatives when asked:
// out[q * rows + r] for quantity q (A, d/du, d/drho) of row r, each the
// flux-weighted sum sum_j w_rj N_j.
void far_field(double u, double rho, const LawSet& set, double rtol, int quantities, double* out) {
    const std::size_t rows = set.laws;
    const double ratio = rho / u;
    const double x = ratio * ratio;
    lensing::MeanValueSeries series(u, quantities > 1);
    std::fill(out, out + quantities * rows, 0.0);
    // From u = 2 rho on, each term is at most about 0.6 (rho/u)^2 <= 0.15 of
    // the one before. The magnification stops at a term below a tenth of rtol
    // once the one before it, shrunk twice by (rho/u)^2, is too: the next
    // term is then small even where this one was small only by passing
    // through zero. The derivatives (promised to a hundred times rtol) stop
    // after two terms in a row below ten times rtol.
    constexpr std::size_t lookahead_rows = 8;
    double previous[lookahead_rows] = {};
    const bool lookahead = quantities == 1 && set.checked <= lookahead_rows;
    double xk = 1.0;
    int quiet = 0;
    const std::size_t terms = std::min<std::size_t>(set.terms, max_series_terms);
    for (std::size_t k = 0; k < terms; ++k) {
        double M, dM = 0.0;
        if (quantities > 1) {
            series.next(M, dM, u);
        } else {
            M = series.next();
        }
        // Term k, and of its derivatives: (rho/u)^2k depends on both.
        const double kk = static_cast<double>(k);
        const double t[3] = {M * xk, (dM - (2.0 * kk / u) * M) * xk, (2.0 * kk / rho) * M * xk};
        // Rows past the checked ones (a law's coefficient derivatives) need
        // their values only.
        bool more = false;
        for (int q = 0; q < quantities; ++q) {
            const double tolerance = (q == 0 ? 0.1 : 10.0) * rtol;
            for (std::size_t r = 0; r < (q == 0 ? rows : set.checked); ++r) {
                const double term = t[q] * set.law_moments[r * set.terms + k];
                double& total = out[q * rows + r];
                total += term;
                if (r >= set.checked) continue;
                const double bound = tolerance * std::fabs(total);
                if (lookahead) {
                    more = more || k == 0 || !(std::fabs(term) <= bound) || !(previous[r] * x * x <= bound);
                    previous[r] = std::fabs(term);
                } else {
                    more = more || !(std::fabs(term) <= bound);
                }
            }
        }
        quiet = more ? 0 : quiet + 1;
        if (quiet == (lookahead ? 1 : 2)) break;
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
std::size_t cut_pieces(double u, double rho, double mu_star, double grading, const LawSet& set,
                       Workspace& ws) {
    ws.cut.assign({0.0, 1.0});
    ws.cut_complement.assign({1.0, 0.0});
    if (u < rho) {
        const double x = u / rho;
        if (mu_star > 0.0 && mu_star < 1.0) {
            ws.cut.push_back(mu_star);
            ws.cut_complement.push_back(x * x / (1.0 + mu_star));
        }
    }
    for (double c = 8.0 * grading; grading > 0.0 && c < 0.4; c *= 8.0) {
        ws.cut.push_back(c);
        ws.cut_complement.push_back(1.0 - c);
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

// b'(mu) at a cut, for the truncation of the quadrature next to it.
double slope_at(const Basis& b, double mu, int segment) {
    switch (b.kind) {
    case BasisKind::power:
        return b.exponent == 0.0 ? 0.0 : b.exponent * std::pow(mu, b.exponent - 1.0);
    case BasisKind::power_log:
        return std::pow(mu, b.exponent - 1.0) * (b.exponent * std::log(mu) + 1.0);
    case BasisKind::table_mu:
        return b.slopes[segment];
    case BasisKind::table_r:
        return b.slopes[segment] * (-mu / std::sqrt((1.0 - mu) * (1.0 + mu)));
    }
    return 0.0;
}

// The largest step t of the nodes kept next to each end of each piece. A
// node beyond it lies within delta(t) * half-width of the end, and the part
// of the integral it stands for is about that length times the integrand
// there: delta(t) is kept below a hundredth of rtol, divided by the size of
// b'(mu) at the end relative to the law's flux where b' is large (next to,
// though not at, a limb singularity such as mu^(p-1)).
void truncations(std::size_t pieces, double rtol, bool derivatives, const LawSet& set, Workspace& ws) {
    // Derivatives diverge logarithmically where a disk's limb meets the lens,
    // and may be far smaller than their natural scale |A - 1|/rho (near
    // the centre, or where they change sign): they keep nodes a millionth
    // of rtol from the ends.
    const std::size_t nb = set.bases.size();
    ws.t_max.resize(2 * pieces);
    for (std::size_t p = 0; p < pieces; ++p) {
        for (int side = 0; side < 2; ++side) {
            const double end = ws.cut[p + static_cast<std::size_t>(side)];
            double ratio = 1.0;
            // At mu = 0 the limb piece has its singular part taken out; at 1,
            // b' is bounded.
            if (end > 0.0 && end < 1.0) {
                for (std::size_t l = 0; l < set.laws; ++l) {
                    double sum = 0.0;
                    for (std::size_t j = 0; j < nb; ++j) {
                        const double w = set.weights[l * nb + j];
                        if (w != 0.0) sum += w * slope_at(set.bases[j], end, ws.segment[p * nb + j]);
                    }
                    ratio = std::max(ratio, std::fabs(sum) / std::fabs(set.law_flux[l]));
                }
            }
            const double half = 0.5 * (ws.cut[p + 1] - ws.cut[p]);
            // delta(t) = 2 / (exp(pi sinh t) + 1) <= 0.01 rtol / (ratio * half * 2)
            const double bound = 0.01 * rtol * (derivatives ? 1e-6 : 1.0) / (ratio * std::max(half * 2.0, 1e-300));
            ws.t_max[2 * p + static_cast<std::size_t>(side)] =
                bound >= 1.0 ? 0.0 : std::asinh(std::log(2.0 / bound) / numerics::PI);
        }
    }
}

// The nodes of one level on every piece: mu, 1 - mu, mu - mu_star (mu_star
// the cut where the inner disk's limb passes the lens; exact next to it) and
// the weight.
void level_nodes(std::size_t level, std::size_t pieces, double mu_star, Workspace& ws) {
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
        if (!ws.active[p]) continue;
        const double a = ws.cut[p], b = ws.cut[p + 1];
        const double ca = ws.cut_complement[p], cb = ws.cut_complement[p + 1];
        const double half = 0.5 * (b - a);
        const double t_a = ws.t_max[2 * p], t_b = ws.t_max[2 * p + 1];
        for (const ts::Node& node : ts::LEVEL_NODES[level]) {
            if (node.t > t_a && node.t > t_b) break;
            const double dist = half * node.delta;
            if (node.t == 0.0) {
                add(a, dist, ca - dist, half * node.weight, p);
                continue;
            }
            if (node.t <= t_a) add(a, dist, ca - dist, half * node.weight, p);
            if (node.t <= t_b) add(b, -dist, cb + dist, half * node.weight, p);
        }
    }
}

// Whether some law's b'(mu) is unbounded at the limb (mu^(p-1) with p < 1,
// or ln mu): then pieces that end close to, but not at, mu = 0 are graded.
bool singular_at_limb(const LawSet& set) {
    const std::size_t nb = set.bases.size();
    for (std::size_t j = 0; j < nb; ++j) {
        const Basis& b = set.bases[j];
        const bool singular = (b.kind == BasisKind::power && b.exponent > 0.0 && b.exponent < 1.0) ||
                              (b.kind == BasisKind::power_log && b.exponent <= 1.0);
        if (!singular) continue;
        for (std::size_t l = 0; l < set.laws; ++l) {
            if (set.weights[l * nb + j] != 0.0) return true;
        }
    }
    return false;
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
    // A limb singularity of b' just outside the piece beyond mu_star slows the
    // quadrature there: cuts at mu_star * 8^k keep it a piece-width away.
    const double grading = singular_at_limb(set) && mu_star > 0.0 && mu_star < 0.05 ? mu_star : 0.0;
    const std::size_t pieces = cut_pieces(u, rho, mu_star, grading, set, ws);
    truncations(pieces, rtol, quantities > 1, set, ws);

    // Each piece is refined until the change of its last level, for every law
    // and quantity, is below its share of a tenth of rtol times the size of
    // that quantity: for the magnification the law's flux times the outer
    // disk's, for a derivative the law's current estimate of it (at least a
    // billionth of |A - 1|/rho times the flux, so that a vanishing derivative
    // does not demand digits it has not got). The change bounds the error of
    // the level before, so the result, one level finer, is well inside it.
    const double derivative_floor = 1e-9 * std::fabs(outer.A - 1.0) / rho;
    const double share = 0.1 * rtol / static_cast<double>(pieces);
    const std::size_t stride = nb * pieces;
    for (int q = 0; q < quantities; ++q) {
        ws.integral[q].assign(stride, 0.0);
        ws.change[q].assign(stride, 0.0);
    }
    // Each law's exactly integrated part of the derivatives (limb piece).
    for (int q = 1; q < quantities; ++q) {
        ws.term[q].assign(set.checked, 0.0);
        for (std::size_t l = 0; l < set.checked; ++l) {
            for (std::size_t j = 0; j < nb; ++j) {
                const double w = set.weights[l * nb + j];
                if (w != 0.0) ws.term[q][l] += w * brightness(set.bases[j], ws.cut[1]) * outer_value[q];
            }
        }
    }
    ws.active.assign(pieces, 1);
    for (std::size_t level = 0; level < ts::LEVELS; ++level) {
        level_nodes(level, pieces, mu_star, ws);
        const std::size_t count = ws.mu.size();
        if (count == 0) break;
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
        // This level's sums, per piece and basis, into `change`.
        for (int q = 0; q < quantities; ++q) std::fill(ws.change[q].begin(), ws.change[q].end(), 0.0);
        for (std::size_t j = 0; j < nb; ++j) {
            if (!basis_slopes(set.bases[j], j, nb, ws, count)) continue;
            for (int q = 0; q < quantities; ++q) {
                const double* v = ws.value[q].data();
                double* sum = ws.change[q].data();
                for (std::size_t i = 0; i < count; ++i) sum[ws.piece[i] * nb + j] += ws.slope[i] * v[i];
            }
        }
        for (std::size_t p = 0; p < pieces; ++p) {
            if (!ws.active[p]) continue;
            bool converged = level > 0;
            for (int q = 0; q < quantities; ++q) {
                for (std::size_t j = 0; j < nb; ++j) {
                    double& I = ws.integral[q][p * nb + j];
                    double& change = ws.change[q][p * nb + j];
                    const double before = I;
                    I = level == 0 ? change : 0.5 * before + change;
                    change = I - before;
                }
                for (std::size_t l = 0; l < set.checked && converged; ++l) {
                    double scale = std::fabs(set.law_flux[l]) * outer.A;
                    if (q > 0) {
                        double total = ws.term[q][l];
                        for (std::size_t k = 0; k < pieces; ++k) total += law_sum(set, l, ws.integral[q].data() + k * nb);
                        scale = std::max(std::fabs(total), std::fabs(set.law_flux[l]) * derivative_floor);
                    }
                    const double d = std::fabs(law_sum(set, l, ws.change[q].data() + p * nb));
                    converged = d <= share * scale;
                }
            }
            if (converged) ws.active[p] = 0;
        }
        if (std::find(ws.active.begin(), ws.active.end(), 1) == ws.active.end()) break;
    }

    // The pieces' sums, and the limb piece's exactly integrated part with the
    // outer disk itself.
    for (int q = 0; q < quantities; ++q) {
        for (std::size_t j = 0; j < nb; ++j) {
            double total = 0.0;
            for (std::size_t p = 0; p < pieces; ++p) total += ws.integral[q][p * nb + j];
            ws.integral[q][j] = total;
        }
        ws.integral[q].resize(nb);
    }
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

void magnification(double u, double rho, const LawSet& set, double rtol, Workspace& ws, double* out) {
    if (std::isnan(u)) {
        std::fill(out, out + set.laws, std::numeric_limits<double>::quiet_NaN());
        return;
    }
    if (u >= far_field_start * rho) {
        far_field(u, rho, set, rtol, 1, out);
    } else {
        near_field(u, rho, set, rtol, 1, ws);
        for (std::size_t r = 0; r < set.laws; ++r) out[r] = law_sum(set, r, ws.integral[0].data());
    }
    for (std::size_t r = 0; r < set.laws; ++r) out[r] /= set.law_flux[r];
}

void magnification_and_derivatives(double u, double rho, const LawSet& set, double rtol, Workspace& ws,
                                   double* out) {
    const std::size_t rows = set.laws;
    if (std::isnan(u)) {
        std::fill(out, out + 3 * rows, std::numeric_limits<double>::quiet_NaN());
        return;
    }
    if (u >= far_field_start * rho) {
        far_field(u, rho, set, rtol, 3, out);
        return;
    }
    near_field(u, rho, set, rtol, 3, ws);
    for (int q = 0; q < 3; ++q) {
        for (std::size_t r = 0; r < rows; ++r) out[q * rows + r] = law_sum(set, r, ws.integral[q].data());
    }
}

}  // namespace fspl
