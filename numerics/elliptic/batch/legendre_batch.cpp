// Choice of the lane width at run time, and the array entry points.
#include "numerics/elliptic/batch/legendre_batch.hpp"

namespace ellip::legendre::batch {

#if defined(__x86_64__)
const Kernels& avx2_kernels_unchecked() noexcept;  // legendre_batch_avx2.cpp

const Kernels* avx2_kernels() noexcept {
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return supported ? &avx2_kernels_unchecked() : nullptr;
}
#else
const Kernels* avx2_kernels() noexcept { return nullptr; }
#endif

const Kernels& selected_kernels() noexcept {
    static const Kernels& kernels = avx2_kernels() ? *avx2_kernels() : sse2_kernels();
    return kernels;
}

void ellipk(std::span<const double> m, std::span<EllipResult> out) noexcept {
    selected_kernels().ellipk(m.data(), out.data(), m.size());
}

void ellipe(std::span<const double> m, std::span<EllipResult> out) noexcept {
    selected_kernels().ellipe(m.data(), out.data(), m.size());
}

void ellippi(std::span<const double> n, std::span<const double> m,
             std::span<EllipResult> out) noexcept {
    selected_kernels().ellippi(n.data(), m.data(), out.data(), m.size());
}

}  // namespace ellip::legendre::batch
