// AVX2 twin of lane8_portable.hpp: eight doubles in two ymm registers (lanes
// 0-3 and 4-7), eight floats or ids in one, compares into bit masks through
// move-masks. Each operation matches its portable form bit for bit in every
// lane.
#pragma once

#if !(defined(__AVX2__) && defined(__FMA__))
#error "lane8_avx2.hpp needs AVX2 and FMA"
#endif

#include <immintrin.h>

#include <cstdint>

namespace vorn::lane8::avx2 {

inline constexpr char name[] = "avx2";

using Mask = unsigned;  // bit i stands for lane i

template <class T>
struct Vec;
template <>
struct Vec<double> {
  __m256d lo;  // lanes 0-3
  __m256d hi;  // lanes 4-7
};
template <>
struct Vec<float> {
  __m256 v;
};

struct Ids {
  __m256i v;
};

// Lane l takes source lane s_l (0 to 15; 8 to 15 name a second source).
// `i32` holds s_l per 32-bit lane, for floats and ids. Doubles are moved as
// pairs of 32-bit halves: `d_lo` and `d_hi` hold, for the output lanes 0-3
// and 4-7, the two halves 2·s_l and 2·s_l + 1 of each lane. A 32-bit permute
// reads only the low three bits (the half within a four-lane register), so
// bit 3 (s_l & 4: the upper register) and bit 4 (s_l & 8: the second source)
// ride along and become blend masks by shifting them into the sign bit.
struct Index {
  __m256i i32;
  __m256i d_lo;
  __m256i d_hi;
};

inline Index make_index(__m256i i32) {
  __m256i const halves = _mm256_setr_epi32(0, 1, 0, 1, 0, 1, 0, 1);
  __m256i const lo = _mm256_permutevar8x32_epi32(i32, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
  __m256i const hi = _mm256_permutevar8x32_epi32(i32, _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7));
  return {i32, _mm256_or_si256(_mm256_slli_epi32(lo, 1), halves), _mm256_or_si256(_mm256_slli_epi32(hi, 1), halves)};
}

inline Vec<double> broadcast(double x) { return {_mm256_set1_pd(x), _mm256_set1_pd(x)}; }
inline Vec<float> broadcast(float x) { return {_mm256_set1_ps(x)}; }
template <class T>
inline Vec<T> load(T const* p) {
  if constexpr (sizeof(T) == 8) {
    return {_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4)};
  } else {
    return {_mm256_loadu_ps(p)};
  }
}
// Lanes below `count` (0 to 8) from p, the others 0; masked lanes are neither
// read nor faulted on.
template <class T>
inline Vec<T> load_first(T const* p, int count) {
  if constexpr (sizeof(T) == 8) {
    __m256i const c = _mm256_set1_epi64x(count);
    __m256i const lo = _mm256_cmpgt_epi64(c, _mm256_setr_epi64x(0, 1, 2, 3));
    __m256i const hi = _mm256_cmpgt_epi64(c, _mm256_setr_epi64x(4, 5, 6, 7));
    return {_mm256_maskload_pd(p, lo), _mm256_maskload_pd(p + 4, hi)};
  } else {
    __m256i const m = _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    return {_mm256_maskload_ps(p, m)};
  }
}
inline void store(double* p, Vec<double> a) {
  _mm256_storeu_pd(p, a.lo);
  _mm256_storeu_pd(p + 4, a.hi);
}
inline void store(float* p, Vec<float> a) { _mm256_storeu_ps(p, a.v); }
inline Ids load(std::int32_t const* p) { return {_mm256_loadu_si256(reinterpret_cast<__m256i const*>(p))}; }
inline void store(std::int32_t* p, Ids a) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), a.v); }

