// Cells per second of unit_cell_engine_2d: 10^6 seeds uniform in the unit
// square with weights below 1e-8, the tree built once, one engine call per
// seed from the unit box, on one thread and on every core (seeds split in
// contiguous blocks), for every build of the library this CPU runs
// (benchmarks named after the build's level, so that levels compare in one
// run). The raw baseline clips the box, in plain scalar code,
// by as many bisectors per cell as the engine's provider yields on average,
// taken from the seed's tree neighbours: the cost of the cuts alone, without
// the traversal. Counters per cell come from a counting build of the engine.
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cell_work.hpp"
#include "vorn/build_isa.hpp"
#include "vorn/engine/cell_engine.hpp"
#include "vorn/engine/engine_entry_names.hpp"
#include "vorn/host/unit_library.hpp"

namespace {

using vorn::test::SeedTree;
using vorn::test::WeightedPoint;

constexpr long long seed_count = 1'000'000;

SeedTree const& seed_tree() {
  static SeedTree const tree = [] {
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> u(0, 1), w(0, 1e-8);
    std::vector<WeightedPoint> p;
    p.reserve(seed_count);
    for (long long i = 0; i < seed_count; ++i) p.push_back({u(rng), u(rng), w(rng)});
    return SeedTree(std::move(p), SeedTree::levels_for(seed_count, 8));
  }();
  return tree;
}

template <class T>
struct CellArrays {
  static constexpr int capacity = 64;
  std::vector<T> a = std::vector<T>(9 * capacity);
  std::vector<std::int32_t> ids = std::vector<std::int32_t>(capacity);

  vorn::Local2<T>& unit_box() {
    T* p = a.data();
    cell = {4, capacity, false, false, p, p + 64, ids.data(), p + 128, p + 192, p + 256, p + 320, p + 384, p + 448};
    p[0] = 0, p[1] = 1, p[2] = 1, p[3] = 0;
    p[64] = 0, p[65] = 0, p[66] = 1, p[67] = 1;
    ids[0] = -1, ids[1] = -2, ids[2] = -3, ids[3] = -4;
    return cell;
  }
  vorn::Local2<T> cell{};
};

// engine_run of one build of the library, for one cell type.
template <class T>
using EngineRun = int (*)(vorn::Local2<T>&, vorn::engine::WeightedSeeds2 const&, long long);

template <class T>
EngineRun<T> load_engine_run(std::string const& level) {
  auto const path = vorn::host::unit_directory() / "vorn" / level / "libunit_cell_engine_2d.so";
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error("cannot load " + path.string() + ": " + dlerror());
  void* run = dlsym(handle, sizeof(T) == 4 ? vorn::engine::engine_run_float_symbol : vorn::engine::engine_run_double_symbol);
  if (run == nullptr) throw std::runtime_error(path.string() + ": engine_run not exported");
  return reinterpret_cast<EngineRun<T>>(run);
}

template <class T>
long long run_block(EngineRun<T> run, vorn::engine::WeightedSeeds2 const& seeds, long long first, long long last) {
  CellArrays<T> arrays;
  long long vertices = 0;
  for (long long s = first; s < last; ++s) {
    auto& cell = arrays.unit_box();
    run(cell, seeds, s);
    vertices += cell.vertex_count;
  }
  return vertices;
}

template <class T>
void BM_EngineCells(benchmark::State& state, EngineRun<T> run) {
  auto const& seeds = seed_tree().seeds();
  int const threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<long long> vertices(threads);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back([&, t] {
        vertices[t] = run_block<T>(run, seeds, seed_count * t / threads, seed_count * (t + 1) / threads);
      });
    }
    for (auto& th : pool) th.join();
    benchmark::DoNotOptimize(vertices.data());
  }
  state.SetItemsProcessed(state.iterations() * seed_count);
  state.counters["cells_per_s_per_thread"] =
      benchmark::Counter(static_cast<double>(state.iterations() * seed_count) / threads, benchmark::Counter::kIsRate);
}

