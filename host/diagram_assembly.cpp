#include "diagram_assembly.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <string>

#include "huge_pages.hpp"
#include "worker_threads.hpp"

namespace vorn::host::detail {

// The engine's view of a finished tree; the tree keeps the arrays alive.
engine::WeightedSeeds2 seed_set(const BspTree& tree) {
  constexpr std::int64_t f64 = sizeof(double);
  constexpr std::int64_t i64 = sizeof(long long);
  const std::int64_t n = tree.point_count();
  const std::int64_t m = tree.node_count();
  engine::WeightedSeeds2 s{};
  s.positions = {tree.positions.data(), {2 * f64, f64}, {n, 2}};
  s.weights = {tree.weights.data(), {f64}, {n}};
  s.node_begin = {tree.node_begin.data(), {i64}, {m}};
  s.node_end = {tree.node_end.data(), {i64}, {m}};
  s.node_box = {tree.node_box.data(), {4 * f64, 2 * f64, f64}, {m, 2, 2}};
  s.majorant_gradient = {tree.majorant_gradient.data(), {2 * f64, f64}, {m, 2}};
  s.majorant_offset = {tree.majorant_offset.data(), {f64}, {m}};
  return s;
}

namespace {

// A hash of a position, equal for equal positions (-0 and +0 alike), in
// [0, 2^bits).
std::size_t position_hash(double x, double y, int bits) {
  const std::uint64_t hx = std::bit_cast<std::uint64_t>(x + 0.0);
  const std::uint64_t hy = std::bit_cast<std::uint64_t>(y + 0.0);
  const std::uint64_t mixed = (hx * 0x9e3779b97f4a7c15ull) ^ (hy * 0xc2b2ae3d27d4eb4full);
  return static_cast<std::size_t>((mixed * 0xff51afd7ed558ccdull) >> (64 - bits));
}

// The tree seeds whose position hash another seed shares: every seed that
// shares its position is among them, and few others (a table of about 16
// bits per seed).
std::vector<std::int32_t> shared_hash_seeds(const BspTree& tree, int threads) {
  const std::size_t n = tree.ids.size();
  const int bits = std::max(6, static_cast<int>(std::bit_width(16 * n - 1)));
  std::vector<std::uint64_t> seen(std::size_t{1} << (bits - 6)), twice(seen.size());
  const auto hash_of = [&](std::size_t t) {
    return position_hash(tree.positions[2 * t], tree.positions[2 * t + 1], bits);
  };
  constexpr std::size_t chunk = 1 << 14;
  const std::size_t chunks = (n + chunk - 1) / chunk;
  for_each_index(chunks, threads, [&](std::size_t c) {
    for (std::size_t t = c * chunk; t < std::min(n, (c + 1) * chunk); ++t) {
      const std::size_t h = hash_of(t);
      const std::uint64_t bit = std::uint64_t{1} << (h % 64);
      if (std::atomic_ref(seen[h / 64]).fetch_or(bit, std::memory_order_relaxed) & bit) {
        std::atomic_ref(twice[h / 64]).fetch_or(bit, std::memory_order_relaxed);
      }
    }
  });
  std::vector<std::int32_t> shared;
  for (std::size_t t = 0; t < n; ++t) {
    const std::size_t h = hash_of(t);
    if (twice[h / 64] >> (h % 64) & 1) shared.push_back(static_cast<std::int32_t>(t));
  }
  return shared;
}

}  // namespace

std::vector<std::int32_t> position_owners(const BspTree& tree, std::span<const std::int32_t> rank, int threads) {
  struct Key {
    double x, y, w;
    long long id;
    std::int32_t t;
  };
  std::vector<std::int32_t> owner = huge_page_vector<std::int32_t>(tree.ids.size());
  std::iota(owner.begin(), owner.end(), 0);
  std::vector<Key> keys;
  for (const std::int32_t t : shared_hash_seeds(tree, threads)) {
    const std::size_t k = static_cast<std::size_t>(t);
    const long long id = tree.ids[k];
    keys.push_back({tree.positions[2 * k], tree.positions[2 * k + 1], tree.weights[k],
                    rank.empty() ? id : rank[static_cast<std::size_t>(id)], t});
  }
  // Same position together, heaviest first, then lowest rank.
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    if (a.x != b.x) return a.x < b.x;
    if (a.y != b.y) return a.y < b.y;
    if (a.w != b.w) return a.w > b.w;
    return a.id < b.id;
  });
  for (std::size_t k = 1; k < keys.size(); ++k) {
    if (keys[k].x == keys[k - 1].x && keys[k].y == keys[k - 1].y) {
      owner[static_cast<std::size_t>(keys[k].t)] = owner[static_cast<std::size_t>(keys[k - 1].t)];
    }
  }
  return owner;
}

