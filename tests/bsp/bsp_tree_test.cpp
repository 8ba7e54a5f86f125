// Whole trees built level by level through the units: structural properties
// on random clouds with duplicates and collinear runs, and input validation.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "level_call.hpp"

namespace vorn {
namespace {

using host::BspTree;
using host::BspUnit;

struct Cloud {
  std::vector<double> positions, weights;
};

// n points on a coarse grid (so that coordinates repeat), a quarter of them
// exact copies of earlier points and runs of points sharing one coordinate.
Cloud random_cloud(BspUnit unit, std::size_t n, unsigned seed) {
  std::mt19937_64 rng(seed);
  const std::size_t d = static_cast<std::size_t>(host::bsp_dimension(unit));
  std::uniform_int_distribution<int> grid(-50, 50);
  Cloud c;
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t kind = rng() % 8;
    for (std::size_t j = 0; j < d; ++j) {
      double v = grid(rng) * 0.25;
      if (k > 0 && kind < 2) v = c.positions[(rng() % k) * d + j];                // duplicate
      if (k > 0 && kind == 2 && j == 0) v = c.positions[(k - 1) * d];             // collinear run
      c.positions.push_back(v);
    }
  }
  if (host::bsp_weighted(unit)) {
    std::normal_distribution<double> noise(0.0, 1.0);
    for (std::size_t k = 0; k < n; ++k) c.weights.push_back(0.5 * c.positions[k * d] + noise(rng));
  }
  return c;
}

class TreeChecker {
 public:
  TreeChecker(const BspTree& tree, const Cloud& input, long long leaf_size)
      : t_(tree), in_(input), leaf_(leaf_size), d_(static_cast<std::size_t>(tree.dimension)) {}

  void check() {
    ASSERT_EQ(t_.node_count(), (1LL << t_.levels) - 1);
    check_points_kept_once();
    ASSERT_EQ(t_.node_begin[0], 0);
    ASSERT_EQ(t_.node_end[0], t_.point_count());
    check_node(0, t_.levels);
    if (t_.levels >= 2) {
      EXPECT_TRUE(split_at_level_2_) << "the last level adds nothing";
    }
  }

 private:
  double x(long long k, std::size_t j) const { return t_.positions[static_cast<std::size_t>(k) * d_ + j]; }
  double box(long long node, int corner, std::size_t j) const {
    return t_.node_box[(static_cast<std::size_t>(node) * 2 + corner) * d_ + j];
  }

  void check_points_kept_once() {
    const std::size_t n = t_.ids.size();
    ASSERT_EQ(in_.positions.size(), n * d_);
    std::vector<int> seen(n, 0);
    for (std::size_t k = 0; k < n; ++k) {
      const auto id = static_cast<std::size_t>(t_.ids[k]);
      ASSERT_LT(id, n);
      ASSERT_EQ(seen[id]++, 0) << "id " << id << " twice";
      for (std::size_t j = 0; j < d_; ++j) ASSERT_EQ(x(k, j), in_.positions[id * d_ + j]);
      if (!in_.weights.empty()) {
        ASSERT_EQ(t_.weights[k], in_.weights[id]);
      }
    }
  }

  bool coincident(long long b, long long e) const {
    for (long long k = b; k < e; ++k) {
      for (std::size_t j = 0; j < d_; ++j) {
        if (x(k, j) != x(b, j)) return false;
      }
    }
    return true;
  }

  void check_box_and_majorant(long long node, long long b, long long e) {
    for (std::size_t j = 0; j < d_; ++j) {
      double lo = b < e ? x(b, j) : 0.0, hi = lo;
      for (long long k = b; k < e; ++k) lo = std::min(lo, x(k, j)), hi = std::max(hi, x(k, j));
      EXPECT_EQ(box(node, 0, j), lo) << "node " << node;
      EXPECT_EQ(box(node, 1, j), hi) << "node " << node;
    }
    if (t_.weights.empty()) return;
    const double* g = &t_.majorant_gradient[2 * static_cast<std::size_t>(node)];
    for (long long k = b; k < e; ++k) {
      EXPECT_LE(t_.weights[k], (g[0] * x(k, 0) + g[1] * x(k, 1)) + t_.majorant_offset[node]) << "node " << node;
    }
  }

