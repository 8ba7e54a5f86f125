// AVX-512 twin of lane8_portable.hpp: eight doubles in one zmm register, eight
// floats or ids in one ymm register with the VL forms, compares into k masks.
// Each operation matches its portable form bit for bit in every lane.
#pragma once

#if !(defined(__AVX512F__) && defined(__AVX512VL__) && defined(__FMA__))
#error "lane8_avx512.hpp needs AVX-512F/VL and FMA"
#endif

#include <immintrin.h>

#include <cstdint>

namespace vorn::lane8::avx512 {

inline constexpr char name[] = "avx512";

using Mask = unsigned;  // bit i stands for lane i

// The full-mask forms of the few 512-bit operations whose plain intrinsics
// start from an undefined register, which GCC 12 reports as uninitialised.
inline constexpr __mmask8 all_lanes = 0xFF;

template <class T>
struct Vec;
template <>
struct Vec<double> {
  __m512d v;
};
template <>
struct Vec<float> {
  __m256 v;
};

struct Ids {
  __m256i v;
};

// The same lane indices at both widths: 32-bit for floats and ids, 64-bit
// for doubles.
struct Index {
  __m256i i32;
  __m512i i64;
};

inline Index make_index(__m256i i32) { return {i32, _mm512_maskz_cvtepi32_epi64(all_lanes, i32)}; }

inline Vec<double> broadcast(double x) { return {_mm512_set1_pd(x)}; }
inline Vec<float> broadcast(float x) { return {_mm256_set1_ps(x)}; }
template <class T>
inline Vec<T> load(T const* p) {
  if constexpr (sizeof(T) == 8) {
    return {_mm512_loadu_pd(p)};
  } else {
    return {_mm256_loadu_ps(p)};
  }
}
// Lanes below `count` (0 to 8) from p, the others 0; masked lanes are neither
// read nor faulted on.
template <class T>
inline Vec<T> load_first(T const* p, int count) {
  auto const m = static_cast<__mmask8>((1u << count) - 1u);
  if constexpr (sizeof(T) == 8) {
    return {_mm512_maskz_loadu_pd(m, p)};
  } else {
    return {_mm256_maskz_loadu_ps(m, p)};
  }
}
inline void store(double* p, Vec<double> a) { _mm512_storeu_pd(p, a.v); }
inline void store(float* p, Vec<float> a) { _mm256_storeu_ps(p, a.v); }
inline Ids load(std::int32_t const* p) { return {_mm256_loadu_si256(reinterpret_cast<__m256i const*>(p))}; }
inline void store(std::int32_t* p, Ids a) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), a.v); }

inline Vec<double> add(Vec<double> a, Vec<double> b) { return {_mm512_add_pd(a.v, b.v)}; }
inline Vec<float> add(Vec<float> a, Vec<float> b) { return {_mm256_add_ps(a.v, b.v)}; }
inline Vec<double> sub(Vec<double> a, Vec<double> b) { return {_mm512_sub_pd(a.v, b.v)}; }
inline Vec<float> sub(Vec<float> a, Vec<float> b) { return {_mm256_sub_ps(a.v, b.v)}; }
inline Vec<double> mul(Vec<double> a, Vec<double> b) { return {_mm512_mul_pd(a.v, b.v)}; }
inline Vec<float> mul(Vec<float> a, Vec<float> b) { return {_mm256_mul_ps(a.v, b.v)}; }
inline Vec<double> div(Vec<double> a, Vec<double> b) { return {_mm512_div_pd(a.v, b.v)}; }
inline Vec<float> div(Vec<float> a, Vec<float> b) { return {_mm256_div_ps(a.v, b.v)}; }
inline Vec<double> fma(Vec<double> a, Vec<double> b, Vec<double> c) { return {_mm512_fmadd_pd(a.v, b.v, c.v)}; }
inline Vec<float> fma(Vec<float> a, Vec<float> b, Vec<float> c) { return {_mm256_fmadd_ps(a.v, b.v, c.v)}; }
inline Vec<double> fms(Vec<double> a, Vec<double> b, Vec<double> c) { return {_mm512_fmsub_pd(a.v, b.v, c.v)}; }
inline Vec<float> fms(Vec<float> a, Vec<float> b, Vec<float> c) { return {_mm256_fmsub_ps(a.v, b.v, c.v)}; }
inline Vec<double> max(Vec<double> a, Vec<double> b) { return {_mm512_mask_max_pd(a.v, all_lanes, a.v, b.v)}; }
inline Vec<float> max(Vec<float> a, Vec<float> b) { return {_mm256_max_ps(a.v, b.v)}; }
inline Vec<double> min(Vec<double> a, Vec<double> b) { return {_mm512_mask_min_pd(a.v, all_lanes, a.v, b.v)}; }
inline Vec<float> min(Vec<float> a, Vec<float> b) { return {_mm256_min_ps(a.v, b.v)}; }

