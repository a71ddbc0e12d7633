// Magnification of a finite source with any radially symmetric brightness,
// for several laws at once, each law a weighted sum of basis profiles.
//
// A law I = sum_j w_j b_j with fluxes F_j = integral_0^1 2 r b_j dr gives
//   A = sum_j w_j N_j / sum_j w_j F_j,
// N_j the flux-weighted magnification of basis j. Far from the source
// (u >= 2 rho) N_j comes from the mean-value series in the basis' moments;
// near it, from the basis as a sum of uniform disks,
//   N_j = b_j(0) A_disk(u, rho) + integral_0^1 b_j'(mu) (1 - mu^2) A_disk(u, rho sqrt(1 - mu^2)) dmu,
// by tanh-sinh quadrature on pieces of [0, 1] cut where the inner disk's limb
// passes the lens and at the breakpoints of tabulated profiles. On the piece
// that touches the limb the constant A_disk(u, rho) is taken out of the
// integrand and integrated exactly, which removes the limb singularity of
// b_j' (mu^(p-1), ln mu) from what the quadrature sees. The bases share every
// disk evaluation; refinement stops when every law's estimated error is below
// its share of rtol.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace fspl {

enum class BasisKind : int { power = 0, power_log = 1, table_mu = 2, table_r = 3 };

// One basis profile b(mu), mu = sqrt(1 - r^2).
struct Basis {
    BasisKind kind = BasisKind::power;
    double exponent = 0.0;            // power: b = mu^p; power_log: b = mu^p ln mu
    double flux = 1.0;                // integral_0^1 2 r b dr
    std::span<const double> moments;  // <r^{2k}> over b (k = 0, 1, ...; the first is 1)
    // Tables: mu at the breakpoints (ascending, 0 to 1), the brightness there,
    // and per segment the slope dI/dmu (table_mu) or dI/dr (table_r).
    std::span<const double> breaks;
    std::span<const double> values;
    std::span<const double> slopes;
};

// Rows of weights on the bases: the laws, and with derivatives also the
// derivatives of the laws' weights in their coefficients.
struct LawSet {
    std::span<const Basis> bases;
    std::span<const double> weights;  // rows x bases, row-major
    std::size_t laws = 0;             // rows
    std::size_t checked = 0;          // the first rows, which set the accuracy
    std::span<const double> law_flux;  // per row: sum_j w_j F_j (non-zero for checked rows)
    // Per row, its moments sum_j w_j F_j <r^2k>_j: rows x terms.
    std::span<const double> law_moments;
    std::size_t terms = 0;
};

// Buffers kept from one position to the next, so that a run of positions
// allocates only at its start.
struct Workspace {
    std::vector<double> cut, cut_complement;
    std::vector<double> mu, one_minus_mu, from_star, r2, radius, gap, weight, slope;
    std::vector<double> value[3];  // the integrand less b'(mu): A, dA/du, dA/drho
    std::vector<int> piece;
    std::vector<double> t_max;  // per piece end
    std::vector<char> active;   // per piece: still refined
    std::vector<int> segment;  // piece x basis: the table segment, or -1
    std::vector<double> integral[3], change[3];
    std::vector<double> term[3];  // per law: the exactly integrated part of a derivative
};

// The magnification of each row (law): out[r] = sum_j w_rj N_j / law_flux[r],
// N_j = F_j A_j the flux-weighted magnification of basis j, within rtol for
// every checked row. A NaN u gives NaN. u >= 0, rho > 0.
void magnification(double u, double rho, const LawSet& set, double rtol, Workspace& ws, double* out);

// The flux-weighted sums sum_j w_rj N_j of every row and their derivatives in
// u and rho: out[q * rows + r], q = 0, 1, 2 (the derivatives for the checked
// rows only; zero for the others). Derivatives within about 10 rtol.
void magnification_and_derivatives(double u, double rho, const LawSet& set, double rtol, Workspace& ws,
                                   double* out);

// The switch between the two methods, in source radii.
inline constexpr double far_field_start = 2.0;

}  // namespace fspl