  int widest_axis(long long node) const {
    int axis = 0;
    for (int j = 1; j < static_cast<int>(d_); ++j) {
      if (box(node, 1, j) - box(node, 0, j) > box(node, 1, axis) - box(node, 0, axis)) axis = j;
    }
    return axis;
  }

  void check_split(long long node, long long b, long long split, long long e) {
    const long long c = e - b;
    if (split == e) {
      EXPECT_TRUE(c <= leaf_ || coincident(b, e)) << "node " << node << " of " << c << " points left whole";
      return;
    }
    EXPECT_GT(c, leaf_) << "node " << node;
    EXPECT_EQ(split - b, c / 2) << "node " << node;
    const int axis = widest_axis(node);
    double lower_max = x(b, axis), upper_min = x(split, axis);
    for (long long k = b; k < split; ++k) lower_max = std::max(lower_max, x(k, axis));
    for (long long k = split; k < e; ++k) upper_min = std::min(upper_min, x(k, axis));
    EXPECT_LE(lower_max, upper_min) << "node " << node << " axis " << axis;
  }

  void check_node(long long node, int level) {
    const long long b = t_.node_begin[node], e = t_.node_end[node];
    ASSERT_LE(b, e);
    check_box_and_majorant(node, b, e);
    if (level == 1) {
      EXPECT_TRUE(e - b <= leaf_ || coincident(b, e)) << "leaf " << node;
      return;
    }
    const long long lower = node + 1, upper = node + (1LL << (level - 1));
    ASSERT_EQ(t_.node_begin[lower], b) << "node " << node;
    ASSERT_EQ(t_.node_end[lower], t_.node_begin[upper]) << "node " << node;
    ASSERT_EQ(t_.node_end[upper], e) << "node " << node;
    if (b < e) check_split(node, b, t_.node_end[lower], e);
    if (level == 2 && b < e && t_.node_end[lower] != e) split_at_level_2_ = true;
    check_node(lower, level - 1);
    check_node(upper, level - 1);
  }

