// One BSP level through the real exported entries of the three units.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "level_call.hpp"

namespace vorn {
namespace {

using host::BspUnit;
using testing::LevelCall;

// 2-D rows, given a zero third coordinate for the 3-D unit.
std::vector<double> rows(BspUnit unit, const std::vector<double>& xy) {
  if (host::bsp_dimension(unit) == 2) return xy;
  std::vector<double> out;
  for (std::size_t k = 0; k + 1 < xy.size(); k += 2) out.insert(out.end(), {xy[k], xy[k + 1], 0.0});
  return out;
}

std::vector<long long> iota_ids(long long first, long long count) {
  std::vector<long long> ids;
  for (long long k = 0; k < count; ++k) ids.push_back(first + k);
  return ids;
}

class BspLevel : public ::testing::TestWithParam<BspUnit> {};

TEST_P(BspLevel, FivePointExampleGivesTheDocumentedOrder) {
  LevelCall call(GetParam(), rows(GetParam(), {4, 0, 1, 0, 3, 0, 1, 0, 2, 0}), {0}, {5}, 1);
  call.run();
  EXPECT_EQ(call.node_split, (std::vector<long long>{2}));
  EXPECT_EQ(call.order, (std::vector<long long>{3, 1, 4, 2, 0}));
  EXPECT_EQ(call.out_ids, (std::vector<long long>{1003, 1001, 1004, 1002, 1000}));
  for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(call.x(k, 0), (std::vector<double>{1, 1, 2, 3, 4}[k]));
  if (host::bsp_weighted(GetParam())) {
    EXPECT_EQ(call.out_weights, (std::vector<double>{4, 2, 5, 3, 1}));
  }
  EXPECT_EQ(call.box(0, 0, 0), 1.0);
  EXPECT_EQ(call.box(0, 1, 0), 4.0);
  EXPECT_EQ(call.box(0, 0, 1), 0.0);
  EXPECT_EQ(call.box(0, 1, 1), 0.0);
  EXPECT_EQ(call.status, (std::vector<int>{0, 0, 0}));
}

TEST_P(BspLevel, EmptyNodesGetZeroBoxesAndWriteNothingElse) {
  LevelCall call(GetParam(), rows(GetParam(), {1, 2, 3, 4, 5, 6, 7, 8}), {2, 3}, {2, 1}, 0);
  call.fill_outputs_with_garbage();
  call.run();
  EXPECT_EQ(call.node_split, (std::vector<long long>{2, 1}));
  for (const double v : call.node_box) EXPECT_EQ(std::bit_cast<std::uint64_t>(v), 0u);
  for (const double v : call.majorant_gradient) EXPECT_EQ(std::bit_cast<std::uint64_t>(v), 0u);
  for (const double v : call.majorant_offset) EXPECT_EQ(std::bit_cast<std::uint64_t>(v), 0u);
  for (const double v : call.out_positions) EXPECT_EQ(std::bit_cast<std::uint64_t>(v), 0u);
  for (const double v : call.out_weights) EXPECT_EQ(std::bit_cast<std::uint64_t>(v), 0u);
  EXPECT_EQ(call.out_ids, std::vector<long long>(4, 0));
  EXPECT_EQ(call.order, std::vector<long long>(4, 0));
}

TEST_P(BspLevel, OnePointIsCopiedAndNeverSplit) {
  LevelCall call(GetParam(), rows(GetParam(), {9, 9, -2.5, 7, 9, 9}), {1}, {2}, -5);
  call.run();
  EXPECT_EQ(call.node_split, (std::vector<long long>{2}));
  EXPECT_EQ(call.out_ids[1], 1001);
  EXPECT_EQ(call.x(1, 0), -2.5);
  EXPECT_EQ(call.x(1, 1), 7.0);
  for (std::size_t j = 0; j < call.d; ++j) EXPECT_EQ(call.box(0, 0, j), call.box(0, 1, j));
  EXPECT_EQ(call.box(0, 0, 0), -2.5);
}

TEST_P(BspLevel, NodesWithinLeafSizeAreCopiedInInputOrder) {
  LevelCall call(GetParam(), rows(GetParam(), {5, 1, 4, 2, 3, 3, 2, 4, 1, 5, 0, 6, 9, 9}), {0, 3}, {3, 7}, 4);
  call.run();
  EXPECT_EQ(call.node_split, (std::vector<long long>{3, 7}));
  EXPECT_EQ(call.out_ids, iota_ids(1000, 7));
  EXPECT_EQ(call.out_positions, call.positions);
  EXPECT_EQ(call.order, iota_ids(0, 7));
}

TEST_P(BspLevel, CoincidentPointsAreNeverSplit) {
  LevelCall call(GetParam(), rows(GetParam(), std::vector<double>(12, 0.25)), {0}, {6}, -1);
  call.run();
  EXPECT_EQ(call.node_split, (std::vector<long long>{6}));
  EXPECT_EQ(call.out_ids, iota_ids(1000, 6));
}

TEST_P(BspLevel, TwoDistinctPointsSplitSmallerFirst) {
  for (const long long leaf_size : {-3LL, 0LL, 1LL}) {
    LevelCall call(GetParam(), rows(GetParam(), {5, 0, 1, 0}), {0}, {2}, leaf_size);
    call.run();
    EXPECT_EQ(call.node_split, (std::vector<long long>{1})) << leaf_size;
    EXPECT_EQ(call.out_ids, (std::vector<long long>{1001, 1000})) << leaf_size;
  }
}

TEST_P(BspLevel, EqualKeysStillSplitAtTheMiddle) {
  const std::vector<double> xs = {1, 1, 2, 1, 1, 0, 1, 1, 1, 3, 1};
  std::vector<double> xy;
  for (const double x : xs) xy.insert(xy.end(), {x, 0.0});
  LevelCall call(GetParam(), rows(GetParam(), xy), {0}, {11}, 2);
  call.run();
  ASSERT_EQ(call.node_split, (std::vector<long long>{5}));
  double lower_max = call.x(0, 0), upper_min = call.x(5, 0);
  for (std::size_t k = 0; k < 5; ++k) lower_max = std::max(lower_max, call.x(k, 0));
  for (std::size_t k = 5; k < 11; ++k) upper_min = std::min(upper_min, call.x(k, 0));
  EXPECT_LE(lower_max, call.x(5, 0));
  EXPECT_EQ(upper_min, call.x(5, 0));
}

TEST_P(BspLevel, UncoveredIndicesReadZeroWhateverTheBuffersHeld) {
  LevelCall call(GetParam(), rows(GetParam(), {8, 1, 7, 2, 6, 3, 5, 4, 4, 5, 3, 6, 2, 7, 1, 8}), {1, 5}, {3, 7}, 0);
  call.fill_outputs_with_garbage();
  call.run();
  for (const std::size_t k : {0u, 3u, 4u, 7u}) {
    for (std::size_t j = 0; j < call.d; ++j) EXPECT_EQ(std::bit_cast<std::uint64_t>(call.x(k, j)), 0u) << k;
    EXPECT_EQ(call.out_ids[k], 0) << k;
    EXPECT_EQ(call.order[k], 0) << k;
    if (!call.out_weights.empty()) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(call.out_weights[k]), 0u) << k;
    }
  }
  EXPECT_EQ(call.node_split, (std::vector<long long>{2, 6}));
  EXPECT_EQ(call.out_ids[1], 1002);
  EXPECT_EQ(call.out_ids[2], 1001);
}

