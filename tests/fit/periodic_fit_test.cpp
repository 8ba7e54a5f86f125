// Fitting and Lloyd relaxation on the flat torus: cells that cross the box's
// sides, edges facing copies of a neighbour, and a density that repeats with
// the box.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "fit/max_relative_error.hpp"
#include "host/fit/newton_system.hpp"
#include "support/uniform_seeds.hpp"
#include "vorn/host/fit_weights.hpp"

namespace vorn {
namespace {

using host::Box;
using host::FitOptions;
using test::max_relative_error;

// An offset box of unequal sides, so that a period mistaken for 1 or for
// the other side's shows.
constexpr Box torus{-1.0, 0.5, 2.0, 1.5};
constexpr double torus_area = 3.0;

FitOptions periodic(Box box = torus, double tolerance = 1e-9) {
  FitOptions o;
  o.diagram.domain = box;
  o.diagram.periodic = true;
  o.tolerance = tolerance;
  return o;
}

std::vector<double> seeds_in(const Box& b, std::size_t n, unsigned rng_seed) {
  std::vector<double> p = test::uniform_seeds(n, 1.0, 0.0, 0.0, rng_seed).positions;
  for (std::size_t i = 0; i < n; ++i) {
    p[2 * i] = b.x_min + (b.x_max - b.x_min) * p[2 * i];
    p[2 * i + 1] = b.y_min + (b.y_max - b.y_min) * p[2 * i + 1];
  }
  return p;
}

// A smooth, periodic-looking but not symmetric density: pixel values that
// differ across every side of the box.
host::PixelDensity ramp(long long nx, long long ny) {
  host::PixelDensity d{nx, ny, {}};
  for (long long y = 0; y < ny; ++y) {
    for (long long x = 0; x < nx; ++x) d.values.push_back(1.0 + 0.3 * static_cast<double>(x) + 0.1 * static_cast<double>(y * y));
  }
  return d;
}

std::vector<double> masses(const host::PowerDiagram& d, const host::PixelDensity* density) {
  if (!density) return d.areas;
  std::vector<double> out;
  for (const host::Moments& m : host::cell_moments(d, *density, torus)) out.push_back(m.mass);
  return out;
}

TEST(PeriodicFit, TwoSeedsFaceEachOtherAcrossBothBisectors) {
  // Seeds at x = 0.2 and 0.6 of the unit torus: seed 1's strip runs from
  // its bisector with seed 0, at 0.4 + (w0 - w1) / 0.8, to its bisector
  // with seed 0's copy at 1.2, at 0.9 + (w1 - w0) / 1.2: width
  // 0.5 + (w1 - w0) 25/12. Area 0.7 needs w1 - w0 = 0.096; the areas are
  // linear in the weights, so a Newton matrix that counts both edges, each
  // with its own distance, gets there in one step.
  const std::vector<double> p{0.2, 0.5, 0.6, 0.5}, targets{0.3, 0.7};
  const host::FitResult r = host::fit_weights(p, targets, {}, periodic(Box{}, 1e-12));
  ASSERT_TRUE(r.converged);
  EXPECT_NEAR(r.weights[1] - r.weights[0], 0.096, 1e-12);
  EXPECT_NEAR(r.masses[1], 0.7, 1e-12);
  EXPECT_EQ(r.history.size(), 2u) << "the start and one full step";
}

// Each entry against central differences of the masses, with and without a
// density, on a set small enough that most cells cross a side of the box.
TEST(PeriodicFit, NewtonMatrixIsTheDerivativeOfTheMasses) {
  const std::size_t n = 24;
  std::vector<double> p = seeds_in(torus, n, 31), w(n);
  std::mt19937_64 rng(5);
  for (double& x : w) x = std::uniform_real_distribution<double>(0.0, 0.05)(rng);
  const host::PixelDensity dense = ramp(9, 4);
  for (const host::PixelDensity* density : {static_cast<const host::PixelDensity*>(nullptr), &dense}) {
    SCOPED_TRACE(density ? "density" : "uniform");
    FitOptions o = periodic();
    o.density = density;
    const host::PowerDiagram d = host::power_diagram(p, w, o.diagram);
    // In the curve's numbering: edges to several copies of one neighbour
    // sum into one entry, and the room they leave is closed up.
    const std::vector<std::int32_t> rank = host::detail::curve_ranks(p);
    Eigen::SparseMatrix<double> lower;
    host::detail::mass_derivatives(d, p, density, torus, 2, rank, lower);
    const Eigen::SparseMatrix<double> h = lower.selfadjointView<Eigen::Lower>();
    auto at = [&](std::size_t i) { return static_cast<Eigen::Index>(rank[i]); };
    const double eps = 1e-7;
    for (const int j : {0, 7, 23}) {
      std::vector<double> up = w, down = w;
      up[static_cast<std::size_t>(j)] += eps;
      down[static_cast<std::size_t>(j)] -= eps;
      const std::vector<double> a = masses(host::power_diagram(p, up, o.diagram), density),
                                b = masses(host::power_diagram(p, down, o.diagram), density);
      for (std::size_t i = 0; i < n; ++i) {
        const double fd = (a[i] - b[i]) / (2 * eps);
        EXPECT_NEAR(h.coeff(at(i), at(static_cast<std::size_t>(j))), fd, 1e-5 + 1e-5 * std::fabs(fd))
            << "d mass " << i << " / d w " << j;
      }
    }
  }
}

TEST(PeriodicFit, UniformClusteredAndGridSetsReachTheTolerance) {
  const std::size_t n = 1500;
  std::vector<double> clustered = seeds_in(torus, n, 17);
  // Two thirds of the seeds bunched around a corner of the box, so that
  // their cluster wraps across both pairs of sides.
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 3 == 0) continue;
    clustered[2 * i] = std::fmod(clustered[2 * i] - torus.x_min, 0.2) + (i % 2 ? torus.x_min : torus.x_max - 0.2);
    clustered[2 * i + 1] = std::fmod(clustered[2 * i + 1] - torus.y_min, 0.15) +
                           (i % 5 < 2 ? torus.y_min : torus.y_max - 0.15);
  }
  const std::vector<double> equal(n, torus_area / static_cast<double>(n));
  for (const auto& [name, positions] : {std::pair{"uniform", seeds_in(torus, n, 16)}, std::pair{"clustered", clustered}}) {
    SCOPED_TRACE(name);
    const host::FitResult r = host::fit_weights(positions, equal, {}, periodic());
    EXPECT_TRUE(r.converged);
    EXPECT_LE(max_relative_error(r.masses, equal), 1e-9);
    EXPECT_NEAR(std::accumulate(r.diagram.areas.begin(), r.diagram.areas.end(), 0.0), torus_area, 1e-12);
    EXPECT_LE(r.history.size(), 25u);
  }
  // A grid's cells are equal already, across the sides too.
  std::vector<double> grid;
  for (int i = 0; i < 12; ++i) {
    for (int j = 0; j < 4; ++j) grid.insert(grid.end(), {torus.x_min + 0.25 * i, torus.y_min + 0.25 * j});
  }
  const host::FitResult g = host::fit_weights(grid, std::vector<double>(48, torus_area / 48), {}, periodic());
  EXPECT_TRUE(g.converged);
  EXPECT_EQ(g.history.size(), 1u);
}

