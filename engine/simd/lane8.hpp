// The engine's eight-lane vectors: the AVX-512 form when the translation unit
// is compiled for AVX-512F/VL with FMA, BMI1/2 and POPCNT, the AVX2 form when
// it is compiled for AVX2 with FMA, BMI1/2 and POPCNT, else the portable form.
// All give the same bits; nothing of the choice shows in public types.
//
// Interface, for T = float or double (namespace vorn::lane8::native):
//   Vec<T>, Ids, Index, Mask   eight values, eight 32-bit ids, lane indices, lane bits
//   broadcast, load, load_first, store
//   add, sub, mul, div, fma (a·b + c), fms (a·b − c), min, max (x86 rules)
//   above_zero, at_most_zero   ordered compares into a Mask (NaN: bit clear)
//   rotation_then_pair, pair, permute, permute2, pair_ids
#pragma once

#include "lane8_portable.hpp"

#if defined(__AVX2__) && defined(__FMA__) && defined(__BMI__) && defined(__BMI2__) && defined(__POPCNT__)
#include "lane8_avx2.hpp"
#endif

#if defined(__AVX512F__) && defined(__AVX512VL__) && defined(__FMA__) && defined(__BMI__) && \
    defined(__BMI2__) && defined(__POPCNT__)
#include "lane8_avx512.hpp"
namespace vorn::lane8 {
namespace native = avx512;
}
#elif defined(__AVX2__) && defined(__FMA__) && defined(__BMI__) && defined(__BMI2__) && defined(__POPCNT__)
namespace vorn::lane8 {
namespace native = avx2;
}
#else
namespace vorn::lane8 {
namespace native = portable;
}
#endif
