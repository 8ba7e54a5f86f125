// fused_multiply_add(a, b, c): a·b + c with one rounding (to nearest, ties to
// even), the same bits as std::fma, for float and double.
//
// A translation unit compiled for FMA gets the instruction. Without it,
// std::fma is a library call, and on a CPU without FMA the C library computes
// it in software while saving and restoring the floating-point environment,
// some hundred times slower than an addition. So on a CPU without FMA the
// result is formed from exact pieces instead (no rounding-mode changes, no
// call):
//
//   float:  a·b is exact in double; s + e = a·b + c exactly (two-sum); s is
//           rounded to odd with the sign of e, and rounding that to float is
//           the one rounding of a·b + c (53 >= 2·24 + 2 bits).
//   double: uh + ul = a·b exactly (Veltkamp split, Dekker product);
//           th + tl = c + uh exactly (two-sum); v = tl + ul rounded to odd;
//           th + v rounded to nearest is a·b + c rounded once (Boldo and
//           Melquiond, "Emulation of FMA and correctly rounded sums: proved
//           algorithms using rounding to odd", IEEE Trans. Computers 57(4), 2008).
//
// The double form holds while every piece stays normal and finite; inputs
// outside a range that guarantees it (infinities and NaN among them) take
// std::fma, which is rare in geometry of finite coordinates. Zero operands
// need no emulation at all.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace vorn {

namespace detail::fma_emulation {

// s + e = a + b exactly, for finite a + b (Knuth's two-sum, no branch).
template <class T>
[[gnu::always_inline]] inline void two_sum(T a, T b, T& s, T& e) {
  s = a + b;
  T const bb = s - a;
  e = (a - (s - bb)) + (b - bb);
}

// s rounded to odd, given that s + e is the exact value and s = RN(s + e):
// unchanged when exact, else the one of the two doubles around s + e whose
// last significand bit is 1. Moving toward zero is one step down in the bit
// pattern's magnitude, whatever the sign.
[[gnu::always_inline]] inline double round_to_odd(double s, double e) {
  auto bits = std::bit_cast<std::uint64_t>(s);
  bool const inexact = e != 0.0;
  bool const above = inexact && (std::signbit(e) != std::signbit(s));  // |s| > |s + e|
  bits -= above ? 1u : 0u;
  bits |= inexact ? 1u : 0u;
  return std::bit_cast<double>(bits);
}

// Veltkamp split: hi + lo = x, each with at most 26 significant bits; needs
// |x| below 2^996.
[[gnu::always_inline]] inline void split(double x, double& hi, double& lo) {
  double const c = 134217729.0 * x;  // 2^27 + 1
  hi = c - (c - x);
  lo = x - hi;
}

// Magnitudes between these keep every piece of the double form normal and
// finite: |a|, |b| in [2^-450, 2^450] and |c| in [2^-900, 2^900].
inline constexpr double factor_low = 0x1p-450;
inline constexpr double factor_high = 0x1p450;
inline constexpr double addend_low = 0x1p-900;
inline constexpr double addend_high = 0x1p900;

[[gnu::always_inline]] inline bool in_range(double x, double low, double high) {
  double const m = std::fabs(x);
  return m >= low && m <= high;  // false for 0, infinities and NaN
}

inline double emulated_fma(double a, double b, double c) {
  // With a zero operand one rounding at most is left: a·b is an exact zero
  // (a·b + c then follows IEEE's rules for zeros, infinities and NaN), or c
  // is a zero and the result is a·b rounded, which keeps the sign of the
  // exact product even when it rounds to zero.
  if (a == 0.0 || b == 0.0) return a * b + c;
  if (c == 0.0) return a * b;
  if (!(in_range(a, factor_low, factor_high) && in_range(b, factor_low, factor_high) &&
        in_range(c, addend_low, addend_high))) {
    return std::fma(a, b, c);
  }
  double ah, al, bh, bl;
  split(a, ah, al);
  split(b, bh, bl);
  double const uh = a * b;
  double const ul = ((ah * bh - uh) + ah * bl + al * bh) + al * bl;
  double th, tl;
  two_sum(c, uh, th, tl);
  double s, e;
  two_sum(tl, ul, s, e);
  return th + round_to_odd(s, e);
}

inline float emulated_fma(float a, float b, float c) {
  double const p = static_cast<double>(a) * static_cast<double>(b);  // exact: 48 significant bits
  double s, e;
  two_sum(p, static_cast<double>(c), s, e);
  // For infinite or NaN operands s is not finite and e is NaN; s itself is
  // then the result.
  return static_cast<float>(std::isfinite(s) ? round_to_odd(s, e) : s);
}

}  // namespace detail::fma_emulation

template <class T>
[[gnu::always_inline]] inline T fused_multiply_add(T a, T b, T c) {
#if defined(__FMA__)
  return std::fma(a, b, c);
#else
  // A CPU with FMA but without the level this code was built for (or a
  // level forced lower) still has the instruction, behind the library's
  // call; the test is one load of the CPU's feature bits.
  if (__builtin_cpu_supports("fma")) return std::fma(a, b, c);
  return detail::fma_emulation::emulated_fma(a, b, c);
#endif
}

}  // namespace vorn
