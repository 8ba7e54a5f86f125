// AVX2 + FMA lane helpers on 256-bit registers. A compare sets a lane to all
// ones (-1), so subtracting it counts the lane; the ordered greater-than is
// false for NaN, like the scalar `v > 0`.
#pragma once

#include "lanes_ymm.hpp"

namespace vorn::simd {

inline constexpr char backend_name[] = "avx2";

inline void count_positive(LaneCounts<double>& counts, Vec<double> a) {
  __m256d const outside = _mm256_cmp_pd(a.v, _mm256_setzero_pd(), _CMP_GT_OQ);
  counts.n = _mm256_sub_epi64(counts.n, _mm256_castpd_si256(outside));
}
inline void count_positive(LaneCounts<float>& counts, Vec<float> a) {
  __m256 const outside = _mm256_cmp_ps(a.v, _mm256_setzero_ps(), _CMP_GT_OQ);
  counts.n = _mm256_sub_epi32(counts.n, _mm256_castps_si256(outside));
}

}  // namespace vorn::simd
