#include "numerics/interpolation/interp.hpp"

#include <algorithm>
#include <cmath>

namespace interp {

namespace {

double outside(const OutOfRangePolicy& policy, double line, double end_value) noexcept {
    switch (policy.kind) {
        case OutOfRangePolicy::Kind::ExtendLine: return line;
        case OutOfRangePolicy::Kind::EndValues: return end_value;
        case OutOfRangePolicy::Kind::ConstantValue: return policy.value;
    }
    return policy.value;
}

// The number of leading abscissae below xp, by a forward scan: this defines
// the segment for unsorted tables too.
std::size_t count_below_by_scan(std::span<const double> xs, double xp) noexcept {
    std::size_t k = 0;
    while (k < xs.size() && xs[k] < xp) {
        ++k;
    }
    return k;
}

// The same count for an ascending table, from a hint of it: one or two probes
// from a hint at or next to the count, O(log n) from any other. Steps of
// doubling length from the hint bracket the count and bisection ends inside
// the bracket; as the entries below xp form a prefix, each probe bounds the
// count from one side.
std::size_t count_below_ascending(std::span<const double> xs, double xp,
                                  std::size_t hint) noexcept {
    const std::size_t n = xs.size();
    if (!(xs[0] < xp)) {
        return 0;  // a NaN xp too
    }
    if (xs[n - 1] < xp) {
        return n;
    }
    // Now xs[0] < xp <= xs[n-1]: the count k lies in [1, n - 1].
    const std::size_t g = std::clamp<std::size_t>(hint, 1, n - 1);
    std::size_t lo = g;  // xs[lo - 1] < xp once the bracket is found
    std::size_t hi = g;  // xs[hi] >= xp likewise
    if (xs[g - 1] < xp) {
        // k >= g: climb, at the latest to xs[n - 1] >= xp.
        for (std::size_t step = 1; xs[hi] < xp; step *= 2) {
            lo = hi + 1;
            hi = std::min(hi + step, n - 1);
        }
    } else {
        // k < g, so g >= 2 as xs[0] < xp: descend, at the latest to xs[0].
        hi = g - 1;
        std::size_t probe = hi - 1;
        for (std::size_t step = 1; !(xs[probe] < xp); step *= 2) {
            hi = probe;
            probe = probe > step ? probe - step : 0;
        }
        lo = probe + 1;
    }
    return static_cast<std::size_t>(std::lower_bound(xs.begin() + lo, xs.begin() + hi, xp) -
                                    xs.begin());
}

// k leading abscissae below xp select segment k - 1, capped to [0, n - 2].
std::size_t segment_of_count(std::size_t k, std::size_t n) noexcept {
    return std::min(k == 0 ? 0 : k - 1, n - 2);
}

// The interpolation on the first n entries, with the count of abscissae below
// xp among those n taken by count_below.
template <class CountBelow>
double interpolate(std::span<const double> xs, std::span<const double> ys, double xp,
                   const OutOfRangePolicy& policy, CountBelow count_below) noexcept {
    const std::size_t n = std::min(xs.size(), ys.size());
    if (n == 0) {
        return 0.0;
    }
    if (n == 1) {
        return ys[0];
    }
    const std::size_t i = segment_of_count(count_below(xs.first(n), xp), n);

    // Only the chosen segment's line is formed.
    const double m = (ys[i + 1] - ys[i]) / (xs[i + 1] - xs[i]);
    const double c = ys[i] - xs[i] * m;
    const double line = m * xp + c;

    if (xp < xs[0]) {
        return outside(policy, line, ys[0]);
    }
    if (xp > xs[n - 1]) {
        return outside(policy, line, ys[n - 1]);
    }
    return line;
}

}  // namespace

std::size_t scan_segment(std::span<const double> xs, double xp) noexcept {
    return segment_of_count(count_below_by_scan(xs, xp), xs.size());
}

std::size_t ascending_segment(std::span<const double> xs, double xp, std::size_t hint) noexcept {
    return segment_of_count(count_below_ascending(xs, xp, hint), xs.size());
}

bool is_ascending(std::span<const double> xs) noexcept {
    for (std::size_t i = 1; i < xs.size(); ++i) {
        if (!(xs[i - 1] <= xs[i])) {
            return false;
        }
    }
    return xs.size() != 1 || !std::isnan(xs[0]);
}

double interp(std::span<const double> xs, std::span<const double> ys, double xp,
              const OutOfRangePolicy& policy) noexcept {
    return interpolate(xs, ys, xp, policy, count_below_by_scan);
}

double interp_ascending(std::span<const double> xs, std::span<const double> ys, double xp,
                        const OutOfRangePolicy& policy, std::size_t hint) noexcept {
    return interpolate(xs, ys, xp, policy, [hint](std::span<const double> table, double x) {
        return count_below_ascending(table, x, hint);
    });
}

}  // namespace interp
