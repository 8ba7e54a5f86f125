// Periodic power diagrams through the host API: against a brute-force
// oracle that clips each seed's cell by every copy of every seed in the 3 x
// 3 boxes around the period box; translation of all seeds; mutual
// neighbours with opposite shifts; areas adding up to the box's; the bands
// growing for seeds that need it; wrapping and the argument checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ostream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "support/same_diagram.hpp"
#include "support/uniform_seeds.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn {
namespace {

using host::Box;
using host::CellPrecision;
using host::PowerDiagram;
using host::PowerDiagramOptions;
using test::Seeds;

// A neighbour across an edge: the seed and the copy's shift.
using Facing = std::tuple<int, int, int>;

PowerDiagramOptions periodic_in(const Box& box, CellPrecision precision = CellPrecision::double_precision) {
  PowerDiagramOptions o;
  o.domain = box;
  o.periodic = true;
  o.precision = precision;
  return o;
}

// ---- The oracle -------------------------------------------------------------

struct OracleCell {
  double area = 0.0;
  std::set<Facing> facing;  // of edges longer than 1e-9 of the box
};

using Polygon = std::vector<std::array<double, 3>>;  // x, y, index of the edge's cutter (from this vertex)

// The polygon's part where a x + b y <= c; new edges carry `cutter`.
Polygon clip(const Polygon& poly, double a, double b, double c, double cutter) {
  Polygon kept;
  for (std::size_t k = 0; k < poly.size(); ++k) {
    const auto& p = poly[k];
    const auto& q = poly[(k + 1) % poly.size()];
    const double dp = a * p[0] + b * p[1] - c, dq = a * q[0] + b * q[1] - c;
    // A vertex on the line followed by one beyond it starts an edge on the line.
    if (dp <= 0) kept.push_back(dp == 0 && dq > 0 ? std::array<double, 3>{p[0], p[1], cutter} : p);
    if ((dp < 0 && dq > 0) || (dp > 0 && dq < 0)) {
      const double t = dp / (dp - dq);
      kept.push_back({p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1]), dp < 0 ? cutter : p[2]});
    }
  }
  return kept;
}

// Cell i of the wrapped seeds, clipped from a square two periods wide by
// every copy (shifts -1 to 1) of every seed; coincident seeds as the host
// rules (the heaviest, then the lowest index, owns the position).
OracleCell oracle_cell(const std::vector<double>& p, const std::vector<double>& w, const Box& box, std::size_t i) {
  const double lx = box.x_max - box.x_min, ly = box.y_max - box.y_min;
  const double x = p[2 * i], y = p[2 * i + 1];
  Polygon poly{{x - lx, y - ly, -1}, {x + lx, y - ly, -1}, {x + lx, y + ly, -1}, {x - lx, y + ly, -1}};
  const std::size_t n = w.size();
  const auto owns_its_position = [&](std::size_t j) {
    for (std::size_t k = 0; k < n; ++k) {
      const bool same = p[2 * k] == p[2 * j] && p[2 * k + 1] == p[2 * j + 1];
      if (same && (w[k] > w[j] || (w[k] == w[j] && k < j))) return false;
    }
    return true;
  };
  if (!owns_its_position(i)) return {};
  for (std::size_t j = 0; j < n && !poly.empty(); ++j) {
    if (!owns_its_position(j)) continue;
    for (int sx = -1; sx <= 1; ++sx) {
      for (int sy = -1; sy <= 1; ++sy) {
        if (j == i && sx == 0 && sy == 0) continue;
        const double qx = p[2 * j] + sx * lx, qy = p[2 * j + 1] + sy * ly;
        if (qx == x && qy == y) continue;  // a lighter seed at the same position
        const double a = qx - x, b = qy - y;
        const double c = 0.5 * ((w[i] - w[j]) + a * (qx + x) + b * (qy + y));
        poly = clip(poly, a, b, c, static_cast<double>(j * 9 + static_cast<std::size_t>((sx + 1) * 3 + (sy + 1))));
      }
    }
  }
  OracleCell cell;
  for (std::size_t k = 0; k < poly.size(); ++k) {
    const auto& a = poly[k];
    const auto& b = poly[(k + 1) % poly.size()];
    cell.area += 0.5 * (a[0] * b[1] - b[0] * a[1]);
    if (std::hypot(b[0] - a[0], b[1] - a[1]) > 1e-9 * std::max(lx, ly) && a[2] >= 0) {
      const int code = static_cast<int>(a[2]);
      cell.facing.insert({code / 9, code % 9 / 3 - 1, code % 3 - 1});
    }
  }
  return cell;
}

