// The batch loop of uniform_disk_batch for one lane type: whole lanes, then
// the remainder padded with a copy of the last radius.
#pragma once

#include <cstddef>

#include "numerics/lensing/uniform_disk.hpp"
#include "numerics/lensing/uniform_disk_batch.hpp"

namespace lensing::detail {

template <class V, bool with_derivatives>
void uniform_disk_lanes_for(double u, const double* R, const double* d, double* out, double* du, double* dR,
                            std::size_t count) noexcept {
    constexpr std::size_t width = simd::lanes<V>;
    const V uv = simd::broadcast<V>(u);
    auto store = [&](const DiskWithDerivatives<V>& a, std::size_t i, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) {
            out[i + k] = a.A[k];
            if constexpr (with_derivatives) {
                du[i + k] = a.dA_du[k];
                dR[i + k] = a.dA_dR[k];
            }
        }
    };
    std::size_t i = 0;
    for (; i + width <= count; i += width) {
        store(uniform_disk_and_derivatives<V, with_derivatives>(uv, simd::load<V>(R + i), simd::load<V>(d + i)), i,
              width);
    }
    if (i < count) {
        V r = simd::broadcast<V>(R[count - 1]);
        V dv = simd::broadcast<V>(d[count - 1]);
        for (std::size_t k = 0; i + k < count; ++k) {
            r[k] = R[i + k];
            dv[k] = d[i + k];
        }
        store(uniform_disk_and_derivatives<V, with_derivatives>(uv, r, dv), i, count - i);
    }
}

template <class V>
void uniform_disk_lanes(double u, const double* R, const double* d, double* out, double* du, double* dR,
                        std::size_t count) noexcept {
    if (du == nullptr) {
        uniform_disk_lanes_for<V, false>(u, R, d, out, nullptr, nullptr, count);
    } else {
        uniform_disk_lanes_for<V, true>(u, R, d, out, du, dR, count);
    }
}

}  // namespace lensing::detail
