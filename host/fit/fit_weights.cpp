#include "vorn/host/fit_weights.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

#include "newton_system.hpp"

namespace vorn::host {

namespace {

// A step halved below this fraction no longer helps: each halving costs a diagram.
constexpr double min_step = 0x1p-12;
// Once a full step has been taken and the error is below `newton_region`, Newton's
// model of the masses holds: a step that fails even at `min_step_near`
// meets the rounding of the masses, not a flaw of the model, and further
// halvings would only spend diagrams on it.
constexpr double newton_region = 1e-6;
constexpr double min_step_near = 0x1p-3;

using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string text(double value) {
  char out[32];
  return {out, std::to_chars(out, out + sizeof out, value).ptr};
}

double domain_mass(const FitOptions& o) {
  const Box& b = *o.diagram.domain;
  return o.density ? total_mass(*o.density, b) : (b.x_max - b.x_min) * (b.y_max - b.y_min);
}

void check_options(const FitOptions& o) {
  if (!o.diagram.domain) {
    throw std::invalid_argument("fitting weights needs a domain box: cells of the whole plane have no finite area");
  }
  if (!(o.tolerance > 0)) throw std::invalid_argument("the fit's tolerance must be positive, got " + text(o.tolerance));
  if (o.max_iterations < 0) {
    throw std::invalid_argument("the fit's iteration limit must not be negative, got " +
                                std::to_string(o.max_iterations));
  }
  if (o.density) check_pixel_density(*o.density);
}

// Targets: n positive finite numbers adding up to what the domain holds.
void check_targets(std::span<const double> targets, std::size_t n, const FitOptions& o) {
  if (targets.size() != n) {
    throw std::invalid_argument(std::to_string(targets.size()) + " targets for " + std::to_string(n) +
                                " seeds: give one target per seed");
  }
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(targets[i]) || !(targets[i] > 0)) {
      throw std::invalid_argument("seed " + std::to_string(i) + " has target " + text(targets[i]) +
                                  ": targets must be positive and finite");
    }
    sum += targets[i];
  }
  const double total = domain_mass(o);
  // Half the tolerance, or the rounding of the sum itself where that is more.
  const double slack = std::max(0.5 * o.tolerance, 4.0 * static_cast<double>(n) * 0x1p-53);
  if (std::fabs(sum - total) > slack * total) {
    throw std::invalid_argument("the targets add up to " + text(sum) + ", but the domain holds " + text(total) +
                                (o.density ? " (the density's total mass)" : " (its area)") +
                                ": they must agree to within half the tolerance; scale them by " +
                                text(total / sum));
  }
}

// Every seed inside the box (its boundary included; on a periodic domain,
// where seeds are wrapped into it, anywhere finite) and on no other seed.
void check_positions(std::span<const double> p, const Box& b, bool periodic) {
  const std::size_t n = p.size() / 2;
  std::unordered_map<std::uint64_t, std::size_t> first_at;
  first_at.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double x = p[2 * i], y = p[2 * i + 1];
    if (!std::isfinite(x) || !std::isfinite(y)) {
      throw std::invalid_argument("seed " + std::to_string(i) + " lies at (" + text(x) + ", " + text(y) +
                                  "): positions must be finite");
    }
    if (!periodic && !(x >= b.x_min && x <= b.x_max && y >= b.y_min && y <= b.y_max)) {
      throw std::invalid_argument("seed " + std::to_string(i) + " at (" + text(x) + ", " + text(y) +
                                  ") lies outside the domain box: its cell could not reach every target");
    }
    // +0 and -0 are one position.
    const std::uint64_t key = std::bit_cast<std::uint64_t>(x + 0.0) * 0x9e3779b97f4a7c15ULL ^
                              std::bit_cast<std::uint64_t>(y + 0.0);
    const auto [at, fresh] = first_at.emplace(key, i);
    if (!fresh && p[2 * at->second] == x && p[2 * at->second + 1] == y) {
      throw std::invalid_argument("seeds " + std::to_string(at->second) + " and " + std::to_string(i) +
                                  (periodic ? " lie at the same position of the periodic domain"
                                            : " lie at the same position") +
                                  ": only one of them can have a cell");
    }
  }
}

