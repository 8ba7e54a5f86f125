// Cuts per second of the cell polygon, next to a raw scalar clip loop that
// computes the same polygon, so that every figure reads as a ratio.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "engine/cell.hpp"

namespace {

// A regular n-gon of radius 1 and the plane x <= 0.6, which removes the
// vertices around angle 0 and so exercises a wrapping run.
template <class T>
struct Scene {
  int n;
  std::vector<T> xs0, ys0, xs, ys, nx, ny, offset, dists, gdx, gdy, out_x, out_y;
  std::vector<std::int32_t> ids0, ids, out_ids;
  vorn::Plane<T, 2> plane{{T(1), T(0)}, T(0.6), 7};

  explicit Scene(int vertices) : n(vertices) {
    int const capacity = n + 2;
    for (auto* a : {&xs, &ys, &nx, &ny, &offset, &dists, &gdx, &gdy, &out_x, &out_y}) a->assign(capacity, T(0));
    ids.assign(capacity, 0);
    out_ids.assign(capacity, 0);
    for (int i = 0; i < n; ++i) {
      double const a = 2 * std::numbers::pi * i / n;
      xs0.push_back(T(std::cos(a)));
      ys0.push_back(T(std::sin(a)));
      ids0.push_back(i);
    }
  }

  vorn::Local2<T> cell() {
    return {n,          n + 2,     false,     false,         xs.data(),    ys.data(),
            ids.data(), nx.data(), ny.data(), offset.data(), dists.data(), gdx.data(),
            gdy.data()};
  }

  void restore() {
    std::copy(xs0.begin(), xs0.end(), xs.begin());
    std::copy(ys0.begin(), ys0.end(), ys.begin());
    std::copy(ids0.begin(), ids0.end(), ids.begin());
  }
};

// Clip of a convex polygon into separate output arrays, one scalar pass with
// the engine's arithmetic; no run search and no in-place moves.
template <class T>
int raw_clip(Scene<T>& s) {
  auto const& p = s.plane;
  auto value = [&](int i) { return std::fma(p.normal[0], s.xs[i], p.normal[1] * s.ys[i]) - p.offset; };
  int m = 0;
  T va = value(s.n - 1);
  for (int j = s.n - 1, i = 0; i < s.n; j = i, ++i) {
    T const vb = value(i);
    if ((va > 0) != (vb > 0)) {
      int const in = va > 0 ? i : j, out = va > 0 ? j : i;
      T const vi = va > 0 ? vb : va, vo = va > 0 ? va : vb;
      T const t = vi / (vi - vo);
      s.out_x[m] = std::fma(s.xs[out] - s.xs[in], t, s.xs[in]);
      s.out_y[m] = std::fma(s.ys[out] - s.ys[in], t, s.ys[in]);
      s.out_ids[m++] = va > 0 ? s.ids[j] : p.cut_id;
    }
    if (!(vb > 0)) {
      s.out_x[m] = s.xs[i];
      s.out_y[m] = s.ys[i];
      s.out_ids[m++] = s.ids[i];
    }
    va = vb;
  }
  return m;
}

template <class T>
void BM_cut(benchmark::State& state) {
  Scene<T> s(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    s.restore();
    vorn::Local2<T> c = s.cell();
    benchmark::DoNotOptimize(c.cut(s.plane));
    benchmark::DoNotOptimize(c.vertex_count);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(vorn::simd::backend_name);
}

template <class T>
void BM_raw_clip_baseline(benchmark::State& state) {
  Scene<T> s(static_cast<int>(state.range(0)));
  s.restore();
  vorn::Local2<T> c = s.cell();
  bool const cut = c.cut(s.plane) == vorn::cut_result::cut;
  s.restore();
  if (!cut || raw_clip(s) != c.vertex_count) {
    state.SkipWithError("baseline and cut disagree on the vertex count");
    return;
  }
  for (auto _ : state) {
    s.restore();
    benchmark::DoNotOptimize(raw_clip(s));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK_TEMPLATE(BM_cut, float)->Arg(4)->Arg(8)->Arg(16)->Arg(64);
BENCHMARK_TEMPLATE(BM_raw_clip_baseline, float)->Arg(4)->Arg(8)->Arg(16)->Arg(64);
BENCHMARK_TEMPLATE(BM_cut, double)->Arg(4)->Arg(8)->Arg(16)->Arg(64);
BENCHMARK_TEMPLATE(BM_raw_clip_baseline, double)->Arg(4)->Arg(8)->Arg(16)->Arg(64);

}  // namespace
