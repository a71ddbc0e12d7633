// The array loops behind legendre_batch.hpp for one lane type: whole groups of
// lanes, then the remainder padded with copies of the last argument. Included
// by the translation unit of each instruction set.
#pragma once

#include <algorithm>
#include <cstddef>

#include "numerics/elliptic/batch/ellipe_lanes.hpp"
#include "numerics/elliptic/batch/ellipk_lanes.hpp"
#include "numerics/elliptic/batch/ellippi_lanes.hpp"
#include "numerics/elliptic/batch/legendre_batch.hpp"
#include "numerics/simd/lanes.hpp"

namespace ellip::legendre::batch {

// Calls lanes_fn(V args..., EllipResult* out) over count sets of arguments.
template <class V, class LanesFn, class... Arrays>
inline void over_lanes(LanesFn lanes_fn, EllipResult* out, std::size_t count,
                       const Arrays*... args) noexcept {
    constexpr std::size_t N = simd::lanes<V>;
    std::size_t i = 0;
    for (; i + N <= count; i += N) lanes_fn(simd::load<V>(args + i)..., out + i);
    if (i == count) return;
    EllipResult tail[N];
    const auto padded = [&](const double* a) {
        V v;
        for (std::size_t j = 0; j < N; ++j) v[j] = a[std::min(i + j, count - 1)];
        return v;
    };
    lanes_fn(padded(args)..., tail);
    std::copy(tail, tail + (count - i), out + i);
}

template <class V>
void ellipk_array(const double* m, EllipResult* out, std::size_t count) noexcept {
    over_lanes<V>([](V a, EllipResult* o) { ellipk_lanes(a, o); }, out, count, m);
}

template <class V>
void ellipe_array(const double* m, EllipResult* out, std::size_t count) noexcept {
    over_lanes<V>([](V a, EllipResult* o) { ellipe_lanes(a, o); }, out, count, m);
}

template <class V>
void ellippi_array(const double* n, const double* m, EllipResult* out, std::size_t count) noexcept {
    over_lanes<V>([](V a, V b, EllipResult* o) { ellippi_lanes(a, b, o); }, out, count, n, m);
}

template <class V>
inline constexpr Kernels kernels_for(const char* name) noexcept {
    return {name, &ellipk_array<V>, &ellipe_array<V>, &ellippi_array<V>};
}

}  // namespace ellip::legendre::batch