inline Mask above_zero(Vec<double> a) { return _mm512_cmp_pd_mask(a.v, _mm512_setzero_pd(), _CMP_GT_OQ); }
inline Mask above_zero(Vec<float> a) { return _mm256_cmp_ps_mask(a.v, _mm256_setzero_ps(), _CMP_GT_OQ); }
inline Mask at_most_zero(Vec<double> a) { return _mm512_cmp_pd_mask(a.v, _mm512_setzero_pd(), _CMP_LE_OQ); }
inline Mask at_most_zero(Vec<float> a) { return _mm256_cmp_ps_mask(a.v, _mm256_setzero_ps(), _CMP_LE_OQ); }

// Lane j < keep takes lane (first + j) mod n; lane keep + k takes lane k of
// a second source. Requires 0 <= first < n, 1 <= keep < n <= 8, so one
// subtraction of n wraps every kept lane.
inline Index rotation_then_pair(int first, int n, int keep) {
  __m256i const j = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i const vn = _mm256_set1_epi32(n);
  __m256i k = _mm256_add_epi32(j, _mm256_set1_epi32(first));
  k = _mm256_mask_sub_epi32(k, _mm256_cmpge_epi32_mask(k, vn), k, vn);
  __mmask8 const tail = _mm256_cmpge_epi32_mask(j, _mm256_set1_epi32(keep));
  return make_index(_mm256_mask_add_epi32(k, tail, j, _mm256_set1_epi32(8 - keep)));
}
// Even lanes take lane a, odd lanes lane b.
inline Index pair(int a, int b) { return make_index(_mm256_setr_epi32(a, b, a, b, a, b, a, b)); }

inline Vec<double> permute(Vec<double> a, Index const& index) {
  return {_mm512_mask_permutexvar_pd(a.v, all_lanes, index.i64, a.v)};
}
inline Vec<float> permute(Vec<float> a, Index const& index) { return {_mm256_permutexvar_ps(index.i32, a.v)}; }
inline Vec<double> permute2(Vec<double> a, Vec<double> b, Index const& index) {
  return {_mm512_permutex2var_pd(a.v, index.i64, b.v)};
}
inline Vec<float> permute2(Vec<float> a, Vec<float> b, Index const& index) {
  return {_mm256_permutex2var_ps(a.v, index.i32, b.v)};
}
inline Ids permute2(Ids a, Ids b, Index const& index) { return {_mm256_permutex2var_epi32(a.v, index.i32, b.v)}; }
// Lane 0 holds a, lane 1 holds lane `at` of ids, the others 0.
inline Ids pair_ids(std::int32_t a, Ids ids, int at) {
  __m256i const picked = _mm256_maskz_permutexvar_epi32(0x02, _mm256_set1_epi32(at), ids.v);
  return {_mm256_mask_set1_epi32(picked, 0x01, a)};
}


// The backend as one type, for code templated on it: vector types and the
// operations that take no vector argument (those with one are found by
// argument-dependent lookup).
struct Backend {
  static constexpr char const* name = vorn::lane8::avx512::name;
  template <class T>
  using Vec = vorn::lane8::avx512::Vec<T>;
  using Ids = vorn::lane8::avx512::Ids;
  using Index = vorn::lane8::avx512::Index;

  template <class T>
  static Vec<T> broadcast(T x) {
    return vorn::lane8::avx512::broadcast(x);
  }
  template <class T>
  static Vec<T> load(T const* p) {
    return vorn::lane8::avx512::load(p);
  }
  template <class T>
  static Vec<T> load_first(T const* p, int count) {
    return vorn::lane8::avx512::load_first(p, count);
  }
  static Ids load_ids(std::int32_t const* p) { return vorn::lane8::avx512::load(p); }
  static Index rotation_then_pair(int first, int n, int keep) {
    return vorn::lane8::avx512::rotation_then_pair(first, n, keep);
  }
  static Index pair(int a, int b) { return vorn::lane8::avx512::pair(a, b); }
};

}  // namespace vorn::lane8::avx512
