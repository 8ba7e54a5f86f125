// Lane helpers for the engine's vector loops: 256-bit groups of 4 doubles or
// 8 floats. The AVX-512 build uses the VL forms with compare-to-mask, the
// AVX2 + FMA build compares to all-ones lanes; any other build gets the
// portable twin, which performs the same IEEE operations lane by
// lane, so both give the same bits. The choice is made by the flags a
// translation unit is compiled with; nothing of it shows in the engine's types.
//
// Interface, for T = float or double:
//   Vec<T>, lanes<T>            one group and its lane count
//   load, store                 unaligned, exactly lanes<T> slots
//   broadcast, add, sub, mul    one rounding per lane
//   fma(a, b, c)                a·b + c with one rounding per lane
//   LaneCounts<T>, count_positive, total
//                               per-lane counts of lanes > 0 (NaN not counted)
//   backend_name                "avx512", "avx2" or "portable"
#pragma once

#if defined(__AVX512F__) && defined(__AVX512VL__) && defined(__FMA__)
#include "lanes_avx512.hpp"
#elif defined(__AVX2__) && defined(__FMA__)
#include "lanes_avx2.hpp"
#else
#include "lanes_portable.hpp"
#endif
