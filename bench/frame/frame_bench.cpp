// Image mass per voxel against a bare sequential sum, and pool overhead of a
// fill through the queue against a plain std::fill, each pair in one binary.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "../../tests/support/mass_call.hpp"
#include "vorn/queue/queue.hpp"

namespace {

constexpr long long side = 256;

vorn::testing::MassCall& image() {
  static vorn::testing::MassCall call = [] {
    vorn::testing::MassCall c(side, side, side);
    std::iota(c.values.begin(), c.values.end(), 0.0);
    for (double& v : c.values) v = v * 1e-7 - 0.5;
    return c;
  }();
  return call;
}

void image_mass_unit(benchmark::State& state) {
  static const vorn::host::UnitLibrary unit(vorn::units::unit_image_mass_3d.library,
                                            vorn::units::unit_image_mass_3d.symbol);
  auto& call = image();
  for (auto _ : state) {
    call.run(unit);
    benchmark::DoNotOptimize(call.mass);
  }
  state.counters["ns_per_voxel"] = benchmark::Counter(static_cast<double>(call.values.size()),
                                                      benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}
BENCHMARK(image_mass_unit)->Unit(benchmark::kMillisecond);

void image_sum_baseline(benchmark::State& state) {
  auto& call = image();
  for (auto _ : state) {
    double sum = 0.0;
    for (const double v : call.values) sum += v;
    benchmark::DoNotOptimize(sum);
  }
  state.counters["ns_per_voxel"] = benchmark::Counter(static_cast<double>(call.values.size()),
                                                      benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}
BENCHMARK(image_sum_baseline)->Unit(benchmark::kMillisecond);

constexpr long long fill_count = 10'000'000;
using Flat = vorn::TensorView<double, vorn::Tuple<long long>, vorn::CpuHostMemorySpace, vorn::Tuple<vorn::_num_point>,
                              vorn::Tuple<vorn::Ct<int, 8>>>;

void fill_through_queue(benchmark::State& state) {
  std::vector<double> buffer(fill_count, 1.0);
  vorn::CpuQueue queue{vorn::cpu_thread_pool()};
  vorn::Tuple<long long> shape{};
  shape.set<0>(fill_count);
  const auto view = vorn::make_dense_view<Flat>(buffer.data(), shape);
  for (auto _ : state) {
    vorn::QueueEvent done = view.fill_with(queue, 0.0);
    benchmark::ClobberMemory();
  }
  state.counters["ns_per_element"] = benchmark::Counter(static_cast<double>(fill_count),
                                                        benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
  state.counters["threads"] = vorn::cpu_thread_pool().thread_count();
}
BENCHMARK(fill_through_queue)->Unit(benchmark::kMillisecond)->UseRealTime();

void fill_baseline(benchmark::State& state) {
  std::vector<double> buffer(fill_count, 1.0);
  for (auto _ : state) {
    std::fill(buffer.begin(), buffer.end(), 0.0);
    benchmark::ClobberMemory();
  }
  state.counters["ns_per_element"] = benchmark::Counter(static_cast<double>(fill_count),
                                                        benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
}
BENCHMARK(fill_baseline)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
