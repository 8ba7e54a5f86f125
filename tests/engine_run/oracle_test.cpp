// Every cell of varied seed sets against the brute-force reference, in float
// and double, from a bounded box and from an unbounded start; the cells of a
// bounded start tile the box.
#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "engine_support.hpp"
#include "oracle.hpp"

namespace vorn::test {
namespace {

using Generator = std::function<std::vector<WeightedPoint>(std::mt19937_64&, double max_weight)>;

constexpr int seed_count = 300;

std::vector<WeightedPoint> uniform(std::mt19937_64& rng, double max_weight) {
  std::uniform_real_distribution<double> u(0, 1), w(0, max_weight);
  std::vector<WeightedPoint> p;
  for (int i = 0; i < seed_count; ++i) p.push_back({u(rng), u(rng), w(rng)});
  return p;
}

std::vector<WeightedPoint> clustered(std::mt19937_64& rng, double max_weight) {
  std::uniform_real_distribution<double> u(0.1, 0.9), w(0, max_weight);
  std::normal_distribution<double> spread(0, 0.02);
  std::vector<WeightedPoint> p;
  for (int c = 0; c < 5; ++c) {
    double const cx = u(rng), cy = u(rng);
    for (int i = 0; i < seed_count / 5; ++i) {
      p.push_back({std::clamp(cx + spread(rng), 0.0, 1.0), std::clamp(cy + spread(rng), 0.0, 1.0), w(rng)});
    }
  }
  return p;
}

// A 17 x 17 grid: four cells meet at every grid vertex.
std::vector<WeightedPoint> grid(std::mt19937_64& rng, double max_weight) {
  std::uniform_real_distribution<double> w(0, max_weight);
  std::vector<WeightedPoint> p;
  for (int i = 0; i < 17; ++i) {
    for (int j = 0; j < 17; ++j) p.push_back({(i + 0.5) / 17, (j + 0.5) / 17, max_weight > 0 ? w(rng) : 0.0});
  }
  return p;
}

std::vector<WeightedPoint> nearly_collinear(std::mt19937_64& rng, double max_weight) {
  std::uniform_real_distribution<double> u(0, 1), jitter(-1e-7, 1e-7), w(0, max_weight);
  std::vector<WeightedPoint> p;
  for (int i = 0; i < seed_count; ++i) {
    double const t = u(rng);
    p.push_back({t, 0.3 + 0.4 * t + jitter(rng), w(rng)});
  }
  return p;
}

// Pairs at one position with different weights: the lighter cell is empty.
std::vector<WeightedPoint> duplicates(std::mt19937_64& rng, double max_weight) {
  std::uniform_real_distribution<double> u(0, 1), w(0, max_weight);
  std::vector<WeightedPoint> p;
  for (int i = 0; i < seed_count / 2; ++i) {
    double const x = u(rng), y = u(rng), wa = w(rng);
    p.push_back({x, y, wa});
    p.push_back({x, y, wa + max_weight * 0.25 + 1e-9});
  }
  return p;
}

struct OracleCase {
  char const* name;
  Generator generate;
  double max_weight;
  Majorant majorant;
  // Whether a float cell can start unbounded. Nearly parallel bisectors put
  // the unbounded polygon's vertices far out (1e5 and beyond), where a float
  // cannot place the cell's edges to the box's resolution. Double cells are
  // checked from both starts on every row.
  bool float_unbounded;
};

void PrintTo(OracleCase const& c, std::ostream* os) { *os << c.name; }

// Tolerances, relative to the unit box: cell areas, and the edge length
// above which a neighbour must appear in both cells.
template <class T>
struct Tolerance;
template <>
struct Tolerance<double> {
  static constexpr double area = 1e-10;
  static constexpr double edge = 1e-7;
  static constexpr double total = 1e-9;
};
template <>
struct Tolerance<float> {
  static constexpr double area = 2e-6;
  static constexpr double edge = 2e-3;
  static constexpr double total = 1e-4;
};

::testing::AssertionResult same_neighbours(RefPolygon const& got, RefPolygon const& want, double edge) {
  auto const got_all = neighbours(got, -1), want_all = neighbours(want, -1);
  for (std::int32_t id : neighbours(got, edge)) {
    if (id >= 0 && !want_all.count(id)) return ::testing::AssertionFailure() << "extra neighbour " << id;
  }
  for (std::int32_t id : neighbours(want, edge)) {
    if (id >= 0 && !got_all.count(id)) return ::testing::AssertionFailure() << "missing neighbour " << id;
  }
  return ::testing::AssertionSuccess();
}

class Oracle : public ::testing::TestWithParam<OracleCase> {
 protected:
  void SetUp() override {
    std::string const why = backend_unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
  }

