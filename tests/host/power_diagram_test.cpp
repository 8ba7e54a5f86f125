// Whole power diagrams through the host API: hand-checked small diagrams,
// a brute-force clipping oracle, whole-diagram properties on random seed sets
// (areas add up, neighbours are mutual, hull seeds are the unbounded ones),
// thread and capacity independence, and the argument checks.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <set>
#include <stdexcept>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/same_diagram.hpp"
#include "support/sanitized_build.hpp"
#include "support/uniform_seeds.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn {
namespace {

using host::Box;
using host::CellPrecision;
using host::PowerDiagram;
using host::PowerDiagramOptions;

using test::Seeds;

// n seeds uniform in the unit square, weights uniform in [0, weight_scale).
Seeds random_seeds(std::size_t n, double weight_scale, unsigned seed) {
  return test::uniform_seeds(n, 1.0, 0.0, weight_scale, seed);
}

PowerDiagramOptions with_precision(CellPrecision p) {
  PowerDiagramOptions o;
  o.precision = p;
  return o;
}

std::multiset<int> neighbour_set(const PowerDiagram& d, std::size_t i) {
  return {d.neighbours.begin() + d.cell_begin[i], d.neighbours.begin() + d.cell_begin[i + 1]};
}

// ---- Small diagrams checked by hand ---------------------------------------

struct KnownCase {
  const char* name;
  Seeds seeds;
  std::vector<double> areas;                 // per seed
  std::vector<std::multiset<int>> neighbours;  // per seed; -1 box edge
};

// Test names carry the case's name; printing it keeps the listing readable.
void PrintTo(const KnownCase& c, std::ostream* os) { *os << c.name; }

class KnownDiagram : public ::testing::TestWithParam<KnownCase> {};

TEST_P(KnownDiagram, AreasAndNeighboursMatchHandComputation) {
  const KnownCase& c = GetParam();
  for (const auto precision : {CellPrecision::double_precision, CellPrecision::single_precision}) {
    SCOPED_TRACE(precision == CellPrecision::double_precision ? "double cells" : "float cells");
    const PowerDiagram d = host::power_diagram(c.seeds.positions, c.seeds.weights, with_precision(precision));
    const double tolerance = precision == CellPrecision::double_precision ? 1e-14 : 1e-6;
    ASSERT_EQ(d.cell_count(), static_cast<std::int64_t>(c.areas.size()));
    for (std::size_t i = 0; i < c.areas.size(); ++i) {
      SCOPED_TRACE("seed " + std::to_string(i));
      EXPECT_NEAR(d.areas[i], c.areas[i], tolerance);
      EXPECT_EQ(d.empty[i], c.areas[i] == 0.0);
      EXPECT_EQ(d.unbounded[i], 0);
      EXPECT_EQ(neighbour_set(d, i), c.neighbours[i]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Host, KnownDiagram,
    ::testing::Values(
        // Equal weights: the bisector x = 0.5 halves the unit square.
        KnownCase{"two_equal_seeds", {{0.25, 0.5, 0.75, 0.5}, {0.0, 0.0}}, {0.5, 0.5}, {{-1, -1, -1, 1}, {-1, -1, -1, 0}}},
        // w0 - w1 = 0.1 moves the bisector to x = 0.5 + 0.1.
        KnownCase{"weight_moves_bisector", {{0.25, 0.5, 0.75, 0.5}, {0.1, 0.0}}, {0.6, 0.4}, {{-1, -1, -1, 1}, {-1, -1, -1, 0}}},
        // Seed 0's half-plane is x <= -4.45: nothing of the box is left.
        KnownCase{"heavy_neighbour_empties_cell", {{0.5, 0.5, 0.6, 0.5}, {0.0, 1.0}}, {0.0, 1.0}, {{}, {-1, -1, -1, -1}}},
        // Four quadrants meet at the centre; diagonal seeds only touch there.
        KnownCase{"four_quadrants",
                  {{0.25, 0.25, 0.75, 0.25, 0.25, 0.75, 0.75, 0.75}, {}},
                  {0.25, 0.25, 0.25, 0.25},
                  {{-1, -1, 1, 2}, {-1, -1, 0, 3}, {-1, -1, 0, 3}, {-1, -1, 1, 2}}},
        // Three seeds at one spot: the heaviest, lowest-numbered (1) owns it.
        KnownCase{"coincident_seeds_share_one_cell",
                  {{0.25, 0.5, 0.25, 0.5, 0.25, 0.5, 0.75, 0.5}, {0.0, 0.1, 0.1, 0.1}},
                  {0.0, 0.5, 0.0, 0.5},
                  {{}, {-1, -1, -1, 3}, {}, {-1, -1, -1, 1}}}),
    [](const ::testing::TestParamInfo<KnownCase>& info) { return std::string(info.param.name); });

TEST(PowerDiagram, CellOfRegularRingIsRegularPolygonThroughRepeatedEnlargement) {
  // 40 seeds on a circle around seed 0: its cell is a regular 40-gon, more
  // vertices than a capacity of 4 (or the default) holds at the start.
  constexpr int ring = 40;
  Seeds s{{0.5, 0.5}, {0.0}};
  for (int k = 0; k < ring; ++k) {
    const double a = 2.0 * std::numbers::pi * k / ring;
    s.positions.push_back(0.5 + 0.2 * std::cos(a));
    s.positions.push_back(0.5 + 0.2 * std::sin(a));
    s.weights.push_back(0.0);
  }
  PowerDiagramOptions o;
  o.initial_capacity = 4;
  const PowerDiagram d = host::power_diagram(s.positions, s.weights, o);
  ASSERT_EQ(d.vertex_count(0), ring);
  const double apothem = 0.1;  // half the distance to each ring seed
  EXPECT_NEAR(d.areas[0], ring * apothem * apothem * std::tan(std::numbers::pi / ring), 1e-14);
  EXPECT_NEAR(d.centroid_x[0], 0.5, 1e-14);
  EXPECT_NEAR(d.centroid_y[0], 0.5, 1e-14);
}

// Copies of seeds at exactly their positions, among many seeds whose
// positions only share a hash bucket now and then: each group's heaviest
// seed (the lowest index among the heaviest) keeps the cell that the seed
// has without its copies; every other copy is empty. -0 and +0 are one
// position.
TEST(PowerDiagram, CoincidentSeedsAmongManyLeaveTheCellToTheHeaviest) {
  Seeds alone = random_seeds(20000, 0.0, 15);
  alone.positions[2 * 97] = 0.0;  // seed 97 on the box's edge, at -0 below, its copies at +0
  Seeds with_copies = alone;
  const auto add = [&](double x, double y, double w) {
    with_copies.positions.push_back(x), with_copies.positions.push_back(y), with_copies.weights.push_back(w);
  };
  // Seed k gets copies k % 3 lighter, equally heavy (later: empty) and heavier.
  std::vector<std::size_t> owner(alone.weights.size());
  for (std::size_t k = 0; k < alone.weights.size(); ++k) owner[k] = k;
  for (std::size_t k = 0; k < alone.weights.size(); k += 97) {
    const double x = alone.positions[2 * k], y = alone.positions[2 * k + 1];
    add(x, y, -1e-9);
    add(x, y, 0.0);
    if (k % 2 == 0) {
      owner[k] = with_copies.weights.size();
      add(x, y, 1e-12);
    }
  }
  with_copies.positions[2 * 97] = -0.0;
  Seeds reference = alone;
  for (std::size_t k = 0; k < alone.weights.size(); k += 97) {
    if (k % 2 == 0) reference.weights[k] = 1e-12;
  }
  const PowerDiagram d = host::power_diagram(with_copies.positions, with_copies.weights);
  const PowerDiagram r = host::power_diagram(reference.positions, reference.weights);
  std::vector<char> owns(with_copies.weights.size(), 0);
  for (std::size_t k = 0; k < owner.size(); ++k) {
    owns[owner[k]] = 1;
    SCOPED_TRACE("seed " + std::to_string(k));
    EXPECT_NEAR(d.areas[owner[k]], r.areas[k], 1e-15);
    EXPECT_EQ(d.empty[owner[k]], r.empty[k]);
  }
  for (std::size_t i = 0; i < owns.size(); ++i) {
    if (!owns[i]) {
      EXPECT_TRUE(d.empty[i]) << "copy " << i << " should leave the cell to its group's owner";
    }
  }
}

// CPU seconds of the whole process and of the calling thread.
std::pair<double, double> cpu_seconds() {
  const auto seconds = [](int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
  };
  return {seconds(RUSAGE_SELF), seconds(RUSAGE_THREAD)};
}

// CPU seconds that threads other than the caller spent on a diagram of
// these seeds with `threads` threads, and the caller's own.
std::pair<double, double> cpu_elsewhere_and_here(const Seeds& s, int threads) {
  PowerDiagramOptions o;
  o.threads = threads;
  const auto [all_before, here_before] = cpu_seconds();
  host::power_diagram(s.positions, s.weights, o);
  const auto [all_after, here_after] = cpu_seconds();
  return {(all_after - all_before) - (here_after - here_before), here_after - here_before};
}

// One thread means one for the whole call: the tree's units as well as the
// cells (the units' pool used to take every core whatever the setting).
TEST(PowerDiagram, OneThreadRunsTheWholeCallOnTheCallingThread) {
  const Seeds s = random_seeds(test::unless_sanitized(300000), 1e-7, 16);
  cpu_elsewhere_and_here(s, 1);  // loads the libraries and starts the pool
  const auto [elsewhere, here] = cpu_elsewhere_and_here(s, 1);
  EXPECT_LT(elsewhere, 0.02 + 0.02 * here) << "other threads worked for " << elsewhere << " s, the caller " << here;
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one hardware thread: nothing to compare with";
  const auto [spread, caller] = cpu_elsewhere_and_here(s, 2);
  EXPECT_GT(spread, 0.1 * caller) << "two threads should share the work";
}

// ---- A brute-force oracle -------------------------------------------------

// The unit square clipped by every half-plane of seed i, one after another.
double clipped_area(const Seeds& s, std::size_t i) {
  std::vector<std::array<double, 2>> poly{{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  const double ax = s.positions[2 * i], ay = s.positions[2 * i + 1];
  for (std::size_t j = 0; j < s.weights.size() && !poly.empty(); ++j) {
    if (j == i) continue;
    const double bx = s.positions[2 * j], by = s.positions[2 * j + 1];
    // Kept: 2 (b - a)·p <= |b|^2 - |a|^2 - w_b + w_a.
    const double nx = 2 * (bx - ax), ny = 2 * (by - ay);
    const double c = bx * bx + by * by - ax * ax - ay * ay - s.weights[j] + s.weights[i];
    std::vector<std::array<double, 2>> kept;
    for (std::size_t k = 0; k < poly.size(); ++k) {
      const auto& p = poly[k];
      const auto& q = poly[(k + 1) % poly.size()];
      const double dp = nx * p[0] + ny * p[1] - c, dq = nx * q[0] + ny * q[1] - c;
      if (dp <= 0) kept.push_back(p);
      if ((dp < 0 && dq > 0) || (dp > 0 && dq < 0)) {
        const double t = dp / (dp - dq);
        kept.push_back({p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1])});
      }
    }
    poly = std::move(kept);
  }
  double twice = 0.0;
  for (std::size_t k = 0; k < poly.size(); ++k) {
    const auto& p = poly[k];
    const auto& q = poly[(k + 1) % poly.size()];
    twice += p[0] * q[1] - q[0] * p[1];
  }
  return 0.5 * twice;
}

TEST(PowerDiagram, EveryCellMatchesBruteForceClipping) {
  const Seeds s = random_seeds(150, 0.01, 7);
  const PowerDiagram d = host::power_diagram(s.positions, s.weights);
  int empty = 0;
  for (std::size_t i = 0; i < s.weights.size(); ++i) {
    SCOPED_TRACE("seed " + std::to_string(i));
    EXPECT_NEAR(d.areas[i], clipped_area(s, i), 1e-13);
    empty += d.empty[i];
  }
  EXPECT_GT(empty, 0) << "weights this large should empty some cells";
}

// ---- Properties of random diagrams ---------------------------------------

class RandomDiagram : public ::testing::TestWithParam<CellPrecision> {};

TEST_P(RandomDiagram, CellAreasAddUpToTheBox) {
  const Seeds s = random_seeds(5000, 2e-4, 11);
  PowerDiagramOptions o = with_precision(GetParam());
  o.domain = Box{-1.0, 0.0, 2.0, 1.5};
  const PowerDiagram d = host::power_diagram(s.positions, s.weights, o);
  double sum = 0.0;
  for (const double a : d.areas) sum += a;
  const double tolerance = GetParam() == CellPrecision::double_precision ? 1e-12 : 1e-5;
  EXPECT_NEAR(sum, 4.5, 4.5 * tolerance);
}

TEST_P(RandomDiagram, NeighboursAreMutual) {
  const Seeds s = random_seeds(3000, 2e-4, 12);
  const PowerDiagram d = host::power_diagram(s.positions, s.weights, with_precision(GetParam()));
  for (std::size_t i = 0; i < s.weights.size(); ++i) {
    for (auto k = d.cell_begin[i]; k < d.cell_begin[i + 1]; ++k) {
      const int j = d.neighbours[static_cast<std::size_t>(k)];
      if (j < 0) continue;
      const auto theirs = neighbour_set(d, static_cast<std::size_t>(j));
      EXPECT_TRUE(theirs.count(static_cast<int>(i))) << "seed " << i << " names " << j << " but not back";
    }
  }
}

TEST_P(RandomDiagram, SameCellsWithOneThreadAndWithMany) {
  const Seeds s = random_seeds(4000, 2e-4, 13);
  PowerDiagramOptions one = with_precision(GetParam()), many = one;
  one.threads = 1;
  many.threads = 4;
  const PowerDiagram a = host::power_diagram(s.positions, s.weights, one);
  const PowerDiagram b = host::power_diagram(s.positions, s.weights, many);
  EXPECT_EQ(a.cell_begin, b.cell_begin);
  EXPECT_EQ(a.neighbours, b.neighbours);
  EXPECT_TRUE(std::equal(a.xs.begin(), a.xs.end(), b.xs.begin(), b.xs.end(),
                         [](double x, double y) { return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y); }));
  EXPECT_EQ(a.ys, b.ys);
  EXPECT_EQ(a.empty, b.empty);
}

// Regression: a cell that ran out of slots used to resume from its polygon
// cut so far, which cut it again with planes it already held, so its last
// bits (and, on degenerate sets, its vertex count) depended on the capacity
// the thread's arrays had reached, and so on thread scheduling.
TEST_P(RandomDiagram, TinyStartingCapacityGivesTheSameBits) {
  Seeds grid;  // cocircular corners everywhere, and every third seed doubled
  for (int i = 0; i < 50 * 50; ++i) {
    grid.positions.push_back((i % 50 + 0.5) / 50);
    grid.positions.push_back((i / 50 + 0.5) / 50);
    grid.weights.push_back(i % 3 == 0 ? 1e-7 : 0.0);
  }
  for (const Seeds& s : {random_seeds(2000, 1e-4, 14), grid}) {
    PowerDiagramOptions tiny = with_precision(GetParam()), roomy = tiny;
    tiny.initial_capacity = 4;
    roomy.initial_capacity = 256;
    for (const bool unbounded : {false, true}) {
      if (unbounded) tiny.domain.reset(), roomy.domain.reset();
      ASSERT_TRUE(test::same_diagram(host::power_diagram(s.positions, s.weights, tiny),
                                     host::power_diagram(s.positions, s.weights, roomy)))
          << s.weights.size() << " seeds, " << (unbounded ? "unbounded" : "box");
    }
  }
}

// Indices of the strict convex hull's corners (Andrew's monotone chain).
std::set<int> hull_corners(const Seeds& s) {
  const std::size_t n = s.weights.size();
  std::vector<int> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<int>(i);
  auto x = [&](int i) { return s.positions[2 * static_cast<std::size_t>(i)]; };
  auto y = [&](int i) { return s.positions[2 * static_cast<std::size_t>(i) + 1]; };
  std::sort(order.begin(), order.end(), [&](int a, int b) { return x(a) != x(b) ? x(a) < x(b) : y(a) < y(b); });
  auto turn = [&](int o, int a, int b) { return (x(a) - x(o)) * (y(b) - y(o)) - (y(a) - y(o)) * (x(b) - x(o)); };
  std::vector<int> hull;
  for (int pass = 0; pass < 2; ++pass) {
    const std::size_t base = hull.size();
    for (const int p : order) {
      while (hull.size() >= base + 2 && turn(hull[hull.size() - 2], hull.back(), p) <= 0) hull.pop_back();
      hull.push_back(p);
    }
    hull.pop_back();
    std::reverse(order.begin(), order.end());
  }
  return {hull.begin(), hull.end()};
}

TEST_P(RandomDiagram, UnboundedCellsAreExactlyTheHullCornersWithEqualWeights) {
  const Seeds s = random_seeds(2000, 0.0, 15);
  PowerDiagramOptions o = with_precision(GetParam());
  o.domain.reset();
  const PowerDiagram d = host::power_diagram(s.positions, s.weights, o);
  const std::set<int> hull = hull_corners(s);
  for (std::size_t i = 0; i < s.weights.size(); ++i) {
    EXPECT_EQ(d.unbounded[i] != 0, hull.count(static_cast<int>(i)) == 1) << "seed " << i;
    EXPECT_EQ(d.empty[i], 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Host, RandomDiagram,
                         ::testing::Values(CellPrecision::double_precision, CellPrecision::single_precision),
                         [](const ::testing::TestParamInfo<CellPrecision>& info) {
                           return info.param == CellPrecision::double_precision ? "double_cells" : "float_cells";
                         });

TEST(PowerDiagram, BoundedCellsOfAnUnboundedDiagramMatchABoxAroundThem) {
  const Seeds s = random_seeds(1500, 1e-4, 16);
  PowerDiagramOptions unbounded;
  unbounded.domain.reset();
  PowerDiagramOptions boxed;
  boxed.domain = Box{-1e3, -1e3, 1e3, 1e3};
  const PowerDiagram u = host::power_diagram(s.positions, s.weights, unbounded);
  const PowerDiagram b = host::power_diagram(s.positions, s.weights, boxed);
  int compared = 0;
  for (std::size_t i = 0; i < s.weights.size(); ++i) {
    if (u.unbounded[i]) {
      EXPECT_TRUE(neighbour_set(b, i).count(host::domain_edge)) << "unbounded cell " << i << " misses the box";
      continue;
    }
    EXPECT_NEAR(u.areas[i], b.areas[i], 1e-12) << "seed " << i;
    EXPECT_EQ(neighbour_set(u, i), neighbour_set(b, i)) << "seed " << i;
    ++compared;
  }
  EXPECT_GT(compared, 1400);
}

// Regression: grid-aligned seeds give exactly parallel bisectors. Float cells
// that start unbounded used to take a receding vertex's rounding noise for a
// crossing and grow to ~1e6, after which every cut was off (the total bounded
// area came out near 8e5 instead of 0.87).
TEST(PowerDiagram, FloatCellsOfAnUnboundedGridMatchDoubleCells) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> weight(0.0, 1e-4);
  std::vector<double> positions, weights;
  for (int i = 0; i < 30; ++i) {
    for (int j = 0; j < 30; ++j) {
      positions.insert(positions.end(), {i / 30.0, j / 30.0});
      weights.push_back(weight(rng));
    }
  }
  PowerDiagramOptions options;
  options.domain.reset();
  const PowerDiagram exact = host::power_diagram(positions, weights, options);
  options.precision = CellPrecision::single_precision;
  const PowerDiagram rounded = host::power_diagram(positions, weights, options);
  for (std::size_t i = 0; i < weights.size(); ++i) {
    ASSERT_EQ(rounded.unbounded[i], exact.unbounded[i]) << "seed " << i;
    if (exact.unbounded[i]) continue;
    EXPECT_NEAR(rounded.areas[i], exact.areas[i], 1e-5 * exact.areas[i]) << "seed " << i;
    // Float resolves edges down to about 1e-6 here: shorter shared edges are
    // touching points to it, longer ones must be there on both sides.
    const std::multiset<int> float_neighbours = neighbour_set(rounded, i);
    const std::multiset<int> double_neighbours = neighbour_set(exact, i);
    EXPECT_TRUE(std::includes(double_neighbours.begin(), double_neighbours.end(), float_neighbours.begin(),
                              float_neighbours.end()))
        << "seed " << i;
    for (std::int64_t k = exact.cell_begin[i]; k < exact.cell_begin[i + 1]; ++k) {
      const std::int64_t next = k + 1 == exact.cell_begin[i + 1] ? exact.cell_begin[i] : k + 1;
      if (std::hypot(exact.xs[next] - exact.xs[k], exact.ys[next] - exact.ys[k]) < 2e-6) continue;
      EXPECT_EQ(float_neighbours.count(exact.neighbours[k]), 1u) << "seed " << i << ", neighbour " << exact.neighbours[k];
    }
  }
}

TEST(PowerDiagram, ProgressCountsEveryCellInOrder) {
  const Seeds s = random_seeds(3000, 1e-4, 17);
  PowerDiagramOptions o;
  std::vector<long long> seen;
  o.progress = [&seen](long long done, long long total) {
    EXPECT_EQ(total, 3000);
    seen.push_back(done);
  };
  host::power_diagram(s.positions, s.weights, o);
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), 3000);
}

// A minimum at the smallest cell's area changes nothing; just above it,
// the call stops at that cell whichever thread finds it, in a box and on
// the torus (whose cells may first be computed among too few copies).
TEST(PowerDiagram, MinimumAreaStopsAtTheCellBelowItAndOtherwiseChangesNothing) {
  const Seeds s = random_seeds(20000, 0.0, 18);
  for (const bool periodic : {false, true}) {
    SCOPED_TRACE(periodic ? "periodic" : "box");
    PowerDiagramOptions o;
    o.periodic = periodic;
    const PowerDiagram all = host::power_diagram(s.positions, s.weights, o);
    const auto smallest = std::min_element(all.areas.begin(), all.areas.end());
    ASSERT_GT(*smallest, 0.0);
    for (const int threads : {1, 2}) {
      o.threads = threads;
      o.minimum_area = *smallest;
      EXPECT_TRUE(test::same_diagram(all, host::power_diagram(s.positions, s.weights, o)));
      o.minimum_area = std::nextafter(*smallest, 1.0);
      try {
        host::power_diagram(s.positions, s.weights, o);
        ADD_FAILURE() << "no cell was found below the minimum";
      } catch (const host::SmallCellError& e) {
        EXPECT_EQ(e.seed(), smallest - all.areas.begin());
        EXPECT_EQ(e.area(), *smallest);
        EXPECT_NE(std::string(e.what()).find("the cell of seed " + std::to_string(e.seed()) + " has area"),
                  std::string::npos)
            << e.what();
      }
    }
  }
}

TEST(PowerDiagram, NoSeedsGiveAnEmptyDiagram) {
  const PowerDiagram d = host::power_diagram({}, {});
  EXPECT_EQ(d.cell_count(), 0);
  EXPECT_EQ(d.cell_begin, std::vector<std::int64_t>{0});
}

// ---- Argument checks --------------------------------------------------------

struct BadInput {
  const char* name;
  std::vector<double> positions, weights;
  PowerDiagramOptions options;
  const char* message;  // a part of the error's text
};

// Test names carry the case's name; printing it keeps the listing readable.
void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

PowerDiagramOptions box_options(Box b) {
  PowerDiagramOptions o;
  o.domain = b;
  return o;
}

class RejectedInput : public ::testing::TestWithParam<BadInput> {};

TEST_P(RejectedInput, ThrowsNamingTheProblem) {
  const BadInput& c = GetParam();
  try {
    host::power_diagram(c.positions, c.weights, c.options);
    FAIL() << "accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
  }
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Host, RejectedInput,
    ::testing::Values(
        BadInput{"odd_coordinate_count", {0.1, 0.2, 0.3}, {}, {}, "not an even number"},
        BadInput{"weight_count", {0.1, 0.2, 0.3, 0.4}, {1.0}, {}, "weights holds 1 values for 2 seeds"},
        BadInput{"nan_x", {0.1, 0.2, 0.3, 0.4, nan, 0.5}, {}, {}, "seed 2 has a non-finite x coordinate"},
        BadInput{"infinite_y", {0.1, inf}, {}, {}, "seed 0 has a non-finite y coordinate"},
        BadInput{"infinite_weight", {0.1, 0.2, 0.3, 0.4}, {0.0, -inf}, {}, "seed 1 has a non-finite weight"},
        BadInput{"huge_coordinate", {0.1, 1e200}, {}, {}, "seed 0 has y coordinate 1e+200, beyond"},
        BadInput{"inverted_box", {0.1, 0.2}, {}, box_options({1, 0, 0, 1}), "empty or inverted"},
        BadInput{"flat_box", {0.1, 0.2}, {}, box_options({0, 0, 1, 0}), "empty or inverted"},
        BadInput{"nan_box", {0.1, 0.2}, {}, box_options({0, 0, nan, 1}), "non-finite bound"},
        BadInput{"negative_threads", {0.1, 0.2}, {}, [] { PowerDiagramOptions o; o.threads = -1; return o; }(),
                 "threads must be 0 (all) or from 1 to 4096, got -1"},
        BadInput{"too_many_threads", {0.1, 0.2}, {}, [] { PowerDiagramOptions o; o.threads = 5000; return o; }(),
                 "threads must be 0 (all) or from 1 to 4096, got 5000"},
        BadInput{"zero_leaf_size", {0.1, 0.2}, {}, [] { PowerDiagramOptions o; o.leaf_size = 0; return o; }(), "leaf_size"},
        BadInput{"capacity_below_four", {0.1, 0.2}, {}, [] { PowerDiagramOptions o; o.initial_capacity = 3; return o; }(),
                 "initial_capacity"},
        BadInput{"negative_minimum_area", {0.1, 0.2}, {}, [] { PowerDiagramOptions o; o.minimum_area = -1e-9; return o; }(),
                 "minimum_area must be 0 (no minimum) or positive, got -1e-09"},
        BadInput{"nan_minimum_area", {0.1, 0.2}, {}, [] { PowerDiagramOptions o; o.minimum_area = nan; return o; }(),
                 "minimum_area must be 0 (no minimum) or positive, got nan"}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

TEST(PowerDiagram, RejectsTwoToThe31SeedsBeforeReadingThem) {
  // The count is checked before any value is read, so the span's elements
  // past the first are never touched.
  const double one[2] = {0.0, 0.0};
  const std::span<const double> huge(one, std::size_t{2} << 31);
  EXPECT_THROW(
      {
        try {
          host::power_diagram(huge, {});
        } catch (const std::invalid_argument& e) {
          EXPECT_NE(std::string(e.what()).find("below 2^31"), std::string::npos) << e.what();
          throw;
        }
      },
      std::invalid_argument);
}

}  // namespace
}  // namespace vorn
