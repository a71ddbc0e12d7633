// Piecewise-linear interpolation in a table (xs, ys) of ascending abscissae,
// with a choice of value outside the table.
#pragma once

#include <cstddef>
#include <span>

namespace interp {

// What interp returns for a point strictly outside [xs[0], xs[n-1]].
struct OutOfRangePolicy {
    enum class Kind : unsigned char {
        ExtendLine,    // the line of the end segment
        EndValues,     // the first or last tabulated value
        ConstantValue, // value, as is
    };
    Kind kind;
    double value;  // used by ConstantValue only

    static constexpr OutOfRangePolicy ExtendLine() noexcept { return {Kind::ExtendLine, 0.0}; }
    static constexpr OutOfRangePolicy EndValues() noexcept { return {Kind::EndValues, 0.0}; }
    static constexpr OutOfRangePolicy ConstantValue(double v) noexcept { return {Kind::ConstantValue, v}; }
};

// Interpolates at xp on the first n = min(|xs|, |ys|) entries: 0.0 for an
// empty table, ys[0] for one entry. The segment is found by a forward scan
// (the number of leading xs strictly below xp), so points at or below xs[0]
// use the first segment and points above xs[n-1] the last. The table is not
// checked: a repeated abscissa gives a non-finite slope on its segment, and a
// NaN xp gives NaN under every policy.
double interp(std::span<const double> xs, std::span<const double> ys, double xp,
              const OutOfRangePolicy& policy) noexcept;

// interp for a table whose first n abscissae are ascending (is_ascending):
// the same segment and so the same bits, found in O(log n) from any hint and
// in one or two probes from a hint at or next to the number of abscissae
// below xp (for evenly spaced abscissae, ceil((xp - xs[0]) / spacing)).
double interp_ascending(std::span<const double> xs, std::span<const double> ys, double xp,
                        const OutOfRangePolicy& policy, std::size_t hint) noexcept;

// True if no entry of xs is NaN or below its predecessor (repeats allowed):
// then the entries strictly below any xp, NaN included, form a prefix, and a
// search that bisects it counts exactly what the forward scan counts.
bool is_ascending(std::span<const double> xs) noexcept;

// The segment index i (0 <= i <= n - 2) that interp uses on a table of
// n = |xs| >= 2 abscissae: by the forward scan, and by the search of
// interp_ascending for ascending tables.
std::size_t scan_segment(std::span<const double> xs, double xp) noexcept;
std::size_t ascending_segment(std::span<const double> xs, double xp, std::size_t hint) noexcept;

}  // namespace interp