inline Vec<double> add(Vec<double> a, Vec<double> b) { return {_mm256_add_pd(a.lo, b.lo), _mm256_add_pd(a.hi, b.hi)}; }
inline Vec<float> add(Vec<float> a, Vec<float> b) { return {_mm256_add_ps(a.v, b.v)}; }
inline Vec<double> sub(Vec<double> a, Vec<double> b) { return {_mm256_sub_pd(a.lo, b.lo), _mm256_sub_pd(a.hi, b.hi)}; }
inline Vec<float> sub(Vec<float> a, Vec<float> b) { return {_mm256_sub_ps(a.v, b.v)}; }
inline Vec<double> mul(Vec<double> a, Vec<double> b) { return {_mm256_mul_pd(a.lo, b.lo), _mm256_mul_pd(a.hi, b.hi)}; }
inline Vec<float> mul(Vec<float> a, Vec<float> b) { return {_mm256_mul_ps(a.v, b.v)}; }
inline Vec<double> div(Vec<double> a, Vec<double> b) { return {_mm256_div_pd(a.lo, b.lo), _mm256_div_pd(a.hi, b.hi)}; }
inline Vec<float> div(Vec<float> a, Vec<float> b) { return {_mm256_div_ps(a.v, b.v)}; }
// As the x86 instructions: the second operand when the compare is false.
inline Vec<double> max(Vec<double> a, Vec<double> b) { return {_mm256_max_pd(a.lo, b.lo), _mm256_max_pd(a.hi, b.hi)}; }
inline Vec<float> max(Vec<float> a, Vec<float> b) { return {_mm256_max_ps(a.v, b.v)}; }
inline Vec<double> min(Vec<double> a, Vec<double> b) { return {_mm256_min_pd(a.lo, b.lo), _mm256_min_pd(a.hi, b.hi)}; }
inline Vec<float> min(Vec<float> a, Vec<float> b) { return {_mm256_min_ps(a.v, b.v)}; }

inline Vec<double> fma(Vec<double> a, Vec<double> b, Vec<double> c) {
  return {_mm256_fmadd_pd(a.lo, b.lo, c.lo), _mm256_fmadd_pd(a.hi, b.hi, c.hi)};
}
inline Vec<float> fma(Vec<float> a, Vec<float> b, Vec<float> c) { return {_mm256_fmadd_ps(a.v, b.v, c.v)}; }
inline Vec<double> fms(Vec<double> a, Vec<double> b, Vec<double> c) {
  return {_mm256_fmsub_pd(a.lo, b.lo, c.lo), _mm256_fmsub_pd(a.hi, b.hi, c.hi)};
}
inline Vec<float> fms(Vec<float> a, Vec<float> b, Vec<float> c) { return {_mm256_fmsub_ps(a.v, b.v, c.v)}; }

template <int Predicate>
inline Mask compare_zero(Vec<double> a) {
  __m256d const zero = _mm256_setzero_pd();
  auto const lo = static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(a.lo, zero, Predicate)));
  auto const hi = static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(a.hi, zero, Predicate)));
  return lo | hi << 4;
}
template <int Predicate>
inline Mask compare_zero(Vec<float> a) {
  return static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(a.v, _mm256_setzero_ps(), Predicate)));
}
inline Mask above_zero(Vec<double> a) { return compare_zero<_CMP_GT_OQ>(a); }
inline Mask above_zero(Vec<float> a) { return compare_zero<_CMP_GT_OQ>(a); }
inline Mask at_most_zero(Vec<double> a) { return compare_zero<_CMP_LE_OQ>(a); }
inline Mask at_most_zero(Vec<float> a) { return compare_zero<_CMP_LE_OQ>(a); }

// Lane j < keep takes lane (first + j) mod n; lane keep + k takes lane k of
// a second source. Requires 0 <= first < n, 1 <= keep < n <= 8, so one
// subtraction of n wraps every kept lane.
inline Index rotation_then_pair(int first, int n, int keep) {
  __m256i const j = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i k = _mm256_add_epi32(j, _mm256_set1_epi32(first));
  __m256i const wraps = _mm256_cmpgt_epi32(k, _mm256_set1_epi32(n - 1));
  k = _mm256_sub_epi32(k, _mm256_and_si256(wraps, _mm256_set1_epi32(n)));
  __m256i const tail = _mm256_cmpgt_epi32(j, _mm256_set1_epi32(keep - 1));
  __m256i const second = _mm256_add_epi32(j, _mm256_set1_epi32(8 - keep));
  return make_index(_mm256_blendv_epi8(k, second, tail));
}
// Even lanes take lane a, odd lanes lane b: both four-lane halves are the
// same, so a permute by it computes one half and repeats it.
struct PairIndex {
  __m256i i32;
  __m256i d;  // the pair indices of either half, as in Index::d_lo
};
inline PairIndex pair(int a, int b) {
  __m256i const i32 = _mm256_setr_epi32(a, b, a, b, a, b, a, b);
  return {i32, _mm256_setr_epi32(2 * a, 2 * a + 1, 2 * b, 2 * b + 1, 2 * a, 2 * a + 1, 2 * b, 2 * b + 1)};
}

