// The fused multiply-add built from exact pieces, lane by lane and eight
// lanes at once, against std::fma, bit for bit: random operands over every exponent the range check admits and
// beyond it, the cases where rounding is hardest (a·b + c nearly cancelling,
// exact halfway points, results at a power of two), and every special value.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <type_traits>

#include "vorn/fused_multiply_add.hpp"
#include "support/precisions.hpp"
#include "support/sanitized_build.hpp"

namespace vorn {
namespace {

template <class T>
using Bits = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>;

template <class T>
::testing::AssertionResult same_bits(T a, T b, T c, T got, char const* form) {
  T const want = std::fma(a, b, c);
  if (std::isnan(want) && std::isnan(got)) return ::testing::AssertionSuccess();
  if (std::bit_cast<Bits<T>>(want) == std::bit_cast<Bits<T>>(got)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << std::hexfloat << "fma(" << a << ", " << b << ", " << c << "): std::fma "
                                       << want << ", " << form << " " << got;
}

// The scalar form, and the eight-lane form with the operands in every
// position and beside lanes of other magnitudes (a lane that needs the
// scalar fallback must not disturb its neighbours): emulated in groups of
// two lanes and (doubles, where this CPU has AVX) of four, and as the vector backends
// call it (through the instruction where this CPU has it).
template <class T>
::testing::AssertionResult same_as_std_fma(T a, T b, T c) {
  if (auto same = same_bits(a, b, c, detail::fma_emulation::emulated_fma(a, b, c), "scalar form"); !same) return same;
  std::array<T, 8> const xs{a, b, -a, c, a, T(1.5), b, c};
  std::array<T, 8> const ys{b, a, b, b, c, T(3), c, T(0)};
  std::array<T, 8> const zs{c, c, c, a, b, c, a, b};
  std::array<T, 8> lanes;
  detail::fma_emulation::emulated_fma(xs, ys, zs, lanes);
  std::array<T, 8> const dispatched = fused_multiply_add(xs, ys, zs);
  std::array<T, 8> quads = lanes;
  if constexpr (std::is_same_v<T, double>) {
    if (detail::cpu_has_avx()) detail::fma_emulation::emulated_fma_avx(xs, ys, zs, quads);
  }
  for (int l = 0; l < 8; ++l) {
    if (auto same = same_bits(xs[l], ys[l], zs[l], lanes[l], "eight-lane form"); !same) return same << " in lane " << l;
    if (auto same = same_bits(xs[l], ys[l], zs[l], quads[l], "four-lane groups"); !same) {
      return same << " in lane " << l;
    }
    if (auto same = same_bits(xs[l], ys[l], zs[l], dispatched[l], "eight-lane call"); !same) {
      return same << " in lane " << l;
    }
  }
  return ::testing::AssertionSuccess();
}

// A random value with a random sign, significand and exponent in [lo, hi].
template <class T>
T random_value(std::mt19937_64& rng, int lo, int hi) {
  std::uniform_real_distribution<T> m(T(1), T(2));
  std::uniform_int_distribution<int> e(lo, hi);
  T const x = std::ldexp(m(rng), e(rng));
  return rng() & 1 ? -x : x;
}

template <class T>
void check_random(int exponent_lo, int exponent_hi, int rounds, unsigned seed) {
  std::mt19937_64 rng(seed);
  for (int r = 0; r < rounds; ++r) {
    T const a = random_value<T>(rng, exponent_lo, exponent_hi);
    T const b = random_value<T>(rng, exponent_lo, exponent_hi);
    T c = random_value<T>(rng, exponent_lo, exponent_hi);
    switch (r % 4) {
      case 0: break;
      case 1: c = -(a * b); break;                                    // near cancellation: the error term decides
      case 2: c = -(a * b) * (T(1) + std::numeric_limits<T>::epsilon() * T(rng() % 7)); break;
      case 3: c = std::ldexp(c, -std::numeric_limits<T>::digits - int(rng() % 8)) * (a * b) / c; break;
    }
    ASSERT_TRUE(same_as_std_fma(a, b, c));
  }
}

TEST(FusedMultiplyAdd, DoubleMatchesStdFmaOverTheEmulatedRange) { check_random<double>(-450, 450, test::unless_sanitized(2'000'000), 1); }
TEST(FusedMultiplyAdd, DoubleMatchesStdFmaNearUnitScale) { check_random<double>(-40, 40, test::unless_sanitized(2'000'000), 2); }
TEST(FusedMultiplyAdd, DoubleMatchesStdFmaOutsideTheEmulatedRange) { check_random<double>(-1074, 1023, test::unless_sanitized(500'000), 3); }
TEST(FusedMultiplyAdd, FloatMatchesStdFmaAtEveryExponent) { check_random<float>(-149, 127, test::unless_sanitized(2'000'000), 4); }

// Products with few significant bits meet the addend exactly halfway between
// two representable results, where only the tie-to-even rule decides.
template <class T>
void check_halfway(unsigned seed) {
  std::mt19937_64 rng(seed);
  int const p = std::numeric_limits<T>::digits;
  for (int r = 0; r < test::unless_sanitized(200'000); ++r) {
    T const a = T(1) + std::ldexp(T(rng() % 1024), -10);
    T const b = T(1) + std::ldexp(T(rng() % 1024), -10);
    T const big = std::ldexp(T(1 + rng() % 3), int(rng() % 20));
    for (int shift = p - 2; shift <= p + 22; ++shift) {
      T const c = big * std::ldexp(T(1), shift - p) * (rng() & 1 ? T(1) : T(-1));
      ASSERT_TRUE(same_as_std_fma(a, b, c));
      ASSERT_TRUE(same_as_std_fma(c, b, a));
      ASSERT_TRUE(same_as_std_fma(-a, b, c));
    }
  }
}

TEST(FusedMultiplyAdd, DoubleHalfwayCasesRoundToEven) { check_halfway<double>(5); }
TEST(FusedMultiplyAdd, FloatHalfwayCasesRoundToEven) { check_halfway<float>(6); }

// (1 - 2^-53)^2 = 1 - 2^-52 + 2^-106: its rounding leaves an error term of
// 2^-106, and with these addends the sum's own rounding error is a tie of the
// opposite sign, so only rounding to odd toward zero gets the last bit.
TEST(FusedMultiplyAdd, DoubleTiesBrokenByAnOppositeProductError) {
  double const a = 0x1.fffffffffffffp-1;
  for (double c : {-0x1.80000000004p+1, -0x1.80000000002p+1, -0x1.0000000000002p+2, -0x1.000000000004p+2}) {
    ASSERT_TRUE(same_as_std_fma(a, a, c));
    ASSERT_TRUE(same_as_std_fma(-a, a, -c));
  }
}

template <class T>
void check_specials() {
  using L = std::numeric_limits<T>;
  T const values[] = {T(0),         -T(0),          T(1),          -T(1),         T(0.5),       L::min(),
                      -L::min(),    L::denorm_min(), -L::denorm_min(), L::max(),     -L::max(),    L::epsilon(),
                      L::infinity(), -L::infinity(), L::quiet_NaN(), T(3),          std::sqrt(T(2))};
  for (T a : values) {
    for (T b : values) {
      for (T c : values) ASSERT_TRUE(same_as_std_fma(a, b, c));
    }
  }
}

TEST(FusedMultiplyAdd, ZerosInfinitiesNanAndExtremesFollowIeee) {
  test::for_each_precision([]<class T> { check_specials<T>(); });
}

}  // namespace
}  // namespace vorn
