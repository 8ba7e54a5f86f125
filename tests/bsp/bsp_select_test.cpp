// The median selection's exact permutation, against a reference written
// separately from the kernel: in-process for arbitrary targets, and through
// the units' `order` scratch for every node of random levels.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "bsp_select.hpp"
#include "bsp_unit_types.hpp"
#include "level_call.hpp"
#include "reference_select.hpp"

namespace vorn {
namespace {

using host::BspUnit;

using testing::reference_select;
using testing::repeated_keys;

TEST(BspSelect, MatchesTheReferenceForEveryTarget) {
  std::mt19937_64 rng(42);
  using Positions = bsp::Positions<2, CpuKernelMemorySpace>;
  using Order = bsp::Vector<long long, CpuKernelMemorySpace, _num_point>;
  for (int round = 0; round < 200; ++round) {
    const std::size_t n = 1 + rng() % 60;
    const auto keys = repeated_keys(n, 1 + static_cast<int>(rng() % 12), rng);
    std::vector<double> xy(2 * n, -1.0);
    for (std::size_t i = 0; i < n; ++i) xy[2 * i + 1] = keys[i];  // axis 1 holds the keys
    const long long lo = static_cast<long long>(rng() % n);
    const long long hi = lo + 1 + static_cast<long long>(rng() % (n - lo));
    const long long target = lo + static_cast<long long>(rng() % (hi - lo));
    std::vector<long long> order(n), expected(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = expected[i] = static_cast<long long>((i * 7) % n);
    Positions positions{};
    positions.shape.set<0>(static_cast<long long>(n));
    positions.data = xy.data();
    Order order_view{};
    order_view.shape.set<0>(static_cast<long long>(n));
    order_view.data = order.data();
    bsp_select(order_view, positions, lo, hi, target, 1);
    reference_select(expected, keys, lo, hi, target);
    ASSERT_EQ(order, expected) << "round " << round << " [" << lo << ", " << hi << ") target " << target;
  }
}

// A level over nodes that tile [0, n): the unit's `order` must equal the
// reference on every split node and the identity on every other one.
void check_level_against_reference(BspUnit unit, unsigned seed) {
  std::mt19937_64 rng(seed);
  const std::size_t d = static_cast<std::size_t>(host::bsp_dimension(unit));
  const std::size_t n = 2000;
  std::vector<double> xs(n * d);
  for (std::size_t j = 0; j < d; ++j) {
    const auto keys = repeated_keys(n, 1 + static_cast<int>(rng() % 40), rng);
    for (std::size_t i = 0; i < n; ++i) xs[i * d + j] = keys[i] * 0.5;
  }
  std::vector<long long> begin, end;
  for (long long b = 0; b < static_cast<long long>(n);) {
    const long long size = std::min<long long>(static_cast<long long>(n) - b, rng() % 120);
    begin.push_back(b);
    end.push_back(b + size);
    b += size;
  }
  testing::LevelCall call(unit, xs, begin, end, 3);
  call.run();
  for (std::size_t b = 0; b < begin.size(); ++b) {
    std::vector<long long> expected(n);
    for (long long i = begin[b]; i < end[b]; ++i) expected[i] = i;
    if (call.node_split[b] != end[b]) {
      int axis = 0;
      for (int j = 1; j < static_cast<int>(d); ++j) {
        if (call.box(b, 1, j) - call.box(b, 0, j) > call.box(b, 1, axis) - call.box(b, 0, axis)) axis = j;
      }
      std::vector<double> key(n);
      for (std::size_t i = 0; i < n; ++i) key[i] = xs[i * d + axis];
      reference_select(expected, key, begin[b], end[b], begin[b] + (end[b] - begin[b]) / 2);
    }
    for (long long i = begin[b]; i < end[b]; ++i) {
      ASSERT_EQ(call.order[i], expected[i]) << testing::unit_name(unit) << " node " << b << " index " << i;
      ASSERT_EQ(call.out_ids[i], 1000 + expected[i]);
    }
  }
}

TEST(BspSelect, UnitsReorderEveryNodeLikeTheReference) {
  for (const BspUnit unit : {BspUnit::weighted_2d, BspUnit::plain_3d, BspUnit::plain_2d}) {
    for (const unsigned seed : {1u, 2u, 3u}) check_level_against_reference(unit, seed);
  }
}

}  // namespace
}  // namespace vorn
