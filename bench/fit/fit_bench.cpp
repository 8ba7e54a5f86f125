// Weights fitted to equal areas in the unit square, uniform density:
// uniform and clustered seed sets of 10^4 to 10^6 seeds on all threads, and
// uniform ones on the torus of the square. Each
// run reports the Newton iterations and diagrams to 1e-6 and to 1e-9
// largest relative error, the time of the linear solves, and, as the
// baseline of the ratio, one plain diagram of the same seeds in the same
// run (fit_over_diagram: the fit's time in diagram evaluations).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "vorn/host/fit_weights.hpp"

namespace {

std::vector<double> uniform(std::size_t n) {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> p(2 * n);
  for (double& v : p) v = unit(rng);
  return p;
}

// Three tight clusters holding three quarters of the seeds, the rest uniform.
std::vector<double> clustered(std::size_t n) {
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> spread(0.0, 0.04);
  const double centres[][2] = {{0.25, 0.3}, {0.7, 0.7}, {0.55, 0.2}};
  std::vector<double> p(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    const bool far = i % 4 == 0;
    p[2 * i] = std::clamp(far ? unit(rng) : centres[i % 3][0] + spread(rng), 0.0, 1.0);
    p[2 * i + 1] = std::clamp(far ? unit(rng) : centres[i % 3][1] + spread(rng), 0.0, 1.0);
  }
  return p;
}

double seconds_of(auto&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

enum class Set { uniform, clustered, periodic };

void fit(benchmark::State& state, Set set) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<double> p = set == Set::clustered ? clustered(n) : uniform(n);
  const std::vector<double> targets(n, 1.0 / static_cast<double>(n));
  vorn::host::FitOptions o;
  o.diagram.periodic = set == Set::periodic;
  vorn::host::FitResult r;
  double diagram_seconds = 0.0, fit_seconds = 0.0;
  for (auto _ : state) {
    diagram_seconds = seconds_of([&] { benchmark::DoNotOptimize(vorn::host::power_diagram(p, {}, o.diagram)); });
    fit_seconds = seconds_of([&] { r = vorn::host::fit_weights(p, targets, {}, o); });
  }
  int diagrams = 0, to_1e6 = -1, diagrams_to_1e6 = -1;
  double solve = 0.0;
  for (const vorn::host::FitIteration& it : r.history) {
    diagrams += it.diagrams;
    solve += it.solve_seconds;
    if (to_1e6 < 0 && it.max_relative_error <= 1e-6) to_1e6 = it.iteration, diagrams_to_1e6 = diagrams;
  }
  state.counters["converged"] = r.converged;
  state.counters["newton_to_1e-6"] = to_1e6;
  state.counters["diagrams_to_1e-6"] = diagrams_to_1e6;
  state.counters["newton_to_1e-9"] = r.history.back().iteration;
  state.counters["diagrams_to_1e-9"] = diagrams;
  state.counters["fit_s"] = fit_seconds;
  state.counters["solve_s"] = solve;
  state.counters["diagram_s"] = diagram_seconds;
  state.counters["fit_over_diagram"] = fit_seconds / diagram_seconds;
  state.counters["solve_over_diagram"] = solve / diagram_seconds / std::max(1, r.history.back().iteration);
}

}  // namespace

BENCHMARK_CAPTURE(fit, uniform, Set::uniform)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(fit, clustered, Set::clustered)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(fit, periodic, Set::periodic)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kSecond);
