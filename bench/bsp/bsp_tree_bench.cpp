// A whole BSP tree over 10^6 uniform weighted 2-D points, leaf_size 16:
//   UnitTree           the units through their exported entry, on the runtime's
//                      pool (all cores, or VORN_NUM_THREADS);
//   KernelTreeOneThread the same kernel steps in-process on one thread, with the
//                      time split into clearing, box (the pass that also gathers
//                      the majorant's statistics), the rest of the majorant,
//                      selection, gather;
//   NthElementTree     a plain std::nth_element median-split builder, one thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <vector>

#include "bsp_build_level.hpp"
#include "bsp_unit_types.hpp"
#include "vorn/host/bsp_tree.hpp"

namespace vorn {
namespace {

constexpr long long point_count = 1'000'000;
constexpr long long leaf_size = 16;

struct Input {
  std::vector<double> positions, weights;
};

const Input& input() {
  static const Input in = [] {
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Input c;
    for (long long k = 0; k < 2 * point_count; ++k) c.positions.push_back(u(rng));
    for (long long k = 0; k < point_count; ++k) c.weights.push_back(0.1 * u(rng));
    return c;
  }();
  return in;
}

void UnitTree(benchmark::State& state) {
  for (auto _ : state) {
    auto tree = host::build_bsp_tree(host::BspUnit::weighted_2d, input().positions, input().weights, leaf_size);
    benchmark::DoNotOptimize(tree.ids.data());
  }
}
BENCHMARK(UnitTree)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- the kernel steps in-process, phase by phase over each level ----

using Space = CpuKernelMemorySpace;
using Cloud = bsp::Unit<2, true, false, Space>::Cloud<bsp::AbsentCount>;
using Order = bsp::Vector<long long, Space, _num_point>;

template <class View, class T>
View view_of(T* data, long long n) {
  View v{};
  v.shape.template set<0>(n);
  v.data = data;
  return v;
}

struct CloudBuffers {
  std::vector<double> positions, weights;
  std::vector<long long> ids;
  Cloud view() {
    const long long n = static_cast<long long>(ids.size());
    return {view_of<bsp::Positions<2, Space>>(positions.data(), n),
            view_of<bsp::Vector<double, Space, _num_point>>(weights.data(), n),
            view_of<bsp::Vector<long long, Space, _num_point>>(ids.data(), n), {}, {}};
  }
};

struct Phases {
  double fill = 0, box = 0, majorant = 0, select = 0, gather = 0;
};

template <class F>
void timed(double& total, F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Level {
  std::vector<long long> begin, end, split;
  std::vector<double> box, gradient, offset;
};

// One level, each phase over every node before the next: per node the same
// steps, in the same order, as bsp_build_level.
void kernel_level(CloudBuffers& in, CloudBuffers& out, std::vector<long long>& order_buf, Level& lv, Phases& t) {
  const std::size_t m = lv.begin.size();
  timed(t.fill, [&] {
    std::fill(out.positions.begin(), out.positions.end(), 0.0);
    std::fill(out.weights.begin(), out.weights.end(), 0.0);
    std::fill(out.ids.begin(), out.ids.end(), 0);
    std::fill(order_buf.begin(), order_buf.end(), 0);
    lv.split.assign(m, 0);
    lv.box.assign(4 * m, 0.0);
    lv.gradient.assign(2 * m, 0.0);
    lv.offset.assign(m, 0.0);
  });
  const Cloud src = in.view(), dst = out.view();
  const Order order = view_of<Order>(order_buf.data(), static_cast<long long>(order_buf.size()));
  const auto gradients = view_of<bsp::Gradients<2, Space>>(lv.gradient.data(), static_cast<long long>(m));
  const auto offsets = view_of<bsp::Vector<double, Space, _batch_0>>(lv.offset.data(), static_cast<long long>(m));
  std::vector<int> axis(m);
  std::vector<detail::MajorantStats> stats(m);
  timed(t.box, [&] {
    for (std::size_t b = 0; b < m; ++b) {
      lv.split[b] = lv.end[b];
      if (lv.begin[b] >= lv.end[b]) continue;
      stats[b] = detail::majorant_stats(src.positions, src.weights, lv.begin[b], lv.end[b]);
      const auto box = bsp::box_of_stats(stats[b]);
      std::copy_n(box.lo.data(), 2, &lv.box[4 * b]);
      std::copy_n(box.hi.data(), 2, &lv.box[4 * b + 2]);
      axis[b] = bsp::split_axis<2>(box);
    }
  });
  timed(t.majorant, [&] {
    for (std::size_t b = 0; b < m; ++b) {
      if (lv.begin[b] >= lv.end[b]) continue;
      detail::weight_majorant_from_stats(stats[b], src.positions, src.weights, lv.begin[b], lv.end[b], gradients[b],
                                         offsets[b]);
    }
  });
  timed(t.select, [&] {
    for (std::size_t b = 0; b < m; ++b) {
      const long long lo = lv.begin[b], hi = lv.end[b];
      if (lo >= hi) continue;
      bsp::identity_order(order, lo, hi);
      if (hi - lo > leaf_size && lv.box[4 * b + 2 + axis[b]] > lv.box[4 * b + axis[b]]) {
        lv.split[b] = lo + (hi - lo) / 2;
        bsp::select_median(src.positions, dst.positions, order, lo, hi, lv.split[b], axis[b]);
      }
    }
  });
  timed(t.gather, [&] {
    for (std::size_t b = 0; b < m; ++b) {
      if (lv.begin[b] < lv.end[b]) bsp::gather_points<2>(src, dst, order, lv.begin[b], lv.end[b]);
    }
  });
}

// The whole tree level by level; returns the ids in tree order.
std::vector<long long> kernel_tree(Phases& t) {
  const long long n = point_count;
  CloudBuffers in{input().positions, input().weights, std::vector<long long>(n)};
  for (long long k = 0; k < n; ++k) in.ids[k] = k;
  CloudBuffers out{std::vector<double>(2 * n), std::vector<double>(n), std::vector<long long>(n)};
  std::vector<long long> order(n);
  std::vector<Level> levels;
  Level lv{{0}, {n}, {}, {}, {}, {}};
  for (;;) {
    kernel_level(in, out, order, lv, t);
    std::swap(in, out);
    levels.push_back(lv);
    if (std::equal(lv.split.begin(), lv.split.end(), lv.end.begin())) break;
    Level next;
    for (std::size_t b = 0; b < lv.begin.size(); ++b) {
      next.begin.insert(next.begin.end(), {lv.begin[b], lv.split[b]});
      next.end.insert(next.end.end(), {lv.split[b], lv.end[b]});
    }
    lv = std::move(next);
  }
  benchmark::DoNotOptimize(levels.data());
  return in.ids;
}

void KernelTreeOneThread(benchmark::State& state) {
  Phases t;
  const auto expected = host::build_bsp_tree(host::BspUnit::weighted_2d, input().positions, input().weights,
                                             leaf_size).ids;
  for (auto _ : state) {
    if (kernel_tree(t) != expected) state.SkipWithError("in-process order differs from the unit's");
  }
  const auto per_iteration = benchmark::Counter::kAvgIterations;
  state.counters["fill_s"] = benchmark::Counter(t.fill, per_iteration);
  state.counters["box_s"] = benchmark::Counter(t.box, per_iteration);
  state.counters["majorant_s"] = benchmark::Counter(t.majorant, per_iteration);
  state.counters["select_s"] = benchmark::Counter(t.select, per_iteration);
  state.counters["gather_s"] = benchmark::Counter(t.gather, per_iteration);
}
BENCHMARK(KernelTreeOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- baseline: std::nth_element on an array of points, depth first ----

struct Point {
  double x[2];
  double w;
  long long id;
};

struct BaselineNode {
  long long begin, end;
  std::array<double, 4> box;
};

void nth_element_node(std::vector<Point>& p, long long b, long long e, std::vector<BaselineNode>& nodes) {
  std::array<double, 4> box{p[b].x[0], p[b].x[1], p[b].x[0], p[b].x[1]};
  for (long long k = b; k < e; ++k) {
    for (int j = 0; j < 2; ++j) {
      box[j] = std::min(box[j], p[k].x[j]);
      box[2 + j] = std::max(box[2 + j], p[k].x[j]);
    }
  }
  nodes.push_back({b, e, box});
  if (e - b <= leaf_size) return;
  const int axis = box[3] - box[1] > box[2] - box[0] ? 1 : 0;
  const long long mid = b + (e - b) / 2;
  std::nth_element(p.begin() + b, p.begin() + mid, p.begin() + e,
                   [axis](const Point& l, const Point& r) { return l.x[axis] < r.x[axis]; });
  nth_element_node(p, b, mid, nodes);
  nth_element_node(p, mid, e, nodes);
}

void NthElementTree(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<Point> p(point_count);
    for (long long k = 0; k < point_count; ++k) {
      p[k] = {{input().positions[2 * k], input().positions[2 * k + 1]}, input().weights[k], k};
    }
    std::vector<BaselineNode> nodes;
    nodes.reserve(1 << 18);
    nth_element_node(p, 0, point_count, nodes);
    benchmark::DoNotOptimize(nodes.data());
  }
}
BENCHMARK(NthElementTree)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vorn
