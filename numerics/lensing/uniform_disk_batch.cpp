// SSE2 lanes (the x86-64 baseline) and the choice of lane width at run time.
#include "numerics/lensing/uniform_disk_batch.hpp"

#include "numerics/lensing/uniform_disk_lanes.hpp"

namespace lensing {

UniformDiskBatch uniform_disk_batch_sse2() noexcept { return &detail::uniform_disk_lanes<simd::f64x2>; }

#if defined(__x86_64__)
UniformDiskBatch uniform_disk_batch_avx2_unchecked() noexcept;  // uniform_disk_batch_avx2.cpp

UniformDiskBatch uniform_disk_batch_avx2() noexcept {
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return supported ? uniform_disk_batch_avx2_unchecked() : nullptr;
}
#else
UniformDiskBatch uniform_disk_batch_avx2() noexcept { return nullptr; }
#endif

void uniform_disk_batch(double u, const double* R, const double* d, double* out, double* du, double* dR,
                        std::size_t count) noexcept {
    static const UniformDiskBatch selected =
        uniform_disk_batch_avx2() ? uniform_disk_batch_avx2() : uniform_disk_batch_sse2();
    selected(u, R, d, out, du, dR, count);
}

}  // namespace lensing
