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
//
// The eight lanes of a vector backend are emulated two at a time in SSE2
// registers (the compiler's generic vectors), the same operations as the
// scalar form in each lane, with no branch per lane; on a CPU with FMA they
// go through the instruction in one call.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <immintrin.h>

namespace vorn {

namespace detail {

// Whether the CPU has the FMA instruction, for code built without it. A test
// build defines VORN_FMA_EMULATED to run the emulation on any CPU, so that it
// is compared with the instruction where every test machine has one.
[[gnu::always_inline]] inline bool cpu_has_fma() {
#if defined(VORN_FMA_EMULATED)
  return false;
#else
  return __builtin_cpu_supports("fma");
#endif
}

}  // namespace detail

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
// |x| below 2^996. For a double or a group of doubles.
template <class V>
[[gnu::always_inline]] inline void split(V x, V& hi, V& lo) {
  V const c = 134217729.0 * x;  // 2^27 + 1
  hi = c - (c - x);
  lo = x - hi;
}

// Magnitudes between these keep every piece of the double form normal and
// finite: |a|, |b| in [2^-450, 2^450] and |c| in [2^-900, 2^900].
inline constexpr double factor_low = 0x1p-450;
inline constexpr double factor_high = 0x1p450;
inline constexpr double addend_low = 0x1p-900;
inline constexpr double addend_high = 0x1p900;

// The double form's pieces, for a double or a pair of doubles: uh + ul = a·b
// exactly, th + tl = c + uh exactly, s + e = tl + ul exactly, so that
// a·b + c = th + s + e with th = RN(c + uh) and s = RN(tl + ul).
template <class V>
[[gnu::always_inline]] inline void exact_pieces(V const& a, V const& b, V const& c, V& uh, V& th, V& s, V& e) {
  V ah, al, bh, bl;
  split(a, ah, al);
  split(b, bh, bl);
  uh = a * b;
  V const ul = ((ah * bh - uh) + ah * bl + al * bh) + al * bl;
  V tl;
  two_sum(c, uh, th, tl);
  two_sum(tl, ul, s, e);
}

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
  double uh, th, s, e;
  exact_pieces(a, b, c, uh, th, s, e);
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

// The same forms on two lanes at once, as the compiler's generic vectors of
// one SSE2 register: each operation is the scalar form's IEEE operation in
// both lanes, with no branch per lane. A compare yields all bits set in the
// lanes where it holds.
typedef double DoublePair __attribute__((vector_size(16)));
typedef float FloatPair __attribute__((vector_size(8)));
typedef std::uint64_t BitsPair __attribute__((vector_size(16)));

[[gnu::always_inline]] inline BitsPair bits_of(DoublePair const& x) { return __builtin_bit_cast(BitsPair, x); }
[[gnu::always_inline]] inline DoublePair value_of(BitsPair const& x) { return __builtin_bit_cast(DoublePair, x); }
// The lanes where a compare holds. Each compare is reinterpreted before
// masks are combined: combined as compares, they are first made 0 or 1 lane
// by lane, outside the vector registers.
template <class Compare>
[[gnu::always_inline]] inline BitsPair lanes_where(Compare const& compare) {
  return __builtin_bit_cast(BitsPair, compare);
}
[[gnu::always_inline]] inline BitsPair choose(BitsPair const& mask, BitsPair const& yes, BitsPair const& no) {
  return (yes & mask) | (no & ~mask);
}

// round_to_odd in both lanes: one step toward zero where |s| > |s + e| (the
// signs of s and e differ), then the last bit set where inexact.
[[gnu::always_inline]] inline DoublePair round_to_odd(DoublePair const& s, DoublePair const& e) {
  BitsPair const inexact = lanes_where(e != 0.0) & 1u;
  BitsPair const above = ((bits_of(s) ^ bits_of(e)) >> 63) & inexact;
  return value_of((bits_of(s) - above) | inexact);
}

[[gnu::always_inline]] inline BitsPair in_range(DoublePair const& x, double low, double high) {
  DoublePair const m = value_of(bits_of(x) & ~(std::uint64_t{1} << 63));
  return lanes_where(m >= low) & lanes_where(m <= high);
}

// emulated_fma in both lanes, zero operands included (a zero addend needs
// no case of its own: th = uh, and th + ul rounds back to uh); `done` is set
// in the lanes whose result holds, the others (an operand out of range,
// infinite or NaN) need the scalar form.
[[gnu::always_inline]] inline void emulated_fma(DoublePair const& a, DoublePair const& b, DoublePair const& c,
                                                DoublePair& r, BitsPair& done) {
  DoublePair uh, th, s, e;
  exact_pieces(a, b, c, uh, th, s, e);
  BitsPair const zero_factor = lanes_where(a == 0.0) | lanes_where(b == 0.0);
  BitsPair const zero_addend = lanes_where(c == 0.0);
  r = value_of(choose(zero_factor, bits_of(uh + c), bits_of(th + round_to_odd(s, e))));
  done = zero_factor | (in_range(a, factor_low, factor_high) & in_range(b, factor_low, factor_high) &
                        (zero_addend | in_range(c, addend_low, addend_high)));
}

// emulated_fma in both lanes of floats, every input allowed.
[[gnu::always_inline]] inline void emulated_fma(FloatPair const& a, FloatPair const& b, FloatPair const& c,
                                                FloatPair& r) {
  DoublePair const p = __builtin_convertvector(a, DoublePair) * __builtin_convertvector(b, DoublePair);
  DoublePair s, e;
  two_sum(p, __builtin_convertvector(c, DoublePair), s, e);
  BitsPair const finite = lanes_where(s - s == 0.0);  // not for an infinity or NaN
  r = __builtin_convertvector(value_of(choose(finite, bits_of(round_to_odd(s, e)), bits_of(s))), FloatPair);
}

// The lanes of fused_multiply_add without the instruction, two at a time.
template <class T, std::size_t N>
void emulated_fma(std::array<T, N> const& a, std::array<T, N> const& b, std::array<T, N> const& c,
                  std::array<T, N>& r) {
  if constexpr (std::is_same_v<T, float>) {
    for (std::size_t l = 0; l < N; l += 2) {
      FloatPair pa, pb, pc, pr;
      std::memcpy(&pa, &a[l], sizeof pa);
      std::memcpy(&pb, &b[l], sizeof pb);
      std::memcpy(&pc, &c[l], sizeof pc);
      emulated_fma(pa, pb, pc, pr);
      std::memcpy(&r[l], &pr, sizeof pr);
    }
  } else {
    unsigned scalar_lanes = 0;
    for (std::size_t l = 0; l < N; l += 2) {
      DoublePair pa, pb, pc, pr;
      BitsPair done;
      std::memcpy(&pa, &a[l], sizeof pa);
      std::memcpy(&pb, &b[l], sizeof pb);
      std::memcpy(&pc, &c[l], sizeof pc);
      emulated_fma(pa, pb, pc, pr, done);
      std::memcpy(&r[l], &pr, sizeof pr);
      scalar_lanes |= static_cast<unsigned>((done[0] == 0) | (done[1] == 0) << 1) << l;
    }
    for (; scalar_lanes != 0; scalar_lanes &= scalar_lanes - 1) {
      int const l = std::countr_zero(scalar_lanes);
      r[l] = std::fma(a[l], b[l], c[l]);
    }
  }
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
  if (detail::cpu_has_fma()) return std::fma(a, b, c);
  return detail::fma_emulation::emulated_fma(a, b, c);
#endif
}

namespace detail {

// The lanes through the instruction, in a build without it on a CPU that has
// it: one call for the group where std::fma would make one library call per
// lane (each spilling every live vector register). Only ever reached after
// the CPU's feature bits say FMA. r is not one of the operands.
//
// The operands arrive from SSE2 code, stored 16 bytes at a time, so they are
// loaded and stored 16 bytes at a time too: a 32-byte load of two such
// stores cannot be forwarded from them and waits until they reach the cache
// (two thirds of this function's time, when it let the compiler pick the
// width).
template <class T, std::size_t N>
[[gnu::target("fma"), gnu::noinline]] void fma_instruction(std::array<T, N> const& a, std::array<T, N> const& b,
                                                           std::array<T, N> const& c,
                                                           std::array<T, N>& __restrict r) {
  constexpr std::size_t per_register = 16 / sizeof(T);
  static_assert(N % per_register == 0);
  for (std::size_t l = 0; l < N; l += per_register) {
    if constexpr (std::is_same_v<T, double>) {
      _mm_storeu_pd(&r[l], _mm_fmadd_pd(_mm_loadu_pd(&a[l]), _mm_loadu_pd(&b[l]), _mm_loadu_pd(&c[l])));
    } else {
      _mm_storeu_ps(&r[l], _mm_fmadd_ps(_mm_loadu_ps(&a[l]), _mm_loadu_ps(&b[l]), _mm_loadu_ps(&c[l])));
    }
  }
}

}  // namespace detail

// fused_multiply_add in each of N lanes (N even), lane l from a[l], b[l],
// c[l]. In a build without FMA, a CPU with it runs the lanes through the
// instruction in one call, and a CPU without it emulates them two at a time
// in vector registers, about a third faster than lane by lane.
template <class T, std::size_t N>
[[gnu::always_inline]] inline std::array<T, N> fused_multiply_add(std::array<T, N> const& a, std::array<T, N> const& b,
                                                                  std::array<T, N> const& c) {
  std::array<T, N> r;
#if defined(__FMA__)
  for (std::size_t l = 0; l < N; ++l) r[l] = std::fma(a[l], b[l], c[l]);
#else
  static_assert(N % 2 == 0);
  if (detail::cpu_has_fma()) {
    detail::fma_instruction(a, b, c, r);
  } else {
    detail::fma_emulation::emulated_fma(a, b, c, r);
  }
#endif
  return r;
}

}  // namespace vorn
