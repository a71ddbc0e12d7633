// K, E and Π over arrays of arguments, several at a time: out[i] is, bit for
// bit, what legendre::ellipk(m[i]), ellipe(m[i]) or ellippi(n[i], m[i])
// returns, messages included. The arguments are evaluated in lanes (two with
// SSE2, four where the processor has AVX2, chosen once at run time).
// No allocation, no exceptions.
#pragma once

#include <cstddef>
#include <span>

#include "numerics/elliptic/ellip_result.hpp"

namespace ellip::legendre::batch {

// Each requires out.size() == m.size() (and n.size() == m.size()).
void ellipk(std::span<const double> m, std::span<EllipResult> out) noexcept;
void ellipe(std::span<const double> m, std::span<EllipResult> out) noexcept;
void ellippi(std::span<const double> n, std::span<const double> m,
             std::span<EllipResult> out) noexcept;

// The implementation for one instruction set.
struct Kernels {
    const char* name;
    void (*ellipk)(const double* m, EllipResult* out, std::size_t count) noexcept;
    void (*ellipe)(const double* m, EllipResult* out, std::size_t count) noexcept;
    void (*ellippi)(const double* n, const double* m, EllipResult* out, std::size_t count) noexcept;
};

const Kernels& sse2_kernels() noexcept;
// Null where the processor (or the operating system) does not support AVX2.
const Kernels* avx2_kernels() noexcept;
// The one the functions above use: AVX2 where available, else SSE2.
const Kernels& selected_kernels() noexcept;

}  // namespace ellip::legendre::batch
