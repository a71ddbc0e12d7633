// AVX2 lanes (four doubles). Only this file is compiled for AVX2, without FMA;
// it is reached through uniform_disk_batch_avx2(), after a run-time check.
#include "numerics/lensing/uniform_disk_lanes.hpp"

#ifndef __AVX2__
#error "compile this file with -mavx2"
#endif

namespace lensing {

UniformDiskBatch uniform_disk_batch_avx2_unchecked() noexcept {
    return &detail::uniform_disk_lanes<simd::f64x4>;
}

}  // namespace lensing