// The diagram under `weights` and its cells' masses.
struct Evaluation {
  PowerDiagram diagram;
  std::vector<double> masses;
};

Evaluation evaluate(std::span<const double> positions, const std::vector<double>& weights, const FitOptions& o,
                    const PowerDiagramOptions& diagram) {
  Evaluation e{power_diagram(positions, weights, diagram), {}};
  e.masses = detail::cell_masses(e.diagram, o);
  return e;
}

// A trial step's diagram, or nothing when a cell's mass falls below
// `floor` for sure: the diagram stops at the first such cell, sparing the
// rest of a diagram the step would not take. Without a density a mass is
// an area; under one, an empty cell is the sure case.
std::optional<Evaluation> evaluate_trial(std::span<const double> positions, const std::vector<double>& weights,
                                         const FitOptions& o, double floor) {
  PowerDiagramOptions diagram = o.diagram;
  diagram.minimum_area = o.density ? std::numeric_limits<double>::denorm_min() : floor;
  try {
    return evaluate(positions, weights, o, diagram);
  } catch (const SmallCellError&) {
    return std::nullopt;
  }
}

double max_relative_error(const std::vector<double>& masses, std::span<const double> targets) {
  double worst = 0.0;
  for (std::size_t i = 0; i < masses.size(); ++i) worst = std::max(worst, std::fabs(masses[i] - targets[i]) / targets[i]);
  return worst;
}

double squared_error(const std::vector<double>& masses, std::span<const double> targets) {
  double sum = 0.0;
  for (std::size_t i = 0; i < masses.size(); ++i) sum += (masses[i] - targets[i]) * (masses[i] - targets[i]);
  return sum;
}

double smallest(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

// The start: the given weights, pulled halfway toward their mean until every
// cell has mass (at the mean itself every cell of distinct seeds is a
// Voronoi cell, which has area; under a density it may still have no mass).
Evaluation start(std::span<const double> positions, std::vector<double>& weights, const FitOptions& o, int& diagrams) {
  const double mean = std::accumulate(weights.begin(), weights.end(), 0.0) / static_cast<double>(weights.size());
  for (int pull = 0;; ++pull) {
    Evaluation e = evaluate(positions, weights, o, o.diagram);
    ++diagrams;
    if (smallest(e.masses) > 0) return e;
    if (pull == 60) {
      const std::size_t i = static_cast<std::size_t>(std::min_element(e.masses.begin(), e.masses.end()) -
                                                     e.masses.begin());
      throw std::range_error("seed " + std::to_string(i) +
                             "'s cell holds no mass even with equal weights (the density is 0 all over it): move "
                             "the seed where the density is positive, or give initial weights under which it has mass");
    }
    for (double& w : weights) w = pull == 59 ? mean : mean + 0.5 * (w - mean);
  }
}

}  // namespace

namespace detail {

std::vector<double> cell_masses(const PowerDiagram& diagram, const FitOptions& o) {
  if (!o.density) return diagram.areas;
  const std::vector<Moments> m = cell_moments(diagram, *o.density, *o.diagram.domain, diagram.threads);
  std::vector<double> masses(m.size());
  for (std::size_t i = 0; i < m.size(); ++i) masses[i] = m[i].mass;
  return masses;
}

}  // namespace detail

