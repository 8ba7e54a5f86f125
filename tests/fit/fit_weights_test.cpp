// Fitting weights to prescribed cell sizes: analytic cases, the Newton
// matrix against finite differences, convergence from good and bad starts,
// densities, Lloyd relaxation, and every input error.
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

FitOptions unit_square(double tolerance = 1e-9) {
  FitOptions o;
  o.diagram.domain = Box{};
  o.tolerance = tolerance;
  return o;
}

std::vector<double> equal_targets(std::size_t n, double total = 1.0) {
  return std::vector<double>(n, total / static_cast<double>(n));
}

// Seeds bunched around a few centres, the hard case for equal areas.
std::vector<double> clustered(std::size_t n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> spread(0.0, 0.03);
  std::vector<double> p;
  const double centres[][2] = {{0.2, 0.3}, {0.7, 0.7}, {0.5, 0.15}};
  for (std::size_t i = 0; i < n; ++i) {
    const auto& c = centres[i % 3];
    const double x = i % 4 == 0 ? unit(rng) : c[0] + spread(rng), y = i % 4 == 0 ? unit(rng) : c[1] + spread(rng);
    p.push_back(std::clamp(x, 0.0, 1.0));
    p.push_back(std::clamp(y, 0.0, 1.0));
  }
  return p;
}

TEST(FitWeights, TwoSeedsSplittingTheSquareGetTheWeightTheBisectorFixes) {
  // The bisector of (0.25, 0.5) and (0.75, 0.5) lies at x with
  // (x - 0.25)^2 - w0 = (x - 0.75)^2 - w1, so w1 - w0 = 0.5 (1 - 2x); areas
  // 0.3 / 0.7 put it at x = 0.3: w1 - w0 = 0.2.
  const std::vector<double> p{0.25, 0.5, 0.75, 0.5}, targets{0.3, 0.7};
  const host::FitResult r = host::fit_weights(p, targets, {}, unit_square(1e-12));
  ASSERT_TRUE(r.converged);
  EXPECT_NEAR(r.weights[1] - r.weights[0], 0.2, 1e-12);
  EXPECT_NEAR(r.weights[0] + r.weights[1], 0.0, 1e-15) << "the weights keep their mean";
  EXPECT_NEAR(r.masses[0], 0.3, 1e-12);
}

TEST(FitWeights, EqualTargetsOnAGridHoldAtOnce) {
  std::vector<double> p;
  for (int i = 0; i < 10; ++i) {
    for (int j = 0; j < 10; ++j) p.insert(p.end(), {(i + 0.5) / 10, (j + 0.5) / 10});
  }
  const host::FitResult r = host::fit_weights(p, equal_targets(100), {}, unit_square());
  EXPECT_TRUE(r.converged);
  EXPECT_EQ(r.history.size(), 1u) << "no iteration needed";
  EXPECT_TRUE(std::all_of(r.weights.begin(), r.weights.end(), [](double w) { return w == 0.0; }));
}