TEST_P(BspLevel, NoNodesStillClearsEveryOutput) {
  LevelCall call(GetParam(), rows(GetParam(), {1, 2, 3, 4, 5, 6}), {}, {}, 1);
  call.fill_outputs_with_garbage();
  call.run();
  for (const double v : call.out_positions) EXPECT_EQ(std::bit_cast<std::uint64_t>(v), 0u);
  for (const double v : call.out_weights) EXPECT_EQ(std::bit_cast<std::uint64_t>(v), 0u);
  EXPECT_EQ(call.out_ids, std::vector<long long>(3, 0));
  EXPECT_EQ(call.order, std::vector<long long>(3, 0));
  EXPECT_EQ(call.status, (std::vector<int>{0, 0, 0}));
}

// Four points whose coordinate ranks differ per axis, so that the lower half
// along each axis is a different pair: the pair found below the split tells
// which axis was split. Coordinates are rank * scale[j], extents 3 * scale[j].
std::set<long long> lower_pair_for_scales(BspUnit unit, const std::vector<double>& scale) {
  const int ranks[4][3] = {{0, 2, 1}, {1, 0, 3}, {2, 3, 0}, {3, 1, 2}};
  std::vector<double> xs;
  for (const auto& r : ranks) {
    for (std::size_t j = 0; j < scale.size(); ++j) xs.push_back(r[j] * scale[j]);
  }
  LevelCall call(unit, xs, {0}, {4}, 1);
  call.run();
  EXPECT_EQ(call.node_split, (std::vector<long long>{2}));
  return {call.out_ids[0] - 1000, call.out_ids[1] - 1000};
}