FitResult fit_weights(std::span<const double> positions, std::span<const double> targets,
                      std::span<const double> initial_weights, const FitOptions& options) {
  check_options(options);
  const std::size_t n = positions.size() / 2;
  if (positions.size() % 2 != 0) {
    throw std::invalid_argument("positions holds " + std::to_string(positions.size()) +
                                " values, not an even number (x then y for every seed)");
  }
  if (n == 0) throw std::invalid_argument("no seeds to fit");
  if (!initial_weights.empty() && initial_weights.size() != n) {
    throw std::invalid_argument(std::to_string(initial_weights.size()) + " initial weights for " +
                                std::to_string(n) + " seeds (give one per seed, or none)");
  }
  check_targets(targets, n, options);
  // A periodic diagram's edges name copies of seeds relative to the wrapped
  // positions, which the Newton matrix's distances need.
  std::vector<double> wrapped;
  if (options.diagram.periodic) {
    wrapped = periodic_positions(positions, *options.diagram.domain);  // leaves non-finite values be
    positions = wrapped;
  }
  check_positions(positions, *options.diagram.domain, options.diagram.periodic);
  FitOptions o = options;
  o.diagram.progress = nullptr;
  o.diagram.minimum_area = 0.0;  // the trials set their own

  auto clock = Clock::now();
  FitResult result;
  result.weights.assign(initial_weights.begin(), initial_weights.end());
  result.weights.resize(n, 0.0);
  FitIteration report;
  Evaluation current = start(positions, result.weights, o, report.diagrams);
  // Masses below this floor end a step's halving: half the smallest target
  // or starting mass keeps every cell, and the Newton matrix, healthy.
  const double floor = 0.5 * std::min(smallest(current.masses), *std::min_element(targets.begin(), targets.end()));
  auto record = [&](FitIteration r) {
    r.max_relative_error = max_relative_error(current.masses, targets);
    r.seconds = seconds_since(clock);
    result.history.push_back(r);
    if (o.on_iteration) o.on_iteration(r);
    clock = Clock::now();
    return r.max_relative_error;
  };
  double error = record(report);
  const std::vector<std::int32_t> rank = detail::curve_ranks(positions);
  detail::NewtonSolver solver(rank, current.diagram.threads);
  Eigen::SparseMatrix<double> h;  // the Newton matrix, its memory kept from one iteration to the next

  for (int iteration = 1; iteration <= o.max_iterations && error > o.tolerance; ++iteration) {
    FitIteration r;
    r.iteration = iteration;
    const auto solve_start = Clock::now();
    std::vector<double> rhs(n);
    for (std::size_t i = 0; i < n; ++i) rhs[i] = targets[i] - current.masses[i];
    // An inexact Newton step: the solve's residual adds about its relative
    // tolerance times the error to the next error. A tenth of the error
    // keeps that below the quadratic term; nearer the end, what keeps the
    // next error a hundredth of the fit's tolerance is enough.
    detail::mass_derivatives(current.diagram, positions, o.density, *o.diagram.domain, current.diagram.threads, rank,
                             h);
    const detail::NewtonStep newton =
        solver.solve(h, rhs, std::clamp(std::max(0.1 * error, 0.01 * o.tolerance / error), 1e-13, 1e-2));
    r.solver_iterations = newton.iterations;
    r.solve_seconds = seconds_since(solve_start);

    const double before = std::sqrt(squared_error(current.masses, targets));
    std::vector<double> trial(n);
    // A step that needed halving is likely to need it again: each trial
    // costs a diagram, so the next starts from twice the step taken.
    const double first = std::min(1.0, 2.0 * (result.history.back().step > 0 ? result.history.back().step : 1.0));
    const bool near = error < newton_region && std::any_of(result.history.begin(), result.history.end(),
                                                           [](const FitIteration& h) { return h.step == 1.0; });
    for (double tau = first;; tau *= 0.5) {
      if (tau < (near ? min_step_near : min_step)) {
        // The error is down to what the arithmetic resolves: the masses move
        // by rounding, not by the step. The best weights stand.
        result.stalled = true;
        break;
      }
      for (std::size_t i = 0; i < n; ++i) trial[i] = result.weights[i] + tau * newton.step[i];
      std::optional<Evaluation> next = evaluate_trial(positions, trial, o, floor);
      ++r.diagrams;
      if (next && smallest(next->masses) >= floor &&
          std::sqrt(squared_error(next->masses, targets)) <= (1.0 - 0.5 * tau) * before) {
        r.step = tau;
        current = std::move(*next);
        result.weights.swap(trial);
        break;
      }
    }
    error = record(r);  // a stalled iteration too, with step 0: its diagrams were spent
    if (result.stalled) break;
  }
  result.converged = error <= o.tolerance;
  result.diagram = std::move(current.diagram);
  result.masses = std::move(current.masses);
  return result;
}

}  // namespace vorn::host
