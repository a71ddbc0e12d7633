// The uniform-disk magnification for one lens position u and many radii:
// out[i] = uniform_disk(u, R[i]), in lanes of two (SSE2) or four (AVX2, chosen
// at run time) doubles. No allocation, no exceptions.
#pragma once

#include <cstddef>

namespace lensing {

// out[i] = A(u, R[i]) given d[i] = u - R[i]; with derivatives also
// du[i] = dA/du and dR[i] = dA/dR (du and dR null: none).
using UniformDiskBatch = void (*)(double u, const double* R, const double* d, double* out, double* du,
                                  double* dR, std::size_t count) noexcept;

UniformDiskBatch uniform_disk_batch_sse2() noexcept;
// Null where the processor does not support AVX2.
UniformDiskBatch uniform_disk_batch_avx2() noexcept;

void uniform_disk_batch(double u, const double* R, const double* d, double* out, double* du, double* dR,
                        std::size_t count) noexcept;

}  // namespace lensing
