// The uniform-disk magnification for one lens position u and many radii:
// out[i] = uniform_disk(u, R[i]), in lanes of two (SSE2) or four (AVX2, chosen
// at run time) doubles. No allocation, no exceptions.
#pragma once

#include <cstddef>

namespace lensing {

using UniformDiskBatch = void (*)(double u, const double* R, double* out, std::size_t count) noexcept;

UniformDiskBatch uniform_disk_batch_sse2() noexcept;
// Null where the processor does not support AVX2.
UniformDiskBatch uniform_disk_batch_avx2() noexcept;

void uniform_disk_batch(double u, const double* R, double* out, std::size_t count) noexcept;

}  // namespace lensing
