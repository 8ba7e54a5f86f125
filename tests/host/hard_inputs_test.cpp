// Whole diagrams where the arithmetic is tested hardest: every scale from
// 1e-9 to 1e100, seeds far from the origin, float cells of the whole plane,
// weights at the edge of what a double holds, near-coincident seeds and
// co-circular grids. Each result is either right (compared with boxed double
// cells and checked for mutual neighbours) or refused with a message.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/uniform_seeds.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn {
namespace {

using host::Box;
using host::CellPrecision;
using host::PowerDiagram;
using host::PowerDiagramOptions;

using test::Seeds;

// n seeds uniform in [offset, offset + side]^2, weights up to `weight`
// times the mean cell area.
Seeds uniform_seeds(int n, double side, double offset, double weight, unsigned seed) {
  return test::uniform_seeds(static_cast<std::size_t>(n), side, offset, weight * side * side / n, seed);
}

PowerDiagramOptions options(bool boxed, CellPrecision precision, Box box = {}) {
  PowerDiagramOptions o;
  o.precision = precision;
  o.domain = boxed ? std::optional<Box>(box) : std::nullopt;
  return o;
}

double edge_length(const PowerDiagram& d, std::int64_t i, std::int64_t k) {
  const std::int64_t next = k + 1 == d.cell_begin[i + 1] ? d.cell_begin[i] : k + 1;
  return std::hypot(d.xs[next] - d.xs[k], d.ys[next] - d.ys[k]);
}

// Pairs (i, j) where cell i lists seed j and cell j does not list seed i.
std::vector<std::pair<int, int>> one_sided_neighbours(const PowerDiagram& d) {
  std::set<std::pair<int, int>> listed;
  for (std::int64_t i = 0; i < d.cell_count(); ++i) {
    for (std::int64_t k = d.cell_begin[i]; k < d.cell_begin[i + 1]; ++k) {
      if (d.neighbours[k] >= 0) listed.emplace(static_cast<int>(i), d.neighbours[k]);
    }
  }
  std::vector<std::pair<int, int>> one_sided;
  for (const auto& [i, j] : listed) {
    if (!listed.count({j, i})) one_sided.emplace_back(i, j);
  }
  return one_sided;
}

bool touches_box(const PowerDiagram& d, std::int64_t i) {
  for (std::int64_t k = d.cell_begin[i]; k < d.cell_begin[i + 1]; ++k) {
    if (d.neighbours[k] == host::domain_edge) return true;
  }
  return false;
}

// Compares `d` with `reference` (boxed double cells of the same seeds in a
// box around them) on every reference cell that stays clear of the box:
// the same neighbours, areas within `area_tolerance` of the mean cell area.
void expect_interior_cells_match(const PowerDiagram& d, const PowerDiagram& reference, double area_tolerance) {
  const double mean_area = [&] {
    double sum = 0.0;
    for (double a : reference.areas) sum += a;
    return sum / static_cast<double>(reference.cell_count());
  }();
  int compared = 0;
  for (std::int64_t i = 0; i < reference.cell_count(); ++i) {
    if (reference.empty[i] || touches_box(reference, i)) continue;
    ++compared;
    ASSERT_FALSE(d.unbounded[i]) << "seed " << i;
    ASSERT_FALSE(d.empty[i]) << "seed " << i;
    ASSERT_NEAR(d.areas[i], reference.areas[i], area_tolerance * mean_area) << "seed " << i;
  }
  EXPECT_GT(compared, reference.cell_count() / 2);
}

// ---- Every scale --------------------------------------------------------

class EveryScale : public ::testing::TestWithParam<double> {};

TEST_P(EveryScale, CellsOfThePlaneMatchBoxedCellsInDoubleAndFloat) {
  const double side = GetParam();
  const Seeds s = uniform_seeds(3000, side, 0.0, 1.0, 5);
  const Box around{-side, -side, 2 * side, 2 * side};
  const PowerDiagram reference =
      host::power_diagram(s.positions, s.weights, options(true, CellPrecision::double_precision, around));
  const PowerDiagram plane = host::power_diagram(s.positions, s.weights, options(false, CellPrecision::double_precision));
  expect_interior_cells_match(plane, reference, 1e-11);
  EXPECT_TRUE(one_sided_neighbours(plane).empty());
  const PowerDiagram single = host::power_diagram(s.positions, s.weights, options(false, CellPrecision::single_precision));
  expect_interior_cells_match(single, reference, 1e-4);
  EXPECT_TRUE(one_sided_neighbours(single).empty());
  for (std::int64_t i = 0; i < plane.cell_count(); ++i) EXPECT_EQ(single.unbounded[i], plane.unbounded[i]) << i;
}

TEST_P(EveryScale, FloatCellsInABoxAddUpToIt) {
  const double side = GetParam();
  const Seeds s = uniform_seeds(3000, side, 0.0, 1.0, 6);
  const Box box{0.0, 0.0, side, side};
  const PowerDiagram d = host::power_diagram(s.positions, s.weights, options(true, CellPrecision::single_precision, box));
  double sum = 0.0;
  for (std::int64_t i = 0; i < d.cell_count(); ++i) {
    ASSERT_TRUE(std::isfinite(d.areas[i]) && d.areas[i] >= 0.0) << "seed " << i << " area " << d.areas[i];
    sum += d.areas[i];
  }
  EXPECT_NEAR(sum, side * side, 1e-5 * side * side);
  EXPECT_TRUE(one_sided_neighbours(d).empty());
}

// Float holds neither 1e20 squared nor 1e-40; the engine's frame does.
INSTANTIATE_TEST_SUITE_P(Host, EveryScale, ::testing::Values(1e-40, 1e-9, 1e-6, 1e-5, 1.0, 1e3, 1e20, 1e100));

TEST(HardInputs, SeedsFarFromTheOriginKeepTheirDigits) {
  // 1e6 away and 1e-3 wide: float holds the offset to 0.06 and double to
  // 1e-10, both far coarser than the cells if the offset stayed in.
  const Seeds s = uniform_seeds(2000, 1e-3, 1e6, 1.0, 7);
  const Box around{1e6 - 1e-3, 1e6 - 1e-3, 1e6 + 2e-3, 1e6 + 2e-3};
  const PowerDiagram reference =
      host::power_diagram(s.positions, s.weights, options(true, CellPrecision::double_precision, around));
  for (const auto precision : {CellPrecision::double_precision, CellPrecision::single_precision}) {
    SCOPED_TRACE(precision == CellPrecision::double_precision ? "double cells" : "float cells");
    const PowerDiagram plane = host::power_diagram(s.positions, s.weights, options(false, precision));
    expect_interior_cells_match(plane, reference, precision == CellPrecision::double_precision ? 1e-6 : 1e-3);
    EXPECT_TRUE(one_sided_neighbours(plane).empty());
  }
}

TEST(HardInputs, CentroidsOfCellsNearTheCoordinateLimitAreFinite) {
  const Seeds s = uniform_seeds(500, 1e140, 0.0, 0.0, 8);
  for (const bool boxed : {true, false}) {
    const PowerDiagram d = host::power_diagram(
        s.positions, s.weights, options(boxed, CellPrecision::double_precision, Box{0.0, 0.0, 1e140, 1e140}));
    for (std::int64_t i = 0; i < d.cell_count(); ++i) {
      if (d.unbounded[i]) continue;
      ASSERT_TRUE(std::isfinite(d.areas[i]) && std::isfinite(d.centroid_x[i]) && std::isfinite(d.centroid_y[i]))
          << "seed " << i;
    }
  }
}

// ---- Weights at the edge of the range -----------------------------------

TEST(HardInputs, HugeWeightsInABoxStillFillIt) {
  Seeds s = uniform_seeds(200, 1.0, 0.0, 0.0, 9);
  for (std::size_t i = 0; i < s.weights.size(); ++i) s.weights[i] = 1e300 * static_cast<double>(i % 7) / 7.0;
  const PowerDiagram d = host::power_diagram(s.positions, s.weights);
  double sum = 0.0;
  for (const double a : d.areas) sum += a;
  EXPECT_NEAR(sum, 1.0, 1e-12);
}

TEST(HardInputs, WeightsTooFarApartForTheArithmeticAreRefusedNamingTheBound) {
  Seeds s = uniform_seeds(200, 1.0, 0.0, 0.0, 10);
  s.weights[17] = 1e60;
  try {
    host::power_diagram(s.positions, s.weights, options(false, CellPrecision::double_precision));
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("seed 17 has weight 1e+60"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("give a domain box"), std::string::npos) << e.what();
  }
  s.weights[17] = 1e39;  // beyond float, fine for double in a box
  EXPECT_THROW(host::power_diagram(s.positions, s.weights, options(true, CellPrecision::single_precision)),
               std::invalid_argument);
  EXPECT_NO_THROW(host::power_diagram(s.positions, s.weights, options(true, CellPrecision::double_precision)));
}

// ---- Degenerate seed sets -----------------------------------------------

struct Mode {
  const char* name;
  bool boxed;
  CellPrecision precision;
};

class EveryMode : public ::testing::TestWithParam<Mode> {};

// Two seeds 1e-6 to 1e-12 apart and a third: the far vertex where the
// pair's bisector meets the nearly equal bisectors with the third seed
// used to be missed by one side of the plane's cells.
TEST_P(EveryMode, NearlyCoincidentPairsGiveMutualNeighbours) {
  const Mode m = GetParam();
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(0.1, 0.9);
  for (const double gap : {1e-6, 1e-9, 1e-12}) {
    for (int trial = 0; trial < 150; ++trial) {
      const double x = u(rng), y = u(rng), angle = 8.0 * u(rng);
      const std::vector<double> p{x, y, x + gap * std::cos(angle), y + gap * std::sin(angle), u(rng), u(rng)};
      const PowerDiagram d = host::power_diagram(p, {}, options(m.boxed, m.precision));
      ASSERT_TRUE(one_sided_neighbours(d).empty()) << "gap " << gap << ", trial " << trial;
      // All three seeds meet at one vertex: each cell names both others.
      for (std::int64_t i = 0; i < 3; ++i) {
        std::set<int> named;
        for (std::int64_t k = d.cell_begin[i]; k < d.cell_begin[i + 1]; ++k) named.insert(d.neighbours[k]);
        if (m.boxed) continue;  // in the box the vertex may lie outside it
        EXPECT_EQ(named.count(static_cast<int>((i + 1) % 3)) + named.count(static_cast<int>((i + 2) % 3)), 2u)
            << "gap " << gap << ", trial " << trial << ", cell " << i;
      }
    }
  }
}

// Co-circular seeds meet four at a point: a seed that only touches the
// point is no neighbour, on either side, and no edge of rounding length is
// left.
TEST_P(EveryMode, SquareGridCellsHaveTheirFourNeighboursOnly) {
  const Mode m = GetParam();
  constexpr int side = 30;
  std::vector<double> p;
  for (int i = 0; i < side; ++i) {
    for (int j = 0; j < side; ++j) p.insert(p.end(), {(i + 0.5) / side, (j + 0.5) / side});
  }
  const PowerDiagram d = host::power_diagram(p, {}, options(m.boxed, m.precision));
  EXPECT_TRUE(one_sided_neighbours(d).empty());
  for (std::int64_t c = 0; c < d.cell_count(); ++c) {
    for (std::int64_t k = d.cell_begin[c]; k < d.cell_begin[c + 1]; ++k) {
      const int j = d.neighbours[k];
      if (j < 0) continue;
      const int di = std::abs(j / side - static_cast<int>(c) / side), dj = std::abs(j % side - static_cast<int>(c) % side);
      EXPECT_EQ(di + dj, 1) << "cell " << c << " names " << j << " over an edge of " << edge_length(d, c, k);
    }
  }
}

// A triangular lattice (six neighbours, three at each vertex) and every
// seed doubled: the copies' cells are empty, the others keep six.
TEST_P(EveryMode, DoubledTriangularLatticeKeepsSixMutualNeighbours) {
  const Mode m = GetParam();
  constexpr int rows = 24;
  std::vector<double> p;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < rows; ++c) {
      const double x = (c + 0.5 * (r % 2) + 0.25) / rows, y = (r + 0.5) * std::sqrt(0.75) / rows;
      p.insert(p.end(), {x, y, x, y});
    }
  }
  const PowerDiagram d = host::power_diagram(p, {}, options(m.boxed, m.precision));
  EXPECT_TRUE(one_sided_neighbours(d).empty());
  for (std::int64_t i = 0; i < d.cell_count(); ++i) {
    if (i % 2 == 1) {
      EXPECT_TRUE(d.empty[i]) << i;
      continue;
    }
    const int r = static_cast<int>(i / 2) / rows, c = static_cast<int>(i / 2) % rows;
    if (r == 0 || c == 0 || r == rows - 1 || c == rows - 1) continue;
    EXPECT_EQ(d.vertex_count(i), 6) << "seed " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Host, EveryMode,
                         ::testing::Values(Mode{"box_double", true, CellPrecision::double_precision},
                                           Mode{"box_float", true, CellPrecision::single_precision},
                                           Mode{"plane_double", false, CellPrecision::double_precision},
                                           Mode{"plane_float", false, CellPrecision::single_precision}),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

// Tight clusters (down to 1e-9 wide, below what float resolves, with
// collinear centres) and nearly co-circular rings: boxed cells always come
// out, in float too (cells float cannot settle are computed in double);
// cells of the whole plane come out or are refused naming the remedy, and
// every result has mutual neighbours.
TEST(HardInputs, ClustersAndRingsGiveMutualNeighboursOrARefusal) {
  for (int trial = 0; trial < 8; ++trial) {
    std::mt19937_64 rng(1000 + trial);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> g(0.0, 1.0);
    const int n = 300 + static_cast<int>(1500 * u(rng));
    const double sigma = std::pow(10.0, -1.0 - 8.0 * u(rng));
    std::vector<double> p, w;
    for (int i = 0; i < n; ++i) {
      if (trial % 2 == 0) {
        const int c = i % 7;
        p.insert(p.end(), {0.1 * c + sigma * g(rng), 0.13 * c + sigma * g(rng)});
      } else {
        const double r = 0.3 + sigma * g(rng), a = 6.283 * u(rng);
        p.insert(p.end(), {0.5 + r * std::cos(a), 0.5 + r * std::sin(a)});
      }
      w.push_back(trial % 3 == 0 ? 0.0 : 1e-3 * u(rng));
    }
    SCOPED_TRACE(::testing::Message() << "trial " << trial << ", n " << n << ", sigma " << sigma);
    for (const bool boxed : {true, false}) {
      for (const auto precision : {CellPrecision::double_precision, CellPrecision::single_precision}) {
        SCOPED_TRACE(precision == CellPrecision::double_precision ? "double cells" : "float cells");
        const PowerDiagramOptions o = options(boxed, precision, Box{-0.5, -0.5, 1.5, 1.5});
        try {
          const PowerDiagram d = host::power_diagram(p, w, o);
          EXPECT_TRUE(one_sided_neighbours(d).empty()) << (boxed ? "box" : "plane");
        } catch (const std::range_error& e) {
          EXPECT_FALSE(boxed) << e.what();
          EXPECT_NE(std::string(e.what()).find("give a domain box"), std::string::npos) << e.what();
        }
      }
    }
  }
}

// ---- Random scales and offsets ------------------------------------------

// Random seed sets at random scales (1e-12 to 1e12) and offsets (up to 1e5
// times their extent), boxed and unbounded, float and double, against
// boxed double cells: the same interior cells, mutual neighbours.
TEST(HardInputs, RandomScalesAndOffsetsAgreeWithBoxedDouble) {
  std::mt19937_64 rng(12);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 12; ++trial) {
    const double side = std::pow(10.0, -12.0 + 24.0 * u(rng));
    const double offset = (u(rng) < 0.5 ? -1.0 : 1.0) * side * std::pow(10.0, -2.0 + 7.0 * u(rng));
    const int n = 200 + static_cast<int>(1500 * u(rng));
    const Seeds s = uniform_seeds(n, side, offset, 2.0 * u(rng), static_cast<unsigned>(100 + trial));
    SCOPED_TRACE(::testing::Message() << "side " << side << ", offset " << offset << ", n " << n);
    const Box around{offset - side, offset - side, offset + 2 * side, offset + 2 * side};
    const PowerDiagram reference =
        host::power_diagram(s.positions, s.weights, options(true, CellPrecision::double_precision, around));
    ASSERT_TRUE(one_sided_neighbours(reference).empty());
    for (const bool boxed : {true, false}) {
      for (const auto precision : {CellPrecision::double_precision, CellPrecision::single_precision}) {
        SCOPED_TRACE(precision == CellPrecision::double_precision ? "double cells" : "float cells");
        const PowerDiagram d = host::power_diagram(s.positions, s.weights, options(boxed, precision, around));
        ASSERT_TRUE(one_sided_neighbours(d).empty()) << (boxed ? "box" : "plane");
        expect_interior_cells_match(d, reference, precision == CellPrecision::double_precision ? 1e-6 : 1e-3);
      }
    }
  }
}

}  // namespace
}  // namespace vorn
