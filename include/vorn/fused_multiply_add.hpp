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
// The eight lanes of a vector backend are emulated four doubles at a time in
// AVX registers where the CPU has them (Intel's Sandy and Ivy Bridge have AVX
// without FMA), else two at a time in SSE2 registers (the compiler's generic
// vectors), the same operations as the scalar form in each lane, with no
// branch per lane; on a CPU with FMA they go through the instruction in one
// call.
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

// Whether the CPU (and the operating system) can run AVX instructions.
[[gnu::always_inline]] inline bool cpu_has_avx() { return __builtin_cpu_supports("avx"); }

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
[[gnu::always_inline]] inline void split(V const& x, V& hi, V& lo) {
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

// The same forms on groups of W lanes at once (W = 2: one SSE2 register;
// W = 4: one AVX register), as the compiler's generic vectors: each
// operation is the scalar form's IEEE operation in every lane, with no
// branch per lane. A compare yields all bits set in the lanes where it holds.
// AVX has no 256-bit integer operations; the few on bit patterns (rounding to
// odd, masks) run on the register's two halves.
template <int W>
struct LaneGroup {
  typedef double Doubles __attribute__((vector_size(8 * W)));
  typedef float Floats __attribute__((vector_size(4 * W)));
  typedef std::uint64_t Bits __attribute__((vector_size(8 * W)));
};

// Everything below is inlined into its one caller per width, so a group is
// never passed between functions built for different instruction sets.

template <class V>
[[gnu::always_inline]] inline auto bits_of(V const& x) {
  return __builtin_bit_cast(typename LaneGroup<sizeof(V) / 8>::Bits, x);
}
template <class B>
[[gnu::always_inline]] inline auto value_of(B const& x) {
  return __builtin_bit_cast(typename LaneGroup<sizeof(B) / 8>::Doubles, x);
}
// The lanes where a compare holds. Each compare is reinterpreted before
// masks are combined: combined as compares, they are first made 0 or 1 lane
// by lane, outside the vector registers.
template <class Compare>
[[gnu::always_inline]] inline auto lanes_where(Compare const& compare) {
  return __builtin_bit_cast(typename LaneGroup<sizeof(Compare) / 8>::Bits, compare);
}
template <class B>
[[gnu::always_inline]] inline B choose(B const& mask, B const& yes, B const& no) {
  return (yes & mask) | (no & ~mask);
}

// round_to_odd in every lane: one step toward zero where |s| > |s + e| (the
// signs of s and e differ), then the last bit set where inexact.
template <class V>
  requires(sizeof(V) >= 16)
[[gnu::always_inline]] inline V round_to_odd(V const& s, V const& e) {
  auto const inexact = lanes_where(e != 0.0) & 1u;
  auto const above = ((bits_of(s) ^ bits_of(e)) >> 63) & inexact;
  return value_of((bits_of(s) - above) | inexact);
}

template <class V>
  requires(sizeof(V) >= 16)
[[gnu::always_inline]] inline auto in_range(V const& x, double low, double high) {
  V const m = value_of(bits_of(x) & ~(std::uint64_t{1} << 63));
  return lanes_where(m >= low) & lanes_where(m <= high);
}

// emulated_fma in every lane, zero operands included (a zero addend needs
// no case of its own: th = uh, and th + ul rounds back to uh); `done` is set
// in the lanes whose result holds, the others (an operand out of range,
// infinite or NaN) need the scalar form.
template <class V, class B>
[[gnu::always_inline]] inline void emulated_fma(V const& a, V const& b, V const& c, V& r, B& done) {
  V uh, th, s, e;
  exact_pieces(a, b, c, uh, th, s, e);
  B const zero_factor = lanes_where(a == 0.0) | lanes_where(b == 0.0);
  B const zero_addend = lanes_where(c == 0.0);
  r = value_of(choose(zero_factor, bits_of(uh + c), bits_of(th + round_to_odd(s, e))));
  done = zero_factor | (in_range(a, factor_low, factor_high) & in_range(b, factor_low, factor_high) &
                        (zero_addend | in_range(c, addend_low, addend_high)));
}

// emulated_fma in every lane of a group of floats, every input allowed.
template <class F>
[[gnu::always_inline]] inline F emulated_fma_floats(F const& a, F const& b, F const& c) {
  using Doubles = typename LaneGroup<sizeof(F) / 4>::Doubles;
  Doubles const p = __builtin_convertvector(a, Doubles) * __builtin_convertvector(b, Doubles);
  Doubles s, e;
  two_sum(p, __builtin_convertvector(c, Doubles), s, e);
  auto const finite = lanes_where(s - s == 0.0);  // not for an infinity or NaN
  return __builtin_convertvector(value_of(choose(finite, bits_of(round_to_odd(s, e)), bits_of(s))), F);
}

// Group g of W lanes from an array, and back. The arrays come from code that
// stores 16 bytes at a time, so the four-double groups are loaded and stored
// in 16-byte halves: a wider load of two such stores is not forwarded from
// them and waits until they reach the cache.
template <class G, class T, std::size_t N>
[[gnu::always_inline]] inline void load_group(std::array<T, N> const& a, std::size_t first, G& g) {
  if constexpr (sizeof(G) <= 16) {
    std::memcpy(&g, &a[first], sizeof g);
  } else {
    static_assert(std::is_same_v<T, double> && sizeof(G) == 32);
    typename LaneGroup<2>::Doubles low, high;
    std::memcpy(&low, &a[first], 16);
    std::memcpy(&high, &a[first + 2], 16);
    g = __builtin_shufflevector(low, high, 0, 1, 2, 3);
  }
}
template <class G, class T, std::size_t N>
[[gnu::always_inline]] inline void store_group(std::array<T, N>& r, std::size_t first, G const& g) {
  if constexpr (sizeof(G) <= 16) {
    std::memcpy(&r[first], &g, sizeof g);
  } else {
    static_assert(std::is_same_v<T, double> && sizeof(G) == 32);
    typename LaneGroup<2>::Doubles const low = __builtin_shufflevector(g, g, 0, 1);
    typename LaneGroup<2>::Doubles const high = __builtin_shufflevector(g, g, 2, 3);
    std::memcpy(&r[first], &low, 16);
    std::memcpy(&r[first + 2], &high, 16);
  }
}

// The lanes of fused_multiply_add without the instruction, W at a time.
template <int W, class T, std::size_t N>
[[gnu::always_inline]] inline void emulated_fma_by(std::array<T, N> const& a, std::array<T, N> const& b,
                                                   std::array<T, N> const& c, std::array<T, N>& r) {
  static_assert(N % W == 0);
  using Group = LaneGroup<W>;
  if constexpr (std::is_same_v<T, float>) {
    using F = typename Group::Floats;
    for (std::size_t l = 0; l < N; l += W) {
      F pa, pb, pc;
      load_group(a, l, pa);
      load_group(b, l, pb);
      load_group(c, l, pc);
      store_group(r, l, emulated_fma_floats(pa, pb, pc));
    }
  } else {
    using V = typename Group::Doubles;
    unsigned scalar_lanes = 0;
    for (std::size_t l = 0; l < N; l += W) {
      V pa, pb, pc, pr;
      typename Group::Bits done;
      load_group(a, l, pa);
      load_group(b, l, pb);
      load_group(c, l, pc);
      emulated_fma(pa, pb, pc, pr, done);
      store_group(r, l, pr);
      for (int k = 0; k < W; ++k) scalar_lanes |= static_cast<unsigned>(done[k] == 0) << (l + k);
    }
    for (; scalar_lanes != 0; scalar_lanes &= scalar_lanes - 1) {
      int const l = std::countr_zero(scalar_lanes);
      r[l] = std::fma(a[l], b[l], c[l]);
    }
  }
}

// Two lanes at a time, in SSE2 registers: any x86-64 CPU.
template <class T, std::size_t N>
void emulated_fma(std::array<T, N> const& a, std::array<T, N> const& b, std::array<T, N> const& c,
                  std::array<T, N>& r) {
  emulated_fma_by<2>(a, b, c, r);
}

// Four doubles at a time, in AVX registers: only after the CPU's feature
// bits say AVX (Intel's Sandy and Ivy Bridge have it without FMA). Floats
// stay in pairs: their emulation widens them to doubles, and four-lane
// groups of it were no faster.
template <std::size_t N>
[[gnu::target("avx"), gnu::noinline]] void emulated_fma_avx(std::array<double, N> const& a,
                                                           std::array<double, N> const& b,
                                                           std::array<double, N> const& c,
                                                           std::array<double, N>& r) {
  emulated_fma_by<4>(a, b, c, r);
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
// instruction in one call, and a CPU without it emulates them in vector
// registers: four doubles at a time where it has AVX, else two lanes.
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
    return r;
  }
  if constexpr (std::is_same_v<T, double> && N % 4 == 0) {
    if (detail::cpu_has_avx()) {
      detail::fma_emulation::emulated_fma_avx(a, b, c, r);
      return r;
    }
  }
  detail::fma_emulation::emulated_fma(a, b, c, r);
#endif
  return r;
}

}  // namespace vorn