// Seeds given a whole number of periods away are the same seeds: the same
// weights, and the cells around the wrapped positions.
TEST(PeriodicFit, SeedsOutsideTheBoxAreWrapped) {
  const std::size_t n = 300;
  const std::vector<double> inside = seeds_in(torus, n, 18);
  std::vector<double> moved = inside;
  for (std::size_t i = 0; i < n; i += 3) moved[2 * i] += 3.0 * (i % 2 ? 1 : -2);
  for (std::size_t i = 1; i < n; i += 4) moved[2 * i + 1] -= 1.0;
  const std::vector<double> equal(n, torus_area / static_cast<double>(n));
  const host::FitResult a = host::fit_weights(inside, equal, {}, periodic());
  const host::FitResult b = host::fit_weights(moved, equal, {}, periodic());
  ASSERT_TRUE(a.converged && b.converged);
  for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(a.weights[i], b.weights[i], 1e-12) << i;
}

TEST(PeriodicFit, DensityRepeatsWithTheBox) {
  const host::PixelDensity d = ramp(12, 5);
  const double total = host::total_mass(d, torus);
  // A square straddling the right side holds what its two parts hold, each
  // from its own side of the box; its centroid stays where the square is.
  const std::vector<double> xs{1.8, 2.2, 2.2, 1.8}, ys{0.9, 0.9, 1.1, 1.1};
  const host::Moments whole = host::periodic_polygon_moments(d, torus, xs, ys);
  const host::Moments right = host::polygon_moments(d, torus, std::vector<double>{1.8, 2.0, 2.0, 1.8}, ys);
  const host::Moments left = host::polygon_moments(d, torus, std::vector<double>{-1.0, -0.8, -0.8, -1.0}, ys);
  EXPECT_NEAR(whole.mass, right.mass + left.mass, 1e-14);
  EXPECT_NEAR(whole.mx, right.mx + left.mx + 3.0 * left.mass, 1e-13);
  EXPECT_GT(whole.mx / whole.mass, 1.8);
  // A segment along the right side is the left side's pixel line: it takes
  // the values of column 0 (right of it on the torus).
  const double hy = 1.0 / 5;
  EXPECT_NEAR(host::periodic_segment_mass(d, torus, 2.0, 0.5, 2.0, 0.5 + hy), d.values[0] * hy, 1e-15);
  // Every periodic cell's mass, summed: the box's total.
  const std::vector<double> p = seeds_in(torus, 40, 19);
  const host::PowerDiagram cells = host::power_diagram(p, {}, periodic().diagram);
  const std::vector<host::Moments> m = host::cell_moments(cells, d, torus);
  double sum = 0.0;
  for (const host::Moments& c : m) sum += c.mass;
  EXPECT_NEAR(sum, total, 1e-12 * total);
  // And a fit under it reaches its targets.
  FitOptions o = periodic();
  o.density = &d;
  const host::FitResult r = host::fit_weights(p, std::vector<double>(40, total / 40), {}, o);
  EXPECT_TRUE(r.converged);
  EXPECT_LE(max_relative_error(r.masses, std::vector<double>(40, total / 40)), 1e-9);
}

