// Horner's rule in lanes, with the coefficient tables of legendre_tables.hpp
// (highest power first): the same multiply-then-add steps as the scalar rule.
#pragma once

#include <array>
#include <cstddef>

#include "numerics/simd/lanes.hpp"

namespace ellip::legendre::batch {

template <class V, std::size_t N>
inline V horner_lanes(const std::array<double, N>& coefficients, V x) noexcept {
    V result = simd::broadcast<V>(coefficients[0]);
    for (std::size_t i = 1; i < N; ++i) result = result * x + coefficients[i];
    return result;
}

}  // namespace ellip::legendre::batch
