// AVX-512 (VL) lane helpers on 256-bit registers. Compares go to a lane mask;
// the ordered greater-than is false for NaN, like the scalar `v > 0`.
#pragma once

#include "lanes_ymm.hpp"

namespace vorn::simd {

inline constexpr char backend_name[] = "avx512";

inline void count_positive(LaneCounts<double>& counts, Vec<double> a) {
  __mmask8 outside = _mm256_cmp_pd_mask(a.v, _mm256_setzero_pd(), _CMP_GT_OQ);
  counts.n = _mm256_mask_add_epi64(counts.n, outside, counts.n, _mm256_set1_epi64x(1));
}
inline void count_positive(LaneCounts<float>& counts, Vec<float> a) {
  __mmask8 outside = _mm256_cmp_ps_mask(a.v, _mm256_setzero_ps(), _CMP_GT_OQ);
  counts.n = _mm256_mask_add_epi32(counts.n, outside, counts.n, _mm256_set1_epi32(1));
}

}  // namespace vorn::simd