  template <class T>
  void check_all_cells(SeedTree const& tree, std::vector<RefPolygon> const& want, bool unbounded_start) {
    RefPolygon const box = box_polygon(0, 0, 1, 1);
    long double total = 0;
    for (long long seed = 0; seed < tree.size(); ++seed) {
      TestCell<T> c(64);
      if (unbounded_start) {
        c.set_box(0, 0, 1, 1, true);
      } else {
        c.set_box(0, 0, 1, 1);
      }
      ASSERT_EQ(EngineLibrary::get().run(c.cell, tree.seeds(), seed), 0) << "seed " << seed;
      RefPolygon const got = engine_cell(c.cell, box);
      auto const& ref = want[static_cast<std::size_t>(seed)];
      ASSERT_NEAR(static_cast<double>(area(got)), static_cast<double>(area(ref)), Tolerance<T>::area)
          << precision_name<T>() << " seed " << seed << (unbounded_start ? " unbounded start" : " box start");
      ASSERT_TRUE(same_neighbours(got, ref, Tolerance<T>::edge))
          << precision_name<T>() << " seed " << seed << (unbounded_start ? " unbounded start" : " box start");
      total += area(got);
    }
    if (!unbounded_start) {
      EXPECT_NEAR(static_cast<double>(total), 1.0, Tolerance<T>::total) << precision_name<T>();
    }
  }
};

TEST_P(Oracle, EveryCellMatchesTheBruteForceClipAndTheCellsTileTheBox) {
  OracleCase const& c = GetParam();
  std::mt19937_64 rng(1234);
  std::vector<WeightedPoint> points = c.generate(rng, c.max_weight);
  SeedTree const tree(points, SeedTree::levels_for(static_cast<long long>(points.size()), 6), c.majorant);
  std::vector<RefPolygon> want;
  for (long long seed = 0; seed < tree.size(); ++seed) {
    want.push_back(reference_cell(tree, seed, box_polygon(0, 0, 1, 1)));
  }
  check_all_cells<double>(tree, want, false);
  check_all_cells<double>(tree, want, true);
  check_all_cells<float>(tree, want, false);
  if (c.float_unbounded) check_all_cells<float>(tree, want, true);
}

// Weights: "small" far below the squared seed spacing, "large" comparable
// to it, so that many cells are empty and bounds matter.
OracleCase const cases[] = {
    {"uniform_small", uniform, 1e-6, Majorant::flat, true},
    {"uniform_large", uniform, 3e-3, Majorant::flat, true},
    {"uniform_large_sloped_bound", uniform, 3e-3, Majorant::sloped, true},
    {"clustered_small", clustered, 1e-7, Majorant::flat, true},
    {"clustered_large", clustered, 5e-4, Majorant::sloped, true},
    {"grid_unweighted", grid, 0.0, Majorant::flat, true},
    {"grid_large", grid, 2e-3, Majorant::flat, true},
    {"nearly_collinear_small", nearly_collinear, 1e-6, Majorant::flat, false},
    {"nearly_collinear_large", nearly_collinear, 1e-2, Majorant::sloped, false},
    {"duplicates_small", duplicates, 1e-6, Majorant::flat, false},
    {"duplicates_large", duplicates, 3e-3, Majorant::sloped, true},
};

INSTANTIATE_TEST_SUITE_P(Engine, Oracle, ::testing::ValuesIn(cases),
                         [](::testing::TestParamInfo<OracleCase> const& info) {
                           return std::string(info.param.name) + "_" + backend_name();
                         });

}  // namespace
}  // namespace vorn::test