// The Newton matrix is the derivative of the cell areas: compare each entry
// with central differences of areas under a small change of one weight.
// In the seeds' own numbering and in the curve's, whose ranks must be a
// permutation: seed i's row and column are rank[i].
TEST(FitWeights, NewtonMatrixIsTheDerivativeOfTheAreas) {
  const test::Seeds s = test::uniform_seeds(60, 1.0, 0.0, 2e-3, 7);
  host::PowerDiagramOptions o;
  const host::PowerDiagram d = host::power_diagram(s.positions, s.weights, o);
  const std::vector<std::int32_t> curve = host::detail::curve_ranks(s.positions);
  std::vector<std::int32_t> sorted = curve, identity(60);
  std::sort(sorted.begin(), sorted.end());
  std::iota(identity.begin(), identity.end(), 0);
  ASSERT_EQ(sorted, identity);
  for (const std::vector<std::int32_t>& rank : {std::vector<std::int32_t>{}, curve}) {
    SCOPED_TRACE(rank.empty() ? "own numbering" : "curve ranks");
    auto at = [&](int i) { return rank.empty() ? i : rank[static_cast<std::size_t>(i)]; };
    Eigen::SparseMatrix<double> lower;
    host::detail::mass_derivatives(d, s.positions, nullptr, Box{}, 1, rank, lower);
    const Eigen::SparseMatrix<double> h = lower.selfadjointView<Eigen::Lower>();
    ASSERT_EQ(Eigen::SparseMatrix<double>(lower.triangularView<Eigen::StrictlyUpper>()).nonZeros(), 0);
    const double eps = 1e-7;
    for (const int j : {0, 13, 59}) {
      std::vector<double> up = s.weights, down = s.weights;
      up[static_cast<std::size_t>(j)] += eps;
      down[static_cast<std::size_t>(j)] -= eps;
      const host::PowerDiagram a = host::power_diagram(s.positions, up, o), b = host::power_diagram(s.positions, down, o);
      double row_sum = 0.0;
      for (int i = 0; i < 60; ++i) {
        const double fd = (a.areas[static_cast<std::size_t>(i)] - b.areas[static_cast<std::size_t>(i)]) / (2 * eps);
        EXPECT_NEAR(h.coeff(at(i), at(j)), fd, 1e-6 + 1e-5 * std::fabs(fd)) << "d area " << i << " / d w " << j;
        row_sum += h.coeff(at(j), at(i));
      }
      EXPECT_NEAR(row_sum, 0.0, 1e-12);
    }
  }
}

// Columns are filled by blocks of cells on several threads; the diagonal
// sums must not depend on how the blocks were shared out. The second
// matrix is written over a larger one, whose memory it reuses.
TEST(FitWeights, NewtonMatrixIsTheSameOnAnyNumberOfThreads) {
  const test::Seeds s = test::uniform_seeds(20000, 1.0, 0.0, 1e-5, 8);
  const host::PowerDiagram d = host::power_diagram(s.positions, s.weights, host::PowerDiagramOptions{});
  const std::vector<std::int32_t> rank = host::detail::curve_ranks(s.positions);
  Eigen::SparseMatrix<double> one, three;
  host::detail::mass_derivatives(d, s.positions, nullptr, Box{}, 1, rank, one);
  const test::Seeds more = test::uniform_seeds(30000, 1.0, 0.0, 1e-5, 9);
  host::detail::mass_derivatives(host::power_diagram(more.positions, more.weights, host::PowerDiagramOptions{}),
                                 more.positions, nullptr, Box{}, 3, {}, three);
  host::detail::mass_derivatives(d, s.positions, nullptr, Box{}, 3, rank, three);
  ASSERT_EQ(one.nonZeros(), three.nonZeros());
  EXPECT_TRUE(std::equal(one.outerIndexPtr(), one.outerIndexPtr() + one.outerSize() + 1, three.outerIndexPtr()));
  EXPECT_TRUE(std::equal(one.innerIndexPtr(), one.innerIndexPtr() + one.nonZeros(), three.innerIndexPtr()));
  EXPECT_TRUE(std::equal(one.valuePtr(), one.valuePtr() + one.nonZeros(), three.valuePtr()));
  const Eigen::VectorXd row_sums = Eigen::SparseMatrix<double>(one.selfadjointView<Eigen::Lower>()) *
                                   Eigen::VectorXd::Ones(one.rows());
  EXPECT_LT(row_sums.cwiseAbs().maxCoeff(), 1e-12);
}