namespace detail {
// Four doubles of the eight in (lo, hi), chosen by the pair indices `d`.
inline __m256d pick4(__m256d lo, __m256d hi, __m256i d) {
  __m256 const from_lo = _mm256_permutevar8x32_ps(_mm256_castpd_ps(lo), d);
  __m256 const from_hi = _mm256_permutevar8x32_ps(_mm256_castpd_ps(hi), d);
  __m256 const upper = _mm256_castsi256_ps(_mm256_slli_epi32(d, 28));
  return _mm256_castps_pd(_mm256_blendv_ps(from_lo, from_hi, upper));
}
// Four doubles of the sixteen in a and b.
inline __m256d pick4(Vec<double> const& a, Vec<double> const& b, __m256i d) {
  __m256d const from_a = pick4(a.lo, a.hi, d);
  __m256d const from_b = pick4(b.lo, b.hi, d);
  return _mm256_blendv_pd(from_a, from_b, _mm256_castsi256_pd(_mm256_slli_epi32(d, 27)));
}
inline __m256i second_source(Index const& index) { return _mm256_slli_epi32(index.i32, 28); }
}  // namespace detail

inline Vec<double> permute(Vec<double> a, Index const& index) {
  return {detail::pick4(a.lo, a.hi, index.d_lo), detail::pick4(a.lo, a.hi, index.d_hi)};
}
inline Vec<float> permute(Vec<float> a, Index const& index) { return {_mm256_permutevar8x32_ps(a.v, index.i32)}; }
inline Vec<double> permute(Vec<double> a, PairIndex const& index) {
  __m256d const half = detail::pick4(a.lo, a.hi, index.d);
  return {half, half};
}
inline Vec<float> permute(Vec<float> a, PairIndex const& index) {
  return {_mm256_permutevar8x32_ps(a.v, index.i32)};
}
inline Vec<double> permute2(Vec<double> a, Vec<double> b, Index const& index) {
  return {detail::pick4(a, b, index.d_lo), detail::pick4(a, b, index.d_hi)};
}
inline Vec<float> permute2(Vec<float> a, Vec<float> b, Index const& index) {
  __m256 const from_a = _mm256_permutevar8x32_ps(a.v, index.i32);
  __m256 const from_b = _mm256_permutevar8x32_ps(b.v, index.i32);
  return {_mm256_blendv_ps(from_a, from_b, _mm256_castsi256_ps(detail::second_source(index)))};
}
inline Ids permute2(Ids a, Ids b, Index const& index) {
  __m256i const from_a = _mm256_permutevar8x32_epi32(a.v, index.i32);
  __m256i const from_b = _mm256_permutevar8x32_epi32(b.v, index.i32);
  return {_mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(from_a), _mm256_castsi256_ps(from_b),
                                               _mm256_castsi256_ps(detail::second_source(index))))};
}
// Lane 0 holds a, lane 1 holds lane `at` of ids, the others 0.
inline Ids pair_ids(std::int32_t a, Ids ids, int at) {
  __m256i const picked = _mm256_permutevar8x32_epi32(ids.v, _mm256_set1_epi32(at));
  __m256i const second = _mm256_blend_epi32(_mm256_setzero_si256(), picked, 0x02);
  return {_mm256_blend_epi32(second, _mm256_set1_epi32(a), 0x01)};
}


// The backend as one type, for code templated on it: vector types and the
// operations that take no vector argument (those with one are found by
// argument-dependent lookup).
struct Backend {
  static constexpr char const* name = vorn::lane8::avx2::name;
  template <class T>
  using Vec = vorn::lane8::avx2::Vec<T>;
  using Ids = vorn::lane8::avx2::Ids;
  using Index = vorn::lane8::avx2::Index;
  using PairIndex = vorn::lane8::avx2::PairIndex;

  template <class T>
  static Vec<T> broadcast(T x) {
    return vorn::lane8::avx2::broadcast(x);
  }
  template <class T>
  static Vec<T> load(T const* p) {
    return vorn::lane8::avx2::load(p);
  }
  template <class T>
  static Vec<T> load_first(T const* p, int count) {
    return vorn::lane8::avx2::load_first(p, count);
  }
  static Ids load_ids(std::int32_t const* p) { return vorn::lane8::avx2::load(p); }
  static Index rotation_then_pair(int first, int n, int keep) {
    return vorn::lane8::avx2::rotation_then_pair(first, n, keep);
  }
  static PairIndex pair(int a, int b) { return vorn::lane8::avx2::pair(a, b); }
};

}  // namespace vorn::lane8::avx2