std::set<Facing> facing_of(const PowerDiagram& d, std::size_t i) {
  std::set<Facing> out;
  for (auto k = d.cell_begin[i]; k < d.cell_begin[i + 1]; ++k) {
    out.insert({d.neighbours[k], d.neighbour_shifts[2 * k], d.neighbour_shifts[2 * k + 1]});
  }
  return out;
}

// ---- Properties every periodic diagram has ----------------------------------

// Areas add up to the box's; every edge names a seed, and the seed's cell
// names this one's copy with the opposite shift.
void expect_tiling(const PowerDiagram& d, const Box& box, double tolerance) {
  const double box_area = (box.x_max - box.x_min) * (box.y_max - box.y_min);
  double total = 0.0;
  for (std::int64_t i = 0; i < d.cell_count(); ++i) total += d.areas[i];
  EXPECT_NEAR(total, box_area, tolerance * box_area);
  ASSERT_EQ(d.neighbour_shifts.size(), 2 * d.neighbours.size());
  for (std::int64_t i = 0; i < d.cell_count(); ++i) {
    EXPECT_FALSE(d.unbounded[i]);
    for (auto k = d.cell_begin[i]; k < d.cell_begin[i + 1]; ++k) {
      const int j = d.neighbours[k];
      ASSERT_GE(j, 0) << "cell " << i << " has an edge on no seed";
      const Facing back{static_cast<int>(i), -d.neighbour_shifts[2 * k], -d.neighbour_shifts[2 * k + 1]};
      EXPECT_TRUE(facing_of(d, static_cast<std::size_t>(j)).contains(back))
          << "cell " << i << " faces seed " << j << " (" << +d.neighbour_shifts[2 * k] << ", "
          << +d.neighbour_shifts[2 * k + 1] << "), which does not face it back";
    }
  }
}

struct PeriodicCase {
  const char* name;
  Seeds seeds;
  Box box;
};

void PrintTo(const PeriodicCase& c, std::ostream* os) { *os << c.name; }

Seeds clustered_at_corners(std::size_t n, unsigned rng_seed) {
  std::mt19937_64 rng(rng_seed);
  std::uniform_real_distribution<double> near(0.0, 0.04);
  Seeds s;
  for (std::size_t i = 0; i < n; ++i) {
    const bool right = i % 2, top = i % 4 >= 2;
    s.positions.push_back(right ? 1.0 - near(rng) : near(rng));
    s.positions.push_back(top ? 1.0 - near(rng) : near(rng));
    s.weights.push_back(0.0);
  }
  return s;
}

std::vector<PeriodicCase> periodic_cases() {
  Seeds heavy = test::uniform_seeds(40, 1.0, 0.0, 1.0, 3);  // weights up to the box's area: most cells empty
  Seeds one_big = test::uniform_seeds(30, 1.0, 0.0, 1e-4, 4);
  one_big.weights[7] = 0.3;  // its cell covers most of the box
  Seeds shifted = test::uniform_seeds(60, 3.0, 10.0, 0.01, 5);
  for (std::size_t i = 0; i < 60; ++i) shifted.positions[2 * i + 1] = -2.0 + shifted.positions[2 * i + 1] / 3.0 - 10.0 / 3.0;
  return {
      {"uniform_weighted", test::uniform_seeds(80, 1.0, 0.0, 0.004, 1), Box{}},
      {"one_seed", {{0.3, 0.6}, {0.0}}, Box{}},
      {"one_seed_in_a_flat_box", {{0.3, 0.6}, {2.0}}, Box{0.0, 0.0, 3.0, 1.0}},
      {"two_seeds", {{0.2, 0.3, 0.7, 0.4}, {0.0, 0.0}}, Box{}},
      {"two_seeds_one_heavy", {{0.2, 0.3, 0.25, 0.4}, {0.0, 0.05}}, Box{}},
      {"three_seeds_on_a_line", {{0.1, 0.5, 0.4, 0.5, 0.8, 0.5}, {0.0, 0.01, 0.0}}, Box{}},
      {"heavy_weights_most_cells_empty", heavy, Box{}},
      {"one_cell_covers_most_of_the_box", one_big, Box{}},
      {"clustered_at_the_corners", clustered_at_corners(64, 6), Box{}},
      {"offset_flat_box", shifted, Box{10.0, -2.0, 13.0, -1.0}},
      // Copies of the heaviest seed along the long side are far apart: the
      // bands along x and y grow to a period each, not to the long side.
      {"long_thin_box", {{1.0, 0.1, 7.0, 0.4, 13.0, 0.3, 17.5, 0.05}, {0.0, 0.5, 0.02, 0.1}}, Box{0.0, 0.0, 20.0, 0.5}},
      {"coincident_seeds", {{0.3, 0.3, 0.3, 0.3, 0.7, 0.6, 0.7, 0.6}, {0.0, 0.01, 0.02, 0.02}}, Box{}},
  };
}