TEST(PeriodicFit, LloydWrapsSeedsMovedAcrossASide) {
  const std::size_t n = 200;
  host::LloydOptions o;
  o.fit = periodic();
  o.iterations = 6;
  const std::vector<double> start = seeds_in(torus, n, 20);
  const host::LloydResult plain = host::lloyd(start, {}, {}, o);
  ASSERT_EQ(plain.largest_move.size(), 6u);
  EXPECT_LT(plain.largest_move.back(), plain.largest_move.front());
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_TRUE(plain.positions[2 * i] >= torus.x_min && plain.positions[2 * i] < torus.x_max) << i;
    EXPECT_TRUE(plain.positions[2 * i + 1] >= torus.y_min && plain.positions[2 * i + 1] < torus.y_max) << i;
  }
  // One move: each seed goes to its cell's centroid, wrapped into the box.
  o.iterations = 1;
  const host::LloydResult one = host::lloyd(start, {}, {}, o);
  const host::PowerDiagram d = host::power_diagram(start, {}, o.fit.diagram);
  int wrapped = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::vector<double> c = host::periodic_positions(std::vector<double>{d.centroid_x[i], d.centroid_y[i]}, torus);
    EXPECT_EQ(one.positions[2 * i], c[0]);
    EXPECT_EQ(one.positions[2 * i + 1], c[1]);
    wrapped += c[0] != d.centroid_x[i] || c[1] != d.centroid_y[i];
  }
  EXPECT_GT(wrapped, 0) << "no centroid fell outside the box: the case is not tested";
  // With targets, the cells keep them after the moves.
  const std::vector<double> equal(n, torus_area / static_cast<double>(n));
  o.iterations = 3;
  const host::LloydResult fitted = host::lloyd(start, {}, equal, o);
  EXPECT_TRUE(fitted.fitted.converged);
  EXPECT_LE(max_relative_error(fitted.fitted.masses, equal), 1e-9);
}

TEST(PeriodicFit, SeedsOnOnePointOfTheTorusAreRefused) {
  // x_min and x_max are one line of the torus.
  const std::vector<double> p{-1.0, 1.0, 2.0, 1.0};
  try {
    host::fit_weights(p, std::vector<double>{1.5, 1.5}, {}, periodic());
    ADD_FAILURE() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "seeds 0 and 1 lie at the same position of the periodic domain: only one of them can have a cell");
  }
  EXPECT_THROW(host::fit_weights(std::vector<double>{0.0, NAN, 0.5, 1.0}, std::vector<double>{1.5, 1.5}, {}, periodic()),
               std::invalid_argument);
}

}  // namespace
}  // namespace vorn