TEST(FitWeights, UniformAndClusteredSetsReachTheTolerance) {
  struct Case {
    const char* name;
    std::vector<double> positions;
    std::vector<double> targets;
  };
  const std::size_t n = 2000;
  std::vector<double> graded(n);
  for (std::size_t i = 0; i < n; ++i) graded[i] = 1.0 + static_cast<double>(i % 5);
  const double sum = std::accumulate(graded.begin(), graded.end(), 0.0);
  for (double& t : graded) t /= sum;
  const std::vector<Case> cases{{"uniform", test::uniform_seeds(n, 1.0, 0.0, 0.0, 3).positions, equal_targets(n)},
                                {"clustered", clustered(n, 5), equal_targets(n)},
                                {"graded targets", test::uniform_seeds(n, 1.0, 0.0, 0.0, 4).positions, graded}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int reports = 0;
    FitOptions o = unit_square();
    o.on_iteration = [&](const host::FitIteration& it) { EXPECT_EQ(it.iteration, reports++); };
    const host::FitResult r = host::fit_weights(c.positions, c.targets, {}, o);
    EXPECT_TRUE(r.converged);
    EXPECT_LE(max_relative_error(r.masses, c.targets), 1e-9);
    EXPECT_LE(max_relative_error(r.diagram.areas, c.targets), 1e-9) << "masses are the diagram's areas";
    EXPECT_EQ(reports, static_cast<int>(r.history.size()));
    EXPECT_LE(r.history.size(), 25u);
  }
}

// Targets may add up to the domain's area only to within half the
// tolerance (and masses do only to rounding): what no weights can fix must
// be spread over every cell, not piled onto one.
TEST(FitWeights, TargetsOffTheTotalByRoundingSpreadTheirShortfall) {
  const test::Seeds s = test::uniform_seeds(400, 1.0, 0.0, 0.0, 22);
  const std::vector<double> targets = equal_targets(400, 1.0 + 4e-10);
  const host::FitResult r = host::fit_weights(s.positions, targets, {}, unit_square());
  EXPECT_TRUE(r.converged);
  EXPECT_LE(max_relative_error(r.masses, targets), 1e-9);
}

host::PixelDensity image(long long nx, long long ny, const std::vector<double>& values) { return {nx, ny, values}; }

// Weights that leave most cells empty: the start is pulled toward equal
// weights until every cell has area, then damped steps converge. A trial
// step's diagram stops at its first cell below the floor; under a flat
// density (where only an empty cell stops it) the steps are the same. A
// minimum area in the caller's diagram options is the fit's to set.
TEST(FitWeights, StartWithMostCellsEmptyStillConverges) {
  const test::Seeds s = test::uniform_seeds(500, 1.0, 0.0, 0.5, 9);
  const host::PowerDiagram before = host::power_diagram(s.positions, s.weights, {});
  ASSERT_GT(std::count(before.empty.begin(), before.empty.end(), 1), 250);
  FitOptions o = unit_square();
  o.diagram.minimum_area = 1.0;
  const host::FitResult r = host::fit_weights(s.positions, equal_targets(500), s.weights, o);
  EXPECT_TRUE(r.converged);
  EXPECT_LE(max_relative_error(r.masses, equal_targets(500)), 1e-9);
  ASSERT_TRUE(std::any_of(r.history.begin(), r.history.end(), [](const auto& h) { return h.diagrams > 1; }));

  const host::PixelDensity flat = image(3, 2, std::vector<double>(6, 2.0));
  o.density = &flat;
  const host::FitResult dense = host::fit_weights(s.positions, equal_targets(500, 2.0), s.weights, o);
  ASSERT_EQ(dense.history.size(), r.history.size());
  for (std::size_t k = 0; k < r.history.size(); ++k) {
    EXPECT_EQ(dense.history[k].step, r.history[k].step) << "iteration " << k;
    EXPECT_EQ(dense.history[k].diagrams, r.history[k].diagrams) << "iteration " << k;
  }
}

TEST(FitWeights, RunningOutOfIterationsIsReportedNotHidden) {
  FitOptions o = unit_square();
  o.max_iterations = 1;
  const host::FitResult r = host::fit_weights(clustered(1000, 2), equal_targets(1000), {}, o);
  EXPECT_FALSE(r.converged);
  EXPECT_EQ(r.history.size(), 2u);
  EXPECT_GT(r.history.back().max_relative_error, 1e-9);
  EXPECT_LT(r.history.back().max_relative_error, r.history.front().max_relative_error);
}

