// Whole power diagrams through the host API, as vorn-power computes them
// without output files: 10^6 weighted seeds on all threads and on one, with
// the time of each phase and the cell rate as counters; and, for a ratio, a
// raw-loop baseline that clips the box by every other seed's half-plane,
// next to the API on the same small seed set; and the periodic diagram of
// the same seeds against the box diagram.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <random>
#include <vector>

#include "vorn/host/power_diagram.hpp"

namespace {

struct Seeds {
  std::vector<double> positions, weights;
};

// vorn-power's generated set: uniform in the unit square, weights uniform
// in [0, 0.8/n).
Seeds generated(std::size_t n) {
  std::mt19937_64 rng(1);
  auto unit = [&rng] { return static_cast<double>(rng() >> 11) * 0x1.0p-53; };
  Seeds s{std::vector<double>(2 * n), std::vector<double>(n)};
  for (std::size_t i = 0; i < n; ++i) {
    s.positions[2 * i] = unit();
    s.positions[2 * i + 1] = unit();
    s.weights[i] = 0.8 / static_cast<double>(n) * unit();
  }
  return s;
}

void diagram(benchmark::State& state, int threads) {
  const Seeds s = generated(static_cast<std::size_t>(state.range(0)));
  vorn::host::PowerDiagramOptions options;
  options.threads = threads;
  vorn::host::PowerDiagramTimings total;
  for (auto _ : state) {
    const auto d = vorn::host::power_diagram(s.positions, s.weights, options);
    benchmark::DoNotOptimize(d.areas.data());
    total.tree += d.timings.tree;
    total.cells += d.timings.cells;
    total.assemble += d.timings.assemble;
    state.counters["threads"] = d.threads;
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["tree_ms"] = 1e3 * total.tree / runs;
  state.counters["cells_ms"] = 1e3 * total.cells / runs;
  state.counters["assemble_ms"] = 1e3 * total.assemble / runs;
  state.counters["cells_per_s"] = static_cast<double>(state.range(0)) * runs / total.cells;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_PowerDiagramAllThreads(benchmark::State& state) { diagram(state, 0); }

// The periodic diagram of the same seeds in the unit square as the period
// box, next to the box diagram in each iteration, so that the counter
// periodic_over_box is the ratio of the two on the same seeds in the same
// run; ghost_fraction is the copies per seed and band_growths how often the
// band was doubled.
void BM_PeriodicOverBox(benchmark::State& state) {
  const Seeds s = generated(static_cast<std::size_t>(state.range(0)));
  vorn::host::PowerDiagramOptions box;
  vorn::host::PowerDiagramOptions periodic;
  periodic.periodic = true;
  double box_seconds = 0.0, periodic_seconds = 0.0;
  vorn::host::PowerDiagramTimings box_phases, periodic_phases;
  const auto add = [](vorn::host::PowerDiagramTimings& to, const vorn::host::PowerDiagramTimings& t) {
    to.tree += t.tree, to.cells += t.cells, to.assemble += t.assemble;
    return t.tree + t.cells + t.assemble;
  };
  // Processor time of the whole process, all threads: on a machine that
  // others share, it tells the work apart from the waiting.
  const auto cpu_now = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
  };
  double box_cpu = 0.0, periodic_cpu = 0.0;
  for (auto _ : state) {
    double cpu = cpu_now();
    const auto b = vorn::host::power_diagram(s.positions, s.weights, box);
    box_cpu += cpu_now() - cpu;
    cpu = cpu_now();
    const auto p = vorn::host::power_diagram(s.positions, s.weights, periodic);
    periodic_cpu += cpu_now() - cpu;
    benchmark::DoNotOptimize(p.areas.data());
    box_seconds += add(box_phases, b.timings);
    periodic_seconds += add(periodic_phases, p.timings);
    state.counters["ghost_fraction"] = static_cast<double>(p.ghost_count) / static_cast<double>(state.range(0));
    state.counters["band_growths"] = p.band_growths;
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["box_ms"] = 1e3 * box_seconds / runs;
  state.counters["periodic_ms"] = 1e3 * periodic_seconds / runs;
  state.counters["periodic_over_box"] = periodic_seconds / box_seconds;
  state.counters["cpu_periodic_over_box"] = periodic_cpu / box_cpu;
  state.counters["box_tree_ms"] = 1e3 * box_phases.tree / runs;
  state.counters["box_cells_ms"] = 1e3 * box_phases.cells / runs;
  state.counters["box_assemble_ms"] = 1e3 * box_phases.assemble / runs;
  state.counters["periodic_tree_ms"] = 1e3 * periodic_phases.tree / runs;
  state.counters["periodic_cells_ms"] = 1e3 * periodic_phases.cells / runs;
  state.counters["periodic_assemble_ms"] = 1e3 * periodic_phases.assemble / runs;
}
void BM_PowerDiagramOneThread(benchmark::State& state) { diagram(state, 1); }

// Raw loop: every seed's cell as the unit square clipped by all n - 1
// bisector half-planes, one after another (O(n^2)); the polygon's area is
// kept so that nothing is optimised away.
void BM_BruteForceClipping(benchmark::State& state) {
  const Seeds s = generated(static_cast<std::size_t>(state.range(0)));
  const std::size_t n = s.weights.size();
  std::vector<std::array<double, 2>> poly, kept;
  for (auto _ : state) {
    double total_area = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      poly = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
      const double ax = s.positions[2 * i], ay = s.positions[2 * i + 1];
      for (std::size_t j = 0; j < n && !poly.empty(); ++j) {
        if (j == i) continue;
        const double bx = s.positions[2 * j], by = s.positions[2 * j + 1];
        const double nx = 2 * (bx - ax), ny = 2 * (by - ay);
        const double c = bx * bx + by * by - ax * ax - ay * ay - s.weights[j] + s.weights[i];
        kept.clear();
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
        poly.swap(kept);
      }
      for (std::size_t k = 0; k < poly.size(); ++k) {
        total_area += poly[k][0] * poly[(k + 1) % poly.size()][1] - poly[(k + 1) % poly.size()][0] * poly[k][1];
      }
    }
    benchmark::DoNotOptimize(total_area);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_PowerDiagramAllThreads)->Arg(1'000'000)->Arg(2'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PowerDiagramOneThread)->Arg(1'000'000)->Arg(2'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PeriodicOverBox)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BruteForceClipping)->Arg(2'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
