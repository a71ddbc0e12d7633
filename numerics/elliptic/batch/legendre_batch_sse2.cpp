// The two-double lanes: SSE2, the baseline of every x86-64 processor (the
// compiler's generic vectors elsewhere).
#include "numerics/elliptic/batch/legendre_batch_arrays.hpp"

namespace ellip::legendre::batch {

const Kernels& sse2_kernels() noexcept {
    static constexpr Kernels kernels = kernels_for<simd::f64x2>("sse2");
    return kernels;
}

}  // namespace ellip::legendre::batch