// Scalar clip of the box by `planes` bisectors of the seed with its tree
// neighbours k + 1, k - 1, k + 2, ...: Sutherland-Hodgman into a second buffer.
template <class T>
int raw_clip_cell(vorn::engine::WeightedSeeds2 const& seeds, long long k, int planes, T* x, T* y, T* x2, T* y2) {
  int n = 4;
  x[0] = 0, x[1] = 1, x[2] = 1, x[3] = 0;
  y[0] = 0, y[1] = 0, y[2] = 1, y[3] = 1;
  double const ax = seeds.positions(k, 0), ay = seeds.positions(k, 1), aw = seeds.weights(k);
  for (int p = 0; p < planes && n > 0; ++p) {
    long long const b = k + ((p & 1) ? -(p / 2 + 1) : (p / 2 + 1));
    if (b < 0 || b >= seed_count) continue;
    double const bx = seeds.positions(b, 0), by = seeds.positions(b, 1), bw = seeds.weights(b);
    T const nx = T(bx - ax), ny = T(by - ay);
    T const c = T(((aw - bw) * 0.5 + ((bx - ax) * (bx + ax)) * 0.5) + ((by - ay) * (by + ay)) * 0.5);
    int m = 0;
    for (int i = 0, j = n - 1; i < n; j = i++) {
      T const vj = nx * x[j] + ny * y[j] - c, vi = nx * x[i] + ny * y[i] - c;
      if ((vj > 0) != (vi > 0)) {
        T const t = vj / (vj - vi);
        x2[m] = x[j] + t * (x[i] - x[j]), y2[m] = y[j] + t * (y[i] - y[j]), ++m;
      }
      if (vi <= 0) x2[m] = x[i], y2[m] = y[i], ++m;
    }
    std::copy(x2, x2 + m, x), std::copy(y2, y2 + m, y), n = m;
  }
  return n;
}

template <class T>
void BM_RawClipBaseline(benchmark::State& state) {
  auto const& seeds = seed_tree().seeds();
  int const planes = static_cast<int>(std::lround(vorn::bench::count_cell_work<T>(seed_tree(), 20'000).planes));
  std::vector<T> x(64), y(64), x2(64), y2(64);
  long long k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(raw_clip_cell(seeds, k, planes, x.data(), y.data(), x2.data(), y2.data()));
    k = k + 1 == seed_count ? 0 : k + 1;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["planes_per_cell"] = planes;
}

template <class T>
void BM_CellWork(benchmark::State& state) {
  vorn::bench::CellWork w{};
  for (auto _ : state) w = vorn::bench::count_cell_work<T>(seed_tree(), 100'000);
  state.counters["planes"] = w.planes;
  state.counters["node_tests"] = w.node_tests;
  state.counters["pruned"] = w.pruned;
  state.counters["group_tests"] = w.group_tests;
}

int const cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

// One engine benchmark per cell type and per build of the library this CPU
// runs; a build it cannot run is named on standard error.
bool register_engine_builds() {
  for (auto const& build : vorn::build::library_builds) {
    if (build.library != "unit_cell_engine_2d") continue;
    std::string const level(build.level);
    try {
      vorn::host::library_path(build.library, vorn::host::isa_level_named(level));
      vorn::host::require_isa_level(vorn::host::isa_level_named(level));
    } catch (std::exception const& e) {
      std::fprintf(stderr, "engine_run_bench: skipping the %s build: %s\n", level.c_str(), e.what());
      continue;
    }
    auto const cells = [&](char const* type, auto run) {
      benchmark::RegisterBenchmark(("BM_EngineCells<" + std::string(type) + ">/" + level).c_str(),
                                   [run](benchmark::State& state) { BM_EngineCells(state, run); })
          ->Arg(1)->Arg(cores)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
    };
    cells("double", load_engine_run<double>(level));
    cells("float", load_engine_run<float>(level));
  }
  return true;
}
bool const engine_builds_registered = register_engine_builds();

BENCHMARK(BM_RawClipBaseline<double>);
BENCHMARK(BM_RawClipBaseline<float>);
BENCHMARK(BM_CellWork<double>)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CellWork<float>)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
