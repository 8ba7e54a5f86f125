// The 256-bit lane helpers that AVX2 and AVX-512 builds share: one ymm
// register of 4 doubles or 8 floats, and 32- or 64-bit counters per lane.
// The compare that feeds the counters is the backend's own.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace vorn::simd {

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