class PeriodicOracle : public ::testing::TestWithParam<PeriodicCase> {};

TEST_P(PeriodicOracle, CellsMatchClippingByEveryCopy) {
  const PeriodicCase& c = GetParam();
  const std::vector<double> p = host::periodic_positions(c.seeds.positions, c.box);
  const double box_area = (c.box.x_max - c.box.x_min) * (c.box.y_max - c.box.y_min);
  for (const auto precision : {CellPrecision::double_precision, CellPrecision::single_precision}) {
    const bool single = precision == CellPrecision::single_precision;
    SCOPED_TRACE(single ? "float cells" : "double cells");
    const PowerDiagram d = host::power_diagram(c.seeds.positions, c.seeds.weights, periodic_in(c.box, precision));
    expect_tiling(d, c.box, single ? 1e-5 : 1e-12);
    for (std::size_t i = 0; i < c.seeds.weights.size(); ++i) {
      SCOPED_TRACE("seed " + std::to_string(i));
      const OracleCell expected = oracle_cell(p, c.seeds.weights, c.box, i);
      EXPECT_NEAR(d.areas[i], expected.area, (single ? 1e-5 : 1e-12) * box_area);
      EXPECT_EQ(d.empty[i] != 0, expected.area == 0.0);
      if (!single) {
        EXPECT_EQ(facing_of(d, i), expected.facing);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Host, PeriodicOracle, ::testing::ValuesIn(periodic_cases()),
                         [](const ::testing::TestParamInfo<PeriodicCase>& info) { return std::string(info.param.name); });

// ---- Cases with a known answer ----------------------------------------------

TEST(PeriodicDiagram, OneSeedFacesItsFourNearestCopies) {
  const PowerDiagram d = host::power_diagram(std::vector<double>{0.25, 0.5}, {}, periodic_in(Box{}));
  ASSERT_EQ(d.vertex_count(0), 4);
  EXPECT_DOUBLE_EQ(d.areas[0], 1.0);
  EXPECT_DOUBLE_EQ(d.centroid_x[0], 0.25);
  EXPECT_DOUBLE_EQ(d.centroid_y[0], 0.5);
  EXPECT_EQ(facing_of(d, 0), (std::set<Facing>{{0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}}));
  EXPECT_EQ(*std::min_element(d.xs.begin(), d.xs.end()), -0.25);  // the cell crosses the box's left side
}

TEST(PeriodicDiagram, TwoSeedsOnALineShareTwoEdgesWithOppositeCopies) {
  // Seeds at x = 0.25 and 0.75: bisectors at x = 0.5 and x = 0 (with the copy at -0.25).
  const PowerDiagram d = host::power_diagram(std::vector<double>{0.25, 0.5, 0.75, 0.5}, {}, periodic_in(Box{}));
  EXPECT_DOUBLE_EQ(d.areas[0], 0.5);
  EXPECT_DOUBLE_EQ(d.areas[1], 0.5);
  EXPECT_EQ(facing_of(d, 0), (std::set<Facing>{{1, 0, 0}, {1, -1, 0}, {0, 0, 1}, {0, 0, -1}}));
  EXPECT_EQ(facing_of(d, 1), (std::set<Facing>{{0, 0, 0}, {0, 1, 0}, {1, 0, 1}, {1, 0, -1}}));
}

// Regression guard for degenerate meeting points: on a grid four cells meet
// at every corner, and the diagonal copies only touch there; each cell is a
// square facing its four side neighbours (across the box's sides too).
TEST(PeriodicDiagram, GridSeedsGiveSquaresFacingFourNeighbours) {
  std::vector<double> grid;
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 5; ++j) grid.push_back((i + 0.5) / 8), grid.push_back(2.0 * (j + 0.5) / 5);
  }
  for (const auto precision : {CellPrecision::double_precision, CellPrecision::single_precision}) {
    const PowerDiagram d = host::power_diagram(grid, {}, periodic_in(Box{0.0, 0.0, 1.0, 2.0}, precision));
    expect_tiling(d, Box{0.0, 0.0, 1.0, 2.0}, 1e-6);
    for (std::size_t i = 0; i < 40; ++i) {
      EXPECT_EQ(d.vertex_count(static_cast<std::int64_t>(i)), 4);
      EXPECT_NEAR(d.areas[i], 0.05, 1e-6);
    }
    // Seed 0 (column 0, row 0) faces column 7 and row 4 through the sides.
    EXPECT_EQ(facing_of(d, 0), (std::set<Facing>{{5, 0, 0}, {35, -1, 0}, {1, 0, 0}, {4, 0, -1}}));
  }
}

// ---- Invariances ------------------------------------------------------------

// Moving every seed by one vector (and wrapping) moves every cell with it:
// seed i, wrapped back by k_i periods, faces j's copy s + k_j - k_i.
TEST(PeriodicDiagram, TranslatingEverySeedTranslatesTheCells) {
  const Box box{0.0, 0.0, 2.0, 1.0};
  const Seeds s = test::uniform_seeds(300, 1.0, 0.0, 0.002, 21);
  Seeds scaled = s;
  for (std::size_t i = 0; i < 300; ++i) scaled.positions[2 * i] *= 2.0;
  const double tx = 0.8125, ty = 0.40625;  // exact in binary, so the moved seeds are exact
  Seeds moved = scaled;
  std::vector<int> kx(300), ky(300);
  for (std::size_t i = 0; i < 300; ++i) {
    const double x = scaled.positions[2 * i] + tx, y = scaled.positions[2 * i + 1] + ty;
    kx[i] = x >= 2.0, ky[i] = y >= 1.0;
    moved.positions[2 * i] = x - 2.0 * kx[i];
    moved.positions[2 * i + 1] = y - 1.0 * ky[i];
  }
  const PowerDiagram a = host::power_diagram(scaled.positions, scaled.weights, periodic_in(box));
  const PowerDiagram b = host::power_diagram(moved.positions, moved.weights, periodic_in(box));
  for (std::size_t i = 0; i < 300; ++i) {
    SCOPED_TRACE("seed " + std::to_string(i));
    EXPECT_NEAR(a.areas[i], b.areas[i], 1e-13);
    std::set<Facing> expected;
    for (const auto& [j, sx, sy] : facing_of(a, i)) {
      expected.insert({j, sx + kx[static_cast<std::size_t>(j)] - kx[i], sy + ky[static_cast<std::size_t>(j)] - ky[i]});
    }
    EXPECT_EQ(facing_of(b, i), expected);
    if (a.empty[i]) continue;
    EXPECT_NEAR(b.centroid_x[i], a.centroid_x[i] + tx - 2.0 * kx[i], 1e-12);
    EXPECT_NEAR(b.centroid_y[i], a.centroid_y[i] + ty - 1.0 * ky[i], 1e-12);
  }
}

TEST(PeriodicDiagram, SeedsOutsideTheBoxAreWrappedIn) {
  const Box box{-1.0, 2.0, 1.0, 3.0};
  // Positions on a grid of 2^-20, so that moving them by whole periods is exact.
  Seeds s = test::uniform_seeds(100, 1.0, 0.0, 0.001, 8);
  for (double& v : s.positions) v = std::round(v * 0x1p20) * 0x1p-20;
  for (std::size_t i = 0; i < 100; ++i) s.positions[2 * i] = 2.0 * s.positions[2 * i] - 1.0, s.positions[2 * i + 1] += 2.0;
  Seeds outside = s;
  for (std::size_t i = 0; i < 100; i += 3) outside.positions[2 * i] += 2.0 * static_cast<double>(i % 7) - 6.0;
  for (std::size_t i = 1; i < 100; i += 5) outside.positions[2 * i + 1] -= 4.0;
  EXPECT_EQ(host::periodic_positions(outside.positions, box), s.positions);
  EXPECT_TRUE(test::same_diagram(host::power_diagram(s.positions, s.weights, periodic_in(box)),
                                 host::power_diagram(outside.positions, outside.weights, periodic_in(box))));
}

TEST(PeriodicPositions, TheHighSidesAreTheLowSides) {
  const Box box{0.0, -1.0, 1.0, 1.0};
  EXPECT_EQ(host::periodic_positions(std::vector<double>{1.0, 1.0}, box), (std::vector<double>{0.0, -1.0}));
  EXPECT_EQ(host::periodic_positions(std::vector<double>{-0.25, 3.5}, box), (std::vector<double>{0.75, -0.5}));
  // Just below the low side: wrapping rounds onto the high side, which is the low side.
  EXPECT_EQ(host::periodic_positions(std::vector<double>{-1e-300, 0.0}, box), (std::vector<double>{0.0, 0.0}));
  EXPECT_EQ(host::periodic_positions(std::vector<double>{1e6 + 0.5, -7.0}, box), (std::vector<double>{0.5, -1.0}));
}

// ---- Bands ------------------------------------------------------------------

TEST(PeriodicDiagram, UniformSeedsNeedOneBandOfFewCopies) {
  const Seeds s = test::uniform_seeds(20000, 1.0, 0.0, 0.8 / 20000, 9);
  const PowerDiagram d = host::power_diagram(s.positions, s.weights, periodic_in(Box{}));
  EXPECT_EQ(d.band_growths, 0);
  EXPECT_LT(d.ghost_count, 20000 / 5);
  expect_tiling(d, Box{}, 1e-12);
}

TEST(PeriodicDiagram, SparseCornersGrowTheBandUntilEveryCellIsCertified) {
  const Seeds s = clustered_at_corners(400, 10);
  const PowerDiagram d = host::power_diagram(s.positions, s.weights, periodic_in(Box{}));
  EXPECT_GT(d.band_growths, 0);
  expect_tiling(d, Box{}, 1e-12);
  const std::vector<double> p = host::periodic_positions(s.positions, Box{});
  for (std::size_t i = 0; i < 400; i += 7) EXPECT_NEAR(d.areas[i], oracle_cell(p, s.weights, Box{}, i).area, 1e-12);
}

TEST(PeriodicDiagram, CopiesLieAtMostTwoPeriodsAwayWhateverTheBoxShape) {
  const Seeds s{{1.0, 0.1, 7.0, 0.4, 13.0, 0.3}, {0.0, 0.5, 0.02}};
  const Box box{0.0, 0.0, 20.0, 0.5};
  const PowerDiagram d = host::power_diagram(s.positions, s.weights, periodic_in(box));
  expect_tiling(d, box, 1e-12);
  EXPECT_LE(d.band_x, 20.0 * 1.0625);
  EXPECT_LE(d.band_y, 0.5 * 1.0625);
  EXPECT_LE(d.ghost_count, 3 * 24);
  for (const std::int8_t shift : d.neighbour_shifts) EXPECT_LE(std::abs(shift), 1);
}

TEST(PeriodicDiagram, SameBitsOnAnyThreadCount) {
  const Seeds s = clustered_at_corners(3000, 11);
  PowerDiagramOptions one = periodic_in(Box{});
  one.threads = 1;
  PowerDiagramOptions three = periodic_in(Box{});
  three.threads = 3;
  three.initial_capacity = 4;
  EXPECT_TRUE(test::same_diagram(host::power_diagram(s.positions, s.weights, one),
                                 host::power_diagram(s.positions, s.weights, three)));
}

// ---- Arguments --------------------------------------------------------------

TEST(PeriodicDiagram, RefusesAPeriodWithoutABox) {
  PowerDiagramOptions o;
  o.domain = std::nullopt;
  o.periodic = true;
  try {
    host::power_diagram(std::vector<double>{0.5, 0.5}, {}, o);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("periodic diagram needs a domain box"), std::string::npos) << e.what();
  }
}

TEST(PeriodicDiagram, OtherDiagramsHaveNoShifts) {
  const Seeds s = test::uniform_seeds(50, 1.0, 0.0, 0.0, 12);
  const PowerDiagram d = host::power_diagram(s.positions, s.weights);
  EXPECT_TRUE(d.neighbour_shifts.empty());
  EXPECT_EQ(d.ghost_count, 0);
}

}  // namespace
}  // namespace vorn
