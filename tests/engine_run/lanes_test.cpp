// The vector lanes of this program's backend (AVX-512 or AVX2) against their
// portable twin, bit for bit in every lane (lanes of no meaning included; any
// NaN matches any NaN), and the register cuts and pruning bounds built on
// them. The portable program has no second backend to compare.
#include "engine/simd/lane8.hpp"

#if defined(__AVX2__) && defined(__FMA__) && defined(__BMI__) && defined(__BMI2__) && defined(__POPCNT__)

#include <array>
#include <cmath>
#include <random>

#include "engine/prune_bound.hpp"
#include "engine/register_cut.hpp"
#include "engine_support.hpp"
#include "support/precisions.hpp"

namespace vorn::test {
namespace {

namespace pv = lane8::portable;
namespace av = lane8::native;
using PortableLanes = pv::Backend;
using NativeLanes = av::Backend;

class LaneTwins : public EngineTest {};

template <class T>
std::array<T, 8> to_array(pv::Vec<T> const& v) {
  return v.v;
}
template <class T>
std::array<T, 8> to_array(av::Vec<T> const& v) {
  std::array<T, 8> a;
  av::store(a.data(), v);
  return a;
}
std::array<std::int32_t, 8> to_array(pv::Ids const& v) { return v.v; }
std::array<std::int32_t, 8> to_array(av::Ids const& v) {
  std::array<std::int32_t, 8> a;
  av::store(a.data(), v);
  return a;
}

template <class A>
::testing::AssertionResult same_lanes(A const& portable, A const& avx, char const* what) {
  for (int l = 0; l < 8; ++l) {
    bool same;
    if constexpr (std::is_floating_point_v<typename A::value_type>) {
      // Which NaN an x86 fused multiply-add returns depends on the operand
      // order the compiler encodes; every NaN counts as inside and never
      // passes a bound, so only "is NaN" matters, and both must agree on it.
      same = bits(portable[l]) == bits(avx[l]) || (std::isnan(portable[l]) && std::isnan(avx[l]));
    } else {
      same = portable[l] == avx[l];
    }
    if (!same) {
      return ::testing::AssertionFailure() << what << ": lane " << l << " portable " << portable[l] << ", " << av::name << " "
                                           << avx[l];
    }
  }
  return ::testing::AssertionSuccess();
}

// Ordinary values mixed with zeros of both signs, infinities, NaN and
// subnormals, so that min/max and the compares meet every special rule.
template <class T>
std::array<T, 8> mixed_lanes(std::mt19937_64& rng) {
  using L = std::numeric_limits<T>;
  T const special[] = {T(0), -T(0), L::infinity(), -L::infinity(), L::quiet_NaN(), L::denorm_min(), T(1), T(-1)};
  std::uniform_real_distribution<T> value(T(-4), T(4));
  std::array<T, 8> a;
  for (T& x : a) x = rng() % 4 == 0 ? special[rng() % 8] : value(rng);
  return a;
}

template <class T>
void check_arithmetic(std::mt19937_64& rng) {
  for (int round = 0; round < 2000; ++round) {
    auto const a = mixed_lanes<T>(rng), b = mixed_lanes<T>(rng), c = mixed_lanes<T>(rng);
    auto const pa = pv::load(a.data()), pb = pv::load(b.data()), pc = pv::load(c.data());
    auto const xa = av::load(a.data()), xb = av::load(b.data()), xc = av::load(c.data());
    ASSERT_TRUE(same_lanes(to_array(pv::add(pa, pb)), to_array(av::add(xa, xb)), "add"));
    ASSERT_TRUE(same_lanes(to_array(pv::sub(pa, pb)), to_array(av::sub(xa, xb)), "sub"));
    ASSERT_TRUE(same_lanes(to_array(pv::mul(pa, pb)), to_array(av::mul(xa, xb)), "mul"));
    ASSERT_TRUE(same_lanes(to_array(pv::div(pa, pb)), to_array(av::div(xa, xb)), "div"));
    ASSERT_TRUE(same_lanes(to_array(pv::fma(pa, pb, pc)), to_array(av::fma(xa, xb, xc)), "fma"));
    ASSERT_TRUE(same_lanes(to_array(pv::fms(pa, pb, pc)), to_array(av::fms(xa, xb, xc)), "fms"));
    ASSERT_TRUE(same_lanes(to_array(pv::min(pa, pb)), to_array(av::min(xa, xb)), "min"));
    ASSERT_TRUE(same_lanes(to_array(pv::max(pa, pb)), to_array(av::max(xa, xb)), "max"));
    ASSERT_EQ(pv::above_zero(pa), av::above_zero(xa));
    ASSERT_EQ(pv::at_most_zero(pa), av::at_most_zero(xa));
  }
}

TEST_P(LaneTwins, ArithmeticMinMaxAndComparesAgreeInEveryLane) {
  std::mt19937_64 rng(11);
  check_arithmetic<double>(rng);
  check_arithmetic<float>(rng);
}

template <class T>
void check_masked_load() {
  std::array<T, 8> a{T(1.5), T(-2), T(3), T(4.25), T(-5), T(6), T(7), T(8)};
  for (int count = 0; count <= 8; ++count) {
    ASSERT_TRUE(same_lanes(to_array(pv::load_first(a.data(), count)), to_array(av::load_first(a.data(), count)),
                           "load_first"))
        << "count " << count;
  }
}

TEST_P(LaneTwins, MaskedLoadsOfEveryLengthAgree) {
  for_each_precision([]<class T> { check_masked_load<T>(); });
}

template <class T>
void check_permutes(int first, int n, int keep) {
  std::array<T, 8> a, b;
  std::array<std::int32_t, 8> ia, ib;
  for (int l = 0; l < 8; ++l) a[l] = T(l), b[l] = T(10 + l), ia[l] = l, ib[l] = 10 + l;
  auto const pi = pv::rotation_then_pair(first, n, keep);
  auto const xi = av::rotation_then_pair(first, n, keep);
  auto const pa = pv::load(a.data()), pb = pv::load(b.data());
  auto const xa = av::load(a.data()), xb = av::load(b.data());
  ASSERT_TRUE(same_lanes(to_array(pv::permute2(pa, pb, pi)), to_array(av::permute2(xa, xb, xi)), "permute2"));
  ASSERT_TRUE(same_lanes(to_array(pv::permute2(pv::load(ia.data()), pv::load(ib.data()), pi)),
                         to_array(av::permute2(av::load(ia.data()), av::load(ib.data()), xi)), "permute2 ids"));
  auto const pp = pv::pair(first, keep);
  auto const xp = av::pair(first, keep);
  ASSERT_TRUE(same_lanes(to_array(pv::permute(pa, pp)), to_array(av::permute(xa, xp)), "pair"));
  ASSERT_TRUE(same_lanes(to_array(pv::pair_ids(-7, pv::load(ia.data()), first)),
                         to_array(av::pair_ids(-7, av::load(ia.data()), first)), "pair_ids"));
  // The kept lanes are the rotation, the next two the second source's lanes 0 and 1.
  auto const r = to_array(pv::permute2(pa, pb, pi));
  for (int j = 0; j < keep; ++j) ASSERT_EQ(r[j], T((first + j) % n));
  ASSERT_EQ(r[keep], T(10));
  ASSERT_EQ(r[keep + 1], T(11));
}

TEST_P(LaneTwins, RotationsForEverySizeStartAndRunLengthAgree) {
  for (int n = 3; n <= 8; ++n) {
    for (int first = 0; first < n; ++first) {
      for (int keep = 1; keep < n && keep + 2 <= 8; ++keep) {
        SCOPED_TRACE(::testing::Message() << "n " << n << " first " << first << " keep " << keep);
        check_permutes<double>(first, n, keep);
        check_permutes<float>(first, n, keep);
      }
    }
  }
}

// A convex N-gon around the origin with jittered angles and radii.
template <class T, int N, class Lanes>
StateReg<T, N, Lanes> random_polygon(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> jitter(-0.3, 0.3), radius(0.5, 1.5);
  std::array<T, 8> x{}, y{};
  std::array<std::int32_t, 8> id{};
  for (int i = 0; i < 8; ++i) {
    double const angle = 2 * M_PI * (i + jitter(rng)) / N;
    double const r = radius(rng);
    x[i] = T(r * std::cos(angle)), y[i] = T(r * std::sin(angle)), id[i] = 100 + i;
  }
  return {Lanes::load(x.data()), Lanes::load(y.data()), Lanes::load_ids(id.data())};
}

template <class T, int N>
void check_register_cuts(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  for (int round = 0; round < 400; ++round) {
    std::mt19937_64 twin = rng;
    auto p = random_polygon<T, N, PortableLanes>(rng);
    auto a = random_polygon<T, N, NativeLanes>(twin);
    Plane<T, 2> const plane{{T(u(rng)), T(u(rng))}, T(u(rng)), 42};
    int const rp = detail::cut_registers(p, plane);
    int const ra = detail::cut_registers(a, plane);
    ASSERT_EQ(rp, ra) << "N " << N << " round " << round;
    ASSERT_TRUE(same_lanes(to_array(p.xs), to_array(a.xs), "xs")) << "N " << N << " round " << round;
    ASSERT_TRUE(same_lanes(to_array(p.ys), to_array(a.ys), "ys")) << "N " << N << " round " << round;
    ASSERT_TRUE(same_lanes(to_array(p.cut_ids), to_array(a.cut_ids), "ids")) << "N " << N << " round " << round;
  }
}

template <class T>
void check_register_cuts_all_sizes(std::mt19937_64& rng) {
  check_register_cuts<T, 3>(rng);
  check_register_cuts<T, 4>(rng);
  check_register_cuts<T, 5>(rng);
  check_register_cuts<T, 6>(rng);
  check_register_cuts<T, 7>(rng);
  check_register_cuts<T, 8>(rng);
}

TEST_P(LaneTwins, RegisterCutsOfEverySizeGiveTheSameLanes) {
  std::mt19937_64 rng(23);
  check_register_cuts_all_sizes<double>(rng);
  check_register_cuts_all_sizes<float>(rng);
}

template <class T>
void check_prune_bounds(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  for (int round = 0; round < 2000; ++round) {
    T const lx = T(u(rng)), ly = T(u(rng));
    detail::PruneBound<T> const b{lx,        ly,        T(lx + 0.3), T(ly + 0.2), T(0.1 * u(rng)), T(0.1 * u(rng)),
                                  T(u(rng)), T(u(rng)), T(u(rng)),   T(u(rng))};
    auto const x = mixed_lanes<T>(rng), y = mixed_lanes<T>(rng);
    auto const px = pv::load(x.data()), py = pv::load(y.data());
    auto const ax = av::load(x.data()), ay = av::load(y.data());
    ASSERT_EQ((detail::passing_lanes_chained<PortableLanes>(b, px, py)),
              (detail::passing_lanes_chained<NativeLanes>(b, ax, ay)));
    ASSERT_EQ((detail::passing_lanes_grouped<PortableLanes>(b, px, py)),
              (detail::passing_lanes_grouped<NativeLanes>(b, ax, ay)));
  }
}

TEST_P(LaneTwins, PruningBoundsPassTheSameLanes) {
  std::mt19937_64 rng(31);
  check_prune_bounds<double>(rng);
  check_prune_bounds<float>(rng);
}

VORN_ENGINE_TEST_SUITE(LaneTwins);

}  // namespace
}  // namespace vorn::test

#endif
