// Lanes of doubles: a few independent evaluations of the same scalar
// operations carried side by side in one SIMD register. Each lane's arithmetic
// and square root are the IEEE operations of the scalar code, so a lane gives
// the scalar result bit for bit as long as the operations and their order are
// the same. f64x2 is the SSE2 baseline of x86-64 (elsewhere the compiler's
// generic vectors); f64x4 exists only where the translation unit is compiled
// for AVX.
#pragma once

#include <cmath>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#ifdef __AVX__
#include <immintrin.h>
#endif

namespace simd {

using f64x2 = double __attribute__((vector_size(16)));
using i64x2 = std::int64_t __attribute__((vector_size(16)));

template <class V>
struct LaneTraits;

template <>
struct LaneTraits<f64x2> {
    static constexpr int size = 2;
    using Mask = i64x2;
};

#ifdef __SSE2__
inline f64x2 sqrt(f64x2 x) noexcept { return _mm_sqrt_pd(x); }
inline bool any(i64x2 mask) noexcept { return _mm_movemask_pd(reinterpret_cast<__m128d>(mask)) != 0; }
#else
inline f64x2 sqrt(f64x2 x) noexcept { return f64x2{std::sqrt(x[0]), std::sqrt(x[1])}; }
inline bool any(i64x2 mask) noexcept { return (mask[0] | mask[1]) != 0; }
#endif

#ifdef __AVX__
using f64x4 = double __attribute__((vector_size(32)));
using i64x4 = std::int64_t __attribute__((vector_size(32)));

template <>
struct LaneTraits<f64x4> {
    static constexpr int size = 4;
    using Mask = i64x4;
};

inline f64x4 sqrt(f64x4 x) noexcept { return _mm256_sqrt_pd(x); }
inline bool any(i64x4 mask) noexcept {
    return _mm256_movemask_pd(reinterpret_cast<__m256d>(mask)) != 0;
}
#endif

// Number of lanes of V, and the type of a lane-wise comparison (all bits set
// in a lane where it holds, none where it does not).
template <class V>
inline constexpr int lanes = LaneTraits<V>::size;
template <class V>
using Mask = typename LaneTraits<V>::Mask;

// Every lane x. (Written lane by lane: 0.0 + x would turn −0 into +0.)
template <class V>
inline V broadcast(double x) noexcept {
    V v;
    for (int i = 0; i < lanes<V>; ++i) v[i] = x;
    return v;
}

template <class V>
inline V load(const double* p) noexcept {
    V v;
    for (int i = 0; i < lanes<V>; ++i) v[i] = p[i];
    return v;
}

// mask ? a : b, lane by lane.
template <class V>
inline V select(Mask<V> mask, V a, V b) noexcept {
    return reinterpret_cast<V>((reinterpret_cast<Mask<V>>(a) & mask) |
                               (reinterpret_cast<Mask<V>>(b) & ~mask));
}

// |x|: the sign bit cleared, as the scalar fabs does.
template <class V>
inline V fabs(V x) noexcept {
    return reinterpret_cast<V>(reinterpret_cast<Mask<V>>(x) & INT64_MAX);
}

}  // namespace simd
