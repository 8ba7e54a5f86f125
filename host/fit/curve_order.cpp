#include "curve_order.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "../worker_threads.hpp"

namespace vorn::host::detail {

std::vector<std::int32_t> curve_ranks(std::span<const double> positions) {
  const std::size_t n = positions.size() / 2;
  double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
  for (std::size_t i = 0; i < 2 * n; ++i) {
    lo[i % 2] = std::min(lo[i % 2], positions[i]);
    hi[i % 2] = std::max(hi[i % 2], positions[i]);
  }
  constexpr std::uint32_t side = 1u << 16;
  auto cell = [&](std::size_t i, int axis) {
    const double extent = hi[axis] - lo[axis];
    const double t = extent > 0 ? (positions[2 * i + axis] - lo[axis]) / extent : 0.0;
    return static_cast<std::uint32_t>(std::clamp(t * side, 0.0, side - 1.0));
  };
  std::vector<std::pair<std::uint64_t, std::int32_t>> keys(n);
  for (std::size_t i = 0; i < n; ++i) {
    // The curve's index of grid cell (x, y), quadrant by quadrant from the
    // coarsest, each quadrant turned so that the curve stays continuous.
    std::uint32_t x = cell(i, 0), y = cell(i, 1);
    std::uint64_t d = 0;
    for (std::uint32_t s = side / 2; s > 0; s /= 2) {
      const std::uint32_t rx = (x & s) ? 1 : 0, ry = (y & s) ? 1 : 0;
      d += std::uint64_t{s} * s * ((3 * rx) ^ ry);
      if (ry == 0) {
        if (rx == 1) x = side - 1 - x, y = side - 1 - y;
        std::swap(x, y);
      }
    }
    keys[i] = {d, static_cast<std::int32_t>(i)};
  }
  std::sort(keys.begin(), keys.end());
  std::vector<std::int32_t> rank(n);
  for (std::size_t r = 0; r < n; ++r) rank[static_cast<std::size_t>(keys[r].second)] = static_cast<std::int32_t>(r);
  return rank;
}

std::vector<double> in_curve_order(std::span<const double> values, std::span<const std::int32_t> rank, int k) {
  std::vector<double> out(values.size());
  const std::size_t per = static_cast<std::size_t>(k);
  for (std::size_t i = 0; i < rank.size(); ++i) {
    std::copy_n(values.data() + per * i, per, out.data() + per * static_cast<std::size_t>(rank[i]));
  }
  return out;
}

std::vector<double> in_seed_order(const std::vector<double>& values, std::span<const std::int32_t> rank) {
  std::vector<double> out(rank.size());
  for (std::size_t i = 0; i < rank.size(); ++i) out[i] = values[static_cast<std::size_t>(rank[i])];
  return out;
}

PowerDiagram in_seed_order(const PowerDiagram& d, std::span<const std::int32_t> rank, int threads) {
  const std::size_t n = rank.size();
  std::vector<std::int32_t> seed(n);  // the seed at each place
  for (std::size_t i = 0; i < n; ++i) seed[static_cast<std::size_t>(rank[i])] = static_cast<std::int32_t>(i);
  PowerDiagram out;
  out.timings = d.timings;
  out.threads = d.threads;
  out.isa = d.isa;
  out.ghost_count = d.ghost_count;
  out.band_x = d.band_x, out.band_y = d.band_y;
  out.band_growths = d.band_growths;
  out.cell_begin.assign(n + 1, 0);
  for (std::size_t i = 0; i < n; ++i) out.cell_begin[i + 1] = out.cell_begin[i] + d.vertex_count(rank[i]);
  const std::size_t total = static_cast<std::size_t>(out.cell_begin[n]);
  out.xs.resize(total), out.ys.resize(total), out.neighbours.resize(total);
  out.neighbour_shifts.resize(d.neighbour_shifts.empty() ? 0 : 2 * total);
  out.areas.resize(n), out.centroid_x.resize(n), out.centroid_y.resize(n), out.empty.resize(n), out.unbounded.resize(n);
  constexpr std::size_t block = 4096;
  for_each_index((n + block - 1) / block, threads, [&](std::size_t b) {
    for (std::size_t i = b * block; i < std::min(n, b * block + block); ++i) {
      const std::size_t r = static_cast<std::size_t>(rank[i]);
      const auto from = static_cast<std::size_t>(d.cell_begin[r]), to = static_cast<std::size_t>(out.cell_begin[i]);
      const std::size_t count = static_cast<std::size_t>(d.vertex_count(static_cast<std::int64_t>(r)));
      std::copy_n(d.xs.data() + from, count, out.xs.data() + to);
      std::copy_n(d.ys.data() + from, count, out.ys.data() + to);
      for (std::size_t k = 0; k < count; ++k) {
        const std::int32_t j = d.neighbours[from + k];
        out.neighbours[to + k] = j < 0 ? j : seed[static_cast<std::size_t>(j)];
      }
      if (!d.neighbour_shifts.empty()) {
        std::copy_n(d.neighbour_shifts.data() + 2 * from, 2 * count, out.neighbour_shifts.data() + 2 * to);
      }
      out.areas[i] = d.areas[r];
      out.centroid_x[i] = d.centroid_x[r];
      out.centroid_y[i] = d.centroid_y[r];
      out.empty[i] = d.empty[r];
      out.unbounded[i] = d.unbounded[r];
    }
  });
  return out;
}

}  // namespace vorn::host::detail
