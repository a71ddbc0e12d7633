// The AVX2 lanes (four doubles). This file alone is compiled for AVX2, without
// FMA; it is reached only through avx2_kernels(), after a run-time check.
#include "numerics/elliptic/batch/legendre_batch_arrays.hpp"

#ifndef __AVX2__
#error "compile this file with -mavx2"
#endif
#ifdef __FMA__
#error "this file must not be compiled with FMA: results are compared bit for bit"
#endif

namespace ellip::legendre::batch {

const Kernels& avx2_kernels_unchecked() noexcept {
    static constexpr Kernels kernels = kernels_for<simd::f64x4>("avx2");
    return kernels;
}

}  // namespace ellip::legendre::batch