const std::set<long long> lower_by_axis[3] = {{0, 1}, {1, 3}, {0, 2}};

TEST(BspSplitAxis, TwoDimensionalRulePrefersTheLowerAxisOnTies) {
  for (const BspUnit unit : {BspUnit::weighted_2d, BspUnit::plain_2d}) {
    EXPECT_EQ(lower_pair_for_scales(unit, {1, 1}), lower_by_axis[0]);
    EXPECT_EQ(lower_pair_for_scales(unit, {1, 2}), lower_by_axis[1]);
    EXPECT_EQ(lower_pair_for_scales(unit, {2, 1}), lower_by_axis[0]);
  }
}

TEST(BspSplitAxis, ThreeDimensionalRulePrefersTheLowerAxisOnTies) {
  EXPECT_EQ(lower_pair_for_scales(BspUnit::plain_3d, {1, 1, 1}), lower_by_axis[0]);
  EXPECT_EQ(lower_pair_for_scales(BspUnit::plain_3d, {1, 2, 2}), lower_by_axis[1]);
  EXPECT_EQ(lower_pair_for_scales(BspUnit::plain_3d, {1, 1, 2}), lower_by_axis[2]);
  EXPECT_EQ(lower_pair_for_scales(BspUnit::plain_3d, {2, 1, 2}), lower_by_axis[0]);
}

// The weighted unit takes its boxes from the majorant's statistics pass, the
// plain 2-D unit from its own box scan: both must keep the first of equal
// coordinates, so a node mixing -0.0 and +0.0 gets the same bits from both.
TEST(BspBox, WeightedAndPlainUnitsGiveTheSameBoxBits) {
  std::mt19937_64 rng(5);
  const double values[] = {-0.0, 0.0, -1.5, 1.5, 2.0};
  std::vector<double> xy(2 * 400);
  for (double& v : xy) v = values[rng() % 5];
  std::vector<long long> begin, end;
  for (long long b = 0; b < 400; b += 1 + b % 13) {
    begin.push_back(b);
    end.push_back(std::min<long long>(400, b + 1 + b % 13));
  }
  LevelCall weighted(BspUnit::weighted_2d, xy, begin, end, 2), plain(BspUnit::plain_2d, xy, begin, end, 2);
  weighted.run();
  plain.run();
  for (std::size_t i = 0; i < plain.node_box.size(); ++i) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(weighted.node_box[i]), std::bit_cast<std::uint64_t>(plain.node_box[i]))
        << "box value " << i << " of node " << i / 4;
  }
  EXPECT_EQ(weighted.order, plain.order);
}

INSTANTIATE_TEST_SUITE_P(Units, BspLevel,
                         ::testing::Values(BspUnit::weighted_2d, BspUnit::plain_3d, BspUnit::plain_2d),
                         [](const auto& info) { return testing::unit_name(info.param); });

}  // namespace
}  // namespace vorn