// A tolerance below what the cells' arithmetic resolves: the fit stops with
// the best weights and says so, after spending a bounded number of diagrams.
TEST(FitWeights, ATolerancePastTheArithmeticStallsWithTheBestWeights) {
  const test::Seeds s = test::uniform_seeds(400, 1.0, 0.0, 0.0, 21);
  const host::FitResult r = host::fit_weights(s.positions, equal_targets(400), {}, unit_square(1e-17));
  EXPECT_FALSE(r.converged);
  EXPECT_TRUE(r.stalled);
  EXPECT_EQ(r.history.back().step, 0.0);
  // Full steps led there, so a few halvings tell rounding from a bad step.
  EXPECT_TRUE(std::any_of(r.history.begin(), r.history.end(), [](const auto& h) { return h.step == 1.0; }));
  EXPECT_LE(r.history.back().diagrams, 4);
  EXPECT_LE(max_relative_error(r.masses, equal_targets(400)), 1e-11);
}

TEST(FitWeights, UniformDensityImageGivesTheDefaultsWeights) {
  const test::Seeds s = test::uniform_seeds(300, 1.0, 0.0, 0.0, 11);
  const host::FitResult plain = host::fit_weights(s.positions, equal_targets(300), {}, unit_square());
  const host::PixelDensity flat = image(7, 5, std::vector<double>(35, 3.0));
  FitOptions o = unit_square();
  o.density = &flat;
  const host::FitResult dense = host::fit_weights(s.positions, equal_targets(300, 3.0), {}, o);
  ASSERT_TRUE(dense.converged);
  for (std::size_t i = 0; i < 300; ++i) EXPECT_NEAR(dense.weights[i], plain.weights[i], 1e-9) << i;
}

// A density that is 0 on the left third: the cells there must stretch into
// the right two thirds to get their mass.
TEST(FitWeights, DensityZeroOnPartOfTheBox) {
  std::vector<double> values(30 * 30);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 30; ++x) values[static_cast<std::size_t>(30 * y + x)] = x < 10 ? 0.0 : 1.0 + 0.02 * y;
  }
  const host::PixelDensity d = image(30, 30, values);
  FitOptions o = unit_square();
  o.density = &d;
  const double total = host::total_mass(d, Box{});
  test::Seeds s = test::uniform_seeds(200, 1.0, 0.0, 0.0, 12);
  for (std::size_t i = 0; i < 200; ++i) s.positions[2 * i] = 0.4 + 0.6 * s.positions[2 * i];
  const host::FitResult r = host::fit_weights(s.positions, equal_targets(200, total), {}, o);
  ASSERT_TRUE(r.converged);
  const std::vector<host::Moments> m = host::cell_moments(r.diagram, d, Box{});
  for (std::size_t i = 0; i < 200; ++i) EXPECT_NEAR(m[i].mass / (total / 200), 1.0, 1e-9);
}

TEST(PixelDensity, PolygonMassesAreExactAndAddUp) {
  // Density x-index + 10 y-index on a 4 x 3 grid over [0, 4] x [0, 3].
  std::vector<double> values(12);
  for (int k = 0; k < 12; ++k) values[static_cast<std::size_t>(k)] = k % 4 + 10 * (k / 4);
  const host::PixelDensity d = image(4, 3, values);
  const Box box{0, 0, 4, 3};
  // The square [0.5, 1.5]^2 covers four quarter pixels: (0 + 1 + 10 + 11) / 4.
  const std::vector<double> xs{0.5, 1.5, 1.5, 0.5}, ys{0.5, 0.5, 1.5, 1.5};
  const host::Moments m = host::polygon_moments(d, box, xs, ys);
  EXPECT_DOUBLE_EQ(m.mass, 5.5);
  EXPECT_NEAR(m.mx / m.mass, (0.75 * 0 + 1.25 * 1 + 0.75 * 10 + 1.25 * 11) / 22, 1e-15);
  // A triangle past the box keeps only its inside part; the whole box holds the total.
  const std::vector<double> bx{-1, 9, -1}, by{-1, -1, 9};
  EXPECT_NEAR(host::polygon_moments(d, box, std::vector<double>{0, 4, 4, 0}, std::vector<double>{0, 0, 3, 3}).mass,
              host::total_mass(d, box), 1e-12);
  EXPECT_GT(host::polygon_moments(d, box, bx, by).mass, 0.0);
  // Along a segment: from (0.5, 0.5) to (2.5, 0.5) crosses pixels 0, 1, 2 for 0.5, 1, 0.5.
  EXPECT_DOUBLE_EQ(host::segment_mass(d, box, 0.5, 0.5, 2.5, 0.5), 0 * 0.5 + 1 * 1 + 2 * 0.5);
}