void to_caller_order(PowerDiagram& out, const CellLists& cells, std::span<const std::int32_t> caller, int threads) {
  const std::size_t n = caller.size();
  const auto block_end = [&](std::size_t b) { return std::min(n, (b + 1) * CellLists::block_cells); };
  std::atomic<bool> shifted{false};
  for_each_index(cells.block_count(), threads, [&](std::size_t b) {
    if (!cells.block(b).shifts.empty()) shifted = true;
    for (std::size_t k = b * CellLists::block_cells; k < block_end(b); ++k) {
      out.cell_begin[static_cast<std::size_t>(caller[k]) + 1] = cells.cell(k).size;
    }
  });
  for (std::size_t i = 0; i < n; ++i) out.cell_begin[i + 1] += out.cell_begin[i];
  const std::size_t total = static_cast<std::size_t>(out.cell_begin[n]);
  reserve_on_huge_pages(out.xs, total, threads);
  reserve_on_huge_pages(out.ys, total, threads);
  reserve_on_huge_pages(out.neighbours, total, threads);
  out.xs.resize(total);
  out.ys.resize(total);
  out.neighbours.resize(total);
  if (shifted) reserve_on_huge_pages(out.neighbour_shifts, 2 * total, threads);
  if (shifted) out.neighbour_shifts.resize(2 * total);
  for_each_index(cells.block_count(), threads, [&](std::size_t b) {
    for (std::size_t k = b * CellLists::block_cells; k < block_end(b); ++k) {
      const CellView c = cells.cell(k);
      const std::size_t i = static_cast<std::size_t>(caller[k]);
      out.areas[i] = c.figures.area;
      out.centroid_x[i] = c.figures.centroid_x;
      out.centroid_y[i] = c.figures.centroid_y;
      out.empty[i] = c.figures.empty;
      out.unbounded[i] = c.figures.unbounded;
      const std::size_t to = static_cast<std::size_t>(out.cell_begin[i]);
      std::copy_n(c.xs, c.size, out.xs.data() + to);
      std::copy_n(c.ys, c.size, out.ys.data() + to);
      for (std::int64_t e = 0; e < c.size; ++e) {
        const std::int32_t id = c.neighbours[e];
        out.neighbours[to + static_cast<std::size_t>(e)] = id < 0 ? id : caller[static_cast<std::size_t>(id)];
      }
      if (!c.shifts) continue;
      std::int8_t* shifts = out.neighbour_shifts.data() + 2 * to;
      for (std::int64_t e = 0; e < c.size; ++e) {
        shifts[2 * e] = static_cast<std::int8_t>(shift_x(c.shifts[e]));
        shifts[2 * e + 1] = static_cast<std::int8_t>(shift_y(c.shifts[e]));
      }
    }
  });
}

namespace {

// Whether cell i, if bounded, has a finite area, centroid and vertices.
bool finite_cell(const PowerDiagram& out, std::int64_t i) {
  if (out.empty[i] || out.unbounded[i]) return true;
  bool finite = std::isfinite(out.areas[i]) && std::isfinite(out.centroid_x[i]) && std::isfinite(out.centroid_y[i]);
  for (std::int64_t k = out.cell_begin[i]; k < out.cell_begin[i + 1]; ++k) {
    finite = finite && std::isfinite(out.xs[k]) && std::isfinite(out.ys[k]);
  }
  return finite;
}

// Lowers `least` to i if i is smaller.
void lower_to(std::atomic<std::size_t>& least, std::size_t i) {
  std::size_t seen = least;
  while (i < seen && !least.compare_exchange_weak(seen, i)) {
  }
}

}  // namespace

void check_finite(const PowerDiagram& out, int threads) {
  const std::size_t n = static_cast<std::size_t>(out.cell_count());
  constexpr std::size_t chunk = 1 << 14;
  std::atomic<std::size_t> first_infinite{n};
  for_each_index((n + chunk - 1) / chunk, threads, [&](std::size_t c) {
    for (std::size_t i = c * chunk; i < std::min(n, (c + 1) * chunk); ++i) {
      if (!finite_cell(out, static_cast<std::int64_t>(i))) {
        lower_to(first_infinite, i);  // the rest of the chunk has larger indices
        return;
      }
    }
  });
  if (const std::size_t i = first_infinite; i < n) {
    throw std::range_error("the cell of seed " + std::to_string(i) +
                           " is too large for double precision (its area or a vertex overflows); the seeds' "
                           "weights differ too much for their spacing");
  }
}

void size_outputs(PowerDiagram& out, std::size_t n, int threads) {
  reserve_on_huge_pages(out.cell_begin, n + 1, threads);
  reserve_on_huge_pages(out.areas, n, threads);
  reserve_on_huge_pages(out.centroid_x, n, threads);
  reserve_on_huge_pages(out.centroid_y, n, threads);
  out.cell_begin.assign(n + 1, 0);
  out.areas.assign(n, 0.0);
  out.centroid_x.assign(n, 0.0);
  out.centroid_y.assign(n, 0.0);
  out.empty.assign(n, 0);
  out.unbounded.assign(n, 0);
}

}  // namespace vorn::host::detail