  const BspTree& t_;
  const Cloud& in_;
  long long leaf_;
  std::size_t d_;
  bool split_at_level_2_ = false;
};

class BspTreeProperties : public ::testing::TestWithParam<BspUnit> {};

TEST_P(BspTreeProperties, RandomCloudsWithRepeats) {
  const BspUnit unit = GetParam();
  for (const auto& [n, leaf_size, seed] :
       std::vector<std::tuple<std::size_t, long long, unsigned>>{{1, 1, 1}, {2, 1, 2}, {17, 1, 3}, {100, 4, 4},
                                                                  {1000, 16, 5}, {3000, 1, 6}, {777, 50, 7}}) {
    SCOPED_TRACE(testing::unit_name(unit) + " n=" + std::to_string(n) + " leaf_size=" + std::to_string(leaf_size));
    const Cloud cloud = random_cloud(unit, n, seed);
    const BspTree tree = host::build_bsp_tree(unit, cloud.positions, cloud.weights, leaf_size);
    TreeChecker(tree, cloud, leaf_size).check();
  }
}

TEST_P(BspTreeProperties, AllEqualPointsMakeOneLeaf) {
  const std::size_t d = static_cast<std::size_t>(host::bsp_dimension(GetParam()));
  const Cloud cloud{std::vector<double>(100 * d, 3.0),
                    host::bsp_weighted(GetParam()) ? std::vector<double>(100, 1.0) : std::vector<double>{}};
  const BspTree tree = host::build_bsp_tree(GetParam(), cloud.positions, cloud.weights, 1);
  EXPECT_EQ(tree.levels, 1);
  EXPECT_EQ(tree.node_end, (std::vector<long long>{100}));
  TreeChecker(tree, cloud, 1).check();
}

TEST_P(BspTreeProperties, EmptyCloudIsOneEmptyLeaf) {
  const BspTree tree = host::build_bsp_tree(GetParam(), {}, {}, 4);
  EXPECT_EQ(tree.levels, 1);
  EXPECT_EQ(tree.node_begin, (std::vector<long long>{0}));
  EXPECT_EQ(tree.node_end, (std::vector<long long>{0}));
}

INSTANTIATE_TEST_SUITE_P(Units, BspTreeProperties,
                         ::testing::Values(BspUnit::weighted_2d, BspUnit::plain_3d, BspUnit::plain_2d),
                         [](const auto& info) { return testing::unit_name(info.param); });

TEST(BspTreeLayout, FourPointsGiveThreeNodesInPreOrder) {
  const std::vector<double> xy = {3, 0, 0, 0, 2, 0, 1, 0};
  const BspTree tree = host::build_bsp_tree(BspUnit::plain_2d, xy, {}, 1);
  EXPECT_EQ(tree.levels, 3);
  // root [0,4); lower [0,2) = node 1 with leaves 2, 3; upper [2,4) = node 4 with leaves 5, 6
  EXPECT_EQ(tree.node_begin, (std::vector<long long>{0, 0, 0, 1, 2, 2, 3}));
  EXPECT_EQ(tree.node_end, (std::vector<long long>{4, 2, 1, 2, 4, 3, 4}));
  EXPECT_EQ(tree.ids, (std::vector<long long>{1, 3, 2, 0}));
}

std::string rejection(BspUnit unit, const std::vector<double>& xs, const std::vector<double>& w, long long leaf) {
  try {
    host::build_bsp_tree(unit, xs, w, leaf);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "accepted";
}

TEST(BspTreeValidation, NonFiniteValuesNameTheFirstOffendingPoint) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  std::vector<double> xy(20, 1.0), w(10, 0.0);
  xy[2 * 7 + 1] = nan;
  xy[2 * 9] = -inf;
  EXPECT_NE(rejection(BspUnit::plain_2d, xy, {}, 2).find("point 7 "), std::string::npos);
  w[4] = inf;
  EXPECT_NE(rejection(BspUnit::weighted_2d, xy, w, 2).find("point 4 "), std::string::npos);
  std::vector<double> xyz(27, 0.0);
  xyz[3 * 8 + 2] = nan;
  EXPECT_NE(rejection(BspUnit::plain_3d, xyz, {}, 2).find("point 8 "), std::string::npos);
}

TEST(BspTreeValidation, BadShapesAndLeafSizesAreRejected) {
  const std::vector<double> xy(8, 0.5), w(4, 1.0);
  EXPECT_NE(rejection(BspUnit::plain_2d, xy, {}, 0).find("leaf_size"), std::string::npos);
  EXPECT_NE(rejection(BspUnit::plain_2d, xy, {}, -3).find("leaf_size"), std::string::npos);
  EXPECT_NE(rejection(BspUnit::plain_3d, xy, {}, 1).find("positions holds 8"), std::string::npos);
  EXPECT_NE(rejection(BspUnit::weighted_2d, xy, {1.0, 2.0}, 1).find("weights holds 2"), std::string::npos);
  EXPECT_NE(rejection(BspUnit::plain_2d, xy, w, 1).find("weights holds 4"), std::string::npos);
  EXPECT_EQ(rejection(BspUnit::weighted_2d, xy, w, 1), "accepted");
}

TEST(BspTreeValidation, CloudsBeyondThe32BitWorkCountsAreRejected) {
  EXPECT_NO_THROW(host::check_bsp_tree_size(BspUnit::plain_2d, (1LL << 30) - 1, 16));
  EXPECT_THROW(host::check_bsp_tree_size(BspUnit::plain_2d, 1LL << 30, 1LL << 40), std::invalid_argument);
  EXPECT_NO_THROW(host::check_bsp_tree_size(BspUnit::plain_3d, 715827882, 1LL << 40));
  EXPECT_THROW(host::check_bsp_tree_size(BspUnit::plain_3d, 715827883, 1LL << 40), std::invalid_argument);
  EXPECT_THROW(host::check_bsp_tree_size(BspUnit::weighted_2d, 1LL << 31, 16), std::invalid_argument);
  // Level 28 has 2^28 nodes and 2^30 box values in 2-D; level 29 would reach 2^31.
  EXPECT_NO_THROW(host::check_bsp_tree_size(BspUnit::weighted_2d, 1LL << 28, 1));
  EXPECT_THROW(host::check_bsp_tree_size(BspUnit::weighted_2d, (1LL << 28) + 1, 1), std::invalid_argument);
  EXPECT_NO_THROW(host::check_bsp_tree_size(BspUnit::plain_3d, 1LL << 28, 1));
  EXPECT_THROW(host::check_bsp_tree_size(BspUnit::plain_3d, (1LL << 28) + 1, 1), std::invalid_argument);
}

}  // namespace
}  // namespace vorn
