#include "numerics/interpolation/interp.hpp"

#include <algorithm>
#include <cstddef>

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

}  // namespace

double interp(std::span<const double> xs, std::span<const double> ys, double xp,
              const OutOfRangePolicy& policy) noexcept {
    const std::size_t n = std::min(xs.size(), ys.size());
    if (n == 0) {
        return 0.0;
    }
    if (n == 1) {
        return ys[0];
    }

    // A linear scan rather than bisection: it defines the segment for unsorted
    // tables too. Counting past n cannot change the capped index, so stop there.
    std::size_t k = 0;
    while (k < n && xs[k] < xp) {
        ++k;
    }
    const std::size_t i = std::min(k == 0 ? 0 : k - 1, n - 2);

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

}  // namespace interp
