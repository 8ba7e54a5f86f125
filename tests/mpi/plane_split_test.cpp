// The split of the plane among ranks and the cut reach of a cell: the two
// facts the distributed diagram rests on, checked without MPI.
#include "plane_split.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "cell_reach.hpp"
#include "seed_sets.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn {
namespace {

const host::Box unit_square{0.0, 0.0, 1.0, 1.0};

std::vector<mpi::SamplePoint> sample_of(const test::SeedSet& s) {
  std::vector<mpi::SamplePoint> sample;
  for (std::size_t i = 0; i < s.weights.size(); ++i) {
    sample.push_back({s.positions[2 * i], s.positions[2 * i + 1], static_cast<std::int64_t>(i)});
  }
  return sample;
}

bool in_region(const host::Box& r, double x, double y) {
  return x >= r.x_min && x < r.x_max && y >= r.y_min && y < r.y_max;
}

// Every point of the plane has one owner, whose region holds it: the
// regions tile the plane, outer sides infinite.
TEST(PlaneSplit, EveryPointLiesInItsOwnersRegionOnly) {
  const auto sample = sample_of(test::clustered_set(2000));
  std::mt19937_64 rng(3);
  for (const int ranks : {1, 2, 3, 5, 8, 16}) {
    const mpi::PlaneSplit split = mpi::split_plane(sample, ranks, unit_square);
    for (int k = 0; k < 2000; ++k) {
      // Points inside, outside the box, and exactly on sample points (on cuts).
      const double x = k % 3 == 0 ? 4.0 * test::unit(rng) - 2.0 : k % 3 == 1 ? test::unit(rng) : sample[k].x;
      const double y = k % 3 == 0 ? 4.0 * test::unit(rng) - 2.0 : k % 3 == 1 ? test::unit(rng) : sample[k].y;
      const int owner = split.owner(x, y);
      int holders = 0;
      for (int r = 0; r < ranks; ++r) holders += in_region(split.regions[static_cast<std::size_t>(r)], x, y);
      EXPECT_EQ(holders, 1) << ranks << " ranks, point (" << x << ", " << y << ")";
      EXPECT_TRUE(in_region(split.regions[static_cast<std::size_t>(owner)], x, y)) << ranks << " ranks";
    }
  }
}

// Distinct points: each region holds its share of the sample, within the
// rounding of the quantiles down the tree (one point per level).
TEST(PlaneSplit, BalancesDistinctPointsToOneShareEach) {
  const auto sample = sample_of(test::uniform_set("uniform", 3000, 0.0, 1));
  for (const int ranks : {2, 3, 4, 7, 16}) {
    const mpi::PlaneSplit split = mpi::split_plane(sample, ranks, unit_square);
    std::vector<int> count(static_cast<std::size_t>(ranks), 0);
    for (const auto& p : sample) ++count[static_cast<std::size_t>(split.owner(p.x, p.y))];
    for (int r = 0; r < ranks; ++r) {
      EXPECT_NEAR(count[static_cast<std::size_t>(r)], 3000.0 / ranks, 5.0) << "rank " << r << " of " << ranks;
    }
  }
}

// Equal points cannot be split: they go to one region, the others empty,
// and the split stays a tiling whatever order the sample came in.
TEST(PlaneSplit, KeepsEqualPointsTogetherWhateverTheSampleOrder) {
  auto sample = sample_of(test::one_region_set());
  const mpi::PlaneSplit split = mpi::split_plane(sample, 4, unit_square);
  std::reverse(sample.begin(), sample.end());
  const mpi::PlaneSplit reversed = mpi::split_plane(sample, 4, unit_square);
  std::vector<int> count(4, 0);
  for (const auto& p : sample) {
    ++count[static_cast<std::size_t>(split.owner(p.x, p.y))];
    EXPECT_EQ(split.owner(p.x, p.y), reversed.owner(p.x, p.y));
  }
  EXPECT_EQ(*std::max_element(count.begin(), count.end()), 201);  // the 200 equal points and one more
  EXPECT_EQ(std::count(count.begin(), count.end(), 0), 1);
}

TEST(PlaneSplit, HalvesTheDomainWithoutASample) {
  const mpi::PlaneSplit split = mpi::split_plane({}, 4, host::Box{0.0, 0.0, 2.0, 1.0});
  // x at 1, then each unit square along x (x on a tie) at 0.5 and 1.5.
  EXPECT_EQ(split.owner(0.4, 0.7), 0);
  EXPECT_EQ(split.owner(0.6, 0.2), 1);
  EXPECT_EQ(split.owner(1.4, 0.7), 2);
  EXPECT_EQ(split.owner(1.6, 0.2), 3);
}

// The reach's promise: the cell of a seed among only the seeds inside the
// reach of a larger cell of it (its cell among a few seeds) is its cell
// among all. Heavy weights make the weight term decide.
TEST(CellReach, SeedsBeyondTheReachDoNotCutTheCell) {
  for (const double weight_scale : {0.0, 1.0, 60.0}) {
    const test::SeedSet s = test::uniform_set("reach", 1500, weight_scale, 17);
    host::PowerDiagramOptions options;
    options.domain = unit_square;
    options.threads = 1;
    const host::PowerDiagram whole = host::power_diagram(s.positions, s.weights, options);
    const double heaviest = *std::max_element(s.weights.begin(), s.weights.end());
    for (std::size_t i = 0; i < s.weights.size(); i += 97) {
      // The seed's cell among the seeds within a tenth of the square: larger than its true cell.
      std::vector<double> near_positions, near_weights;
      std::vector<std::size_t> near_ids;
      for (std::size_t j = 0; j < s.weights.size(); ++j) {
        if (std::fabs(s.positions[2 * j] - s.positions[2 * i]) > 0.1 ||
            std::fabs(s.positions[2 * j + 1] - s.positions[2 * i + 1]) > 0.1)
          continue;
        near_positions.insert(near_positions.end(), {s.positions[2 * j], s.positions[2 * j + 1]});
        near_weights.push_back(s.weights[j]), near_ids.push_back(j);
      }
      const host::PowerDiagram near = host::power_diagram(near_positions, near_weights, options);
      const auto at = static_cast<std::int64_t>(std::find(near_ids.begin(), near_ids.end(), i) - near_ids.begin());
      const auto b = static_cast<std::size_t>(near.cell_begin[at]);
      const auto reach = mpi::cut_reach(s.positions[2 * i], s.positions[2 * i + 1], s.weights[i], &near.xs[b],
                                        &near.ys[b], static_cast<std::size_t>(near.vertex_count(at)), heaviest, 1e-15);
      if (!reach) {
        EXPECT_TRUE(whole.empty[i]) << "seed " << i << ": empty among a few seeds, not among all";
        continue;
      }
      std::vector<double> inside_positions, inside_weights;
      std::size_t own = 0;  // the seed's index among those inside
      for (std::size_t j = 0; j < s.weights.size(); ++j) {
        const double x = s.positions[2 * j], y = s.positions[2 * j + 1];
        if (x < reach->x_min || x > reach->x_max || y < reach->y_min || y > reach->y_max) continue;
        inside_positions.insert(inside_positions.end(), {x, y}), inside_weights.push_back(s.weights[j]);
        if (j == i) own = inside_weights.size() - 1;
      }
      const host::PowerDiagram inside = host::power_diagram(inside_positions, inside_weights, options);
      EXPECT_NEAR(inside.areas[own], whole.areas[i], 1e-12)
          << "seed " << i << ", weights up to " << weight_scale << " squared spacings";
    }
  }
}

}  // namespace
}  // namespace vorn