TEST(Lloyd, MovesSeedsToCentroidsAndKeepsFittedAreas) {
  const test::Seeds s = test::uniform_seeds(400, 1.0, 0.0, 0.0, 13);
  host::LloydOptions o;
  o.fit = unit_square();
  o.iterations = 5;
  const host::LloydResult plain = host::lloyd(s.positions, {}, {}, o);
  ASSERT_EQ(plain.largest_move.size(), 5u);
  EXPECT_LT(plain.largest_move.back(), plain.largest_move.front());
  const host::LloydResult fitted = host::lloyd(s.positions, {}, equal_targets(400), o);
  EXPECT_TRUE(fitted.fitted.converged);
  EXPECT_LE(max_relative_error(fitted.fitted.masses, equal_targets(400)), 1e-9);
  // The moves went to the previous cells' centroids.
  o.iterations = 1;
  const host::LloydResult one = host::lloyd(s.positions, {}, {}, o);
  const host::PowerDiagram d = host::power_diagram(s.positions, {}, o.fit.diagram);
  EXPECT_EQ(one.positions[10], d.centroid_x[5]);
  EXPECT_EQ(one.positions[11], d.centroid_y[5]);
}

TEST(FitWeights, BadInputIsRefusedBeforeAnyWork) {
  const std::vector<double> p{0.25, 0.5, 0.75, 0.5};
  const auto message = [&](std::vector<double> positions, std::vector<double> targets, FitOptions o,
                           std::vector<double> initial = {}) {
    try {
      host::fit_weights(positions, targets, initial, o);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("(no error)");
  };
  EXPECT_EQ(message(p, {0.5}, unit_square()), "1 targets for 2 seeds: give one target per seed");
  EXPECT_EQ(message(p, {0.5, 0.0}, unit_square()), "seed 1 has target 0: targets must be positive and finite");
  EXPECT_EQ(message(p, {0.5, 0.6}, unit_square()),
            "the targets add up to 1.1, but the domain holds 1 (its area): they must agree to within half the "
            "tolerance; scale them by 0.9090909090909091");
  EXPECT_EQ(message({0.25, 0.5, 1.5, 0.5}, {0.5, 0.5}, unit_square()),
            "seed 1 at (1.5, 0.5) lies outside the domain box: its cell could not reach every target");
  EXPECT_EQ(message({0.25, 0.5, 0.25, 0.5}, {0.5, 0.5}, unit_square()),
            "seeds 0 and 1 lie at the same position: only one of them can have a cell");
  EXPECT_EQ(message(p, {0.5, 0.5}, unit_square(), {0.0}), "1 initial weights for 2 seeds (give one per seed, or none)");
  FitOptions plane = unit_square();
  plane.diagram.domain = std::nullopt;
  EXPECT_EQ(message(p, {0.5, 0.5}, plane),
            "fitting weights needs a domain box: cells of the whole plane have no finite area");
  EXPECT_EQ(message(p, {0.5, 0.5}, unit_square(0.0)), "the fit's tolerance must be positive, got 0");
  const host::PixelDensity negative = image(2, 1, {1.0, -1.0});
  FitOptions with_density = unit_square();
  with_density.density = &negative;
  EXPECT_EQ(message(p, {0.5, 0.5}, with_density),
            "density pixel (x 1, y 0) is -1: values must be finite and not negative");
}

}  // namespace
}  // namespace vorn
