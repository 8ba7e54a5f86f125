// AVX-512 (VL) lane helpers on 256-bit registers. Compares go to a lane mask;
// the ordered greater-than is false for NaN, like the scalar `v > 0`.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace vorn::simd {

inline constexpr char backend_name[] = "avx512";

template <class T>
inline constexpr int lanes = static_cast<int>(32 / sizeof(T));

template <class T>
struct Vec;
template <>
struct Vec<double> {
  __m256d v;
};
template <>
struct Vec<float> {
  __m256 v;
};

inline Vec<double> load(double const* p) { return {_mm256_loadu_pd(p)}; }
inline Vec<float> load(float const* p) { return {_mm256_loadu_ps(p)}; }
inline void store(double* p, Vec<double> a) { _mm256_storeu_pd(p, a.v); }
inline void store(float* p, Vec<float> a) { _mm256_storeu_ps(p, a.v); }

template <class T>
inline Vec<T> broadcast(T x) {
  if constexpr (sizeof(T) == 8) {
    return {_mm256_set1_pd(x)};
  } else {
    return {_mm256_set1_ps(x)};
  }
}

inline Vec<double> sub(Vec<double> a, Vec<double> b) { return {_mm256_sub_pd(a.v, b.v)}; }
inline Vec<float> sub(Vec<float> a, Vec<float> b) { return {_mm256_sub_ps(a.v, b.v)}; }
inline Vec<double> mul(Vec<double> a, Vec<double> b) { return {_mm256_mul_pd(a.v, b.v)}; }
inline Vec<float> mul(Vec<float> a, Vec<float> b) { return {_mm256_mul_ps(a.v, b.v)}; }
inline Vec<double> fma(Vec<double> a, Vec<double> b, Vec<double> c) {
  return {_mm256_fmadd_pd(a.v, b.v, c.v)};
}
inline Vec<float> fma(Vec<float> a, Vec<float> b, Vec<float> c) {
  return {_mm256_fmadd_ps(a.v, b.v, c.v)};
}

// One 32-bit counter per lane (64-bit lanes for double hold small counts too).
template <class T>
struct LaneCounts {
  __m256i n = _mm256_setzero_si256();
};

inline void count_positive(LaneCounts<double>& counts, Vec<double> a) {
  __mmask8 outside = _mm256_cmp_pd_mask(a.v, _mm256_setzero_pd(), _CMP_GT_OQ);
  counts.n = _mm256_mask_add_epi64(counts.n, outside, counts.n, _mm256_set1_epi64x(1));
}
inline void count_positive(LaneCounts<float>& counts, Vec<float> a) {
  __mmask8 outside = _mm256_cmp_ps_mask(a.v, _mm256_setzero_ps(), _CMP_GT_OQ);
  counts.n = _mm256_mask_add_epi32(counts.n, outside, counts.n, _mm256_set1_epi32(1));
}

inline int total(LaneCounts<double> const& counts) {
  alignas(32) std::int64_t n[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(n), counts.n);
  return static_cast<int>(n[0] + n[1] + n[2] + n[3]);
}
inline int total(LaneCounts<float> const& counts) {
  alignas(32) std::int32_t n[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(n), counts.n);
  int sum = 0;
  for (std::int32_t c : n) sum += c;
  return sum;
}

}  // namespace vorn::simd
