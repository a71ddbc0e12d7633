// The batch loop of uniform_disk_batch for one lane type: whole lanes, then
// the remainder padded with a copy of the last radius.
#pragma once

#include <cstddef>

#include "numerics/lensing/uniform_disk.hpp"
#include "numerics/lensing/uniform_disk_batch.hpp"

namespace lensing::detail {

template <class V>
void uniform_disk_lanes(double u, const double* R, double* out, std::size_t count) noexcept {
    constexpr std::size_t width = simd::lanes<V>;
    const V uv = simd::broadcast<V>(u);
    std::size_t i = 0;
    for (; i + width <= count; i += width) {
        const V a = uniform_disk(uv, simd::load<V>(R + i));
        for (std::size_t k = 0; k < width; ++k) out[i + k] = a[k];
    }
    if (i < count) {
        V r = simd::broadcast<V>(R[count - 1]);
        for (std::size_t k = 0; i + k < count; ++k) r[k] = R[i + k];
        const V a = uniform_disk(uv, r);
        for (std::size_t k = 0; i + k < count; ++k) out[i + k] = a[k];
    }
}

}  // namespace lensing::detail
