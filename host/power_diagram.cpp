#include "vorn/host/power_diagram.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "cell_phase.hpp"
#include "power_input.hpp"
#include "seed_frame.hpp"
#include "vorn/host/bsp_tree.hpp"
#include "vorn/queue/thread_count.hpp"
#include "worker_threads.hpp"

namespace vorn::host {

namespace {

using detail::CellEngineLibrary;
using detail::CellJob;
using detail::CellLists;
using detail::SeedFrame;
using detail::StartSquare;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

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
  detail::for_each_index(chunks, threads, [&](std::size_t c) {
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

// For every tree seed, the tree seed that owns its position: among seeds at
// exactly the same position the heaviest, the lowest caller index breaking
// ties. Every other seed of such a group gets an empty cell.
std::vector<std::int32_t> position_owners(const BspTree& tree, int threads) {
  struct Key {
    double x, y, w;
    long long id;
    std::int32_t t;
  };
  std::vector<std::int32_t> owner(tree.ids.size());
  std::iota(owner.begin(), owner.end(), 0);
  std::vector<Key> keys;
  for (const std::int32_t t : shared_hash_seeds(tree, threads)) {
    const std::size_t k = static_cast<std::size_t>(t);
    keys.push_back({tree.positions[2 * k], tree.positions[2 * k + 1], tree.weights[k], tree.ids[k], t});
  }
  // Same position together, heaviest first, then lowest caller index.
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

// The bounding box of n x 2 positions (n > 0).
Box bounds(std::span<const double> positions) {
  Box b{positions[0], positions[1], positions[0], positions[1]};
  for (std::size_t i = 0; i < positions.size(); i += 2) {
    b.x_min = std::min(b.x_min, positions[i]);
    b.x_max = std::max(b.x_max, positions[i]);
    b.y_min = std::min(b.y_min, positions[i + 1]);
    b.y_max = std::max(b.y_max, positions[i + 1]);
  }
  return b;
}

// The start square, in the engine's frame: the domain box, or squares whose
// edges stand for edges at infinity. The engine pushes those out only as far
// as each cut needs, and prunes subtrees by the polygon's extent, so a small
// square (about a seed spacing) keeps the unbounded phase's traversal short.
StartSquare start_square(const std::optional<Box>& domain, std::span<const double> positions) {
  if (domain) return {domain->x_min, domain->y_min, domain->x_max, domain->y_max, false, 0.0, domain_edge};
  const Box b = bounds(positions);
  const double extent = std::max(b.x_max - b.x_min, b.y_max - b.y_min);
  const double spacing = extent / std::sqrt(static_cast<double>(positions.size() / 2));
  return {0.0, 0.0, 0.0, 0.0, true, spacing > 0.0 ? spacing : 1.0, domain_edge};
}

// Cells of the whole plane are computed in a box around the seeds, whose
// edges a cell never reaches unless it is unbounded or close to it; the
// cells that do reach it are computed again, unbounded, in double. A convex
// cell that stays inside the box without touching its edges is the cell of
// the whole plane. The unbounded engine answers each cut by a stand-in
// pushed out as far as the cut needs, and its vertices carry that stand-in's
// rounding: the box keeps it to the few cells that need it. (Float cells
// computed unbounded would lose most of their digits that way.)
StartSquare stand_in_box(std::span<const double> positions) {
  const Box b = bounds(positions);
  const double extent = std::max(b.x_max - b.x_min, b.y_max - b.y_min);
  const double margin = extent > 0.0 ? extent * 0.125 : 1.0;
  return {b.x_min - margin, b.y_min - margin, b.x_max + margin, b.y_max + margin, false, 0.0, domain_edge};
}

// The cells' vertex lists in the caller's numbering: cell ids[t]'s list is
// tree cell t's, its neighbours renumbered. Releases each block once copied.
void to_caller_order(PowerDiagram& out, CellLists& cells, const BspTree& tree, int threads) {
  const std::size_t n = tree.ids.size();
  const auto block_end = [&](std::size_t b) { return std::min(n, (b + 1) * CellLists::block_cells); };
  detail::for_each_index(cells.block_count(), threads, [&](std::size_t b) {
    for (std::size_t t = b * CellLists::block_cells; t < block_end(b); ++t) {
      out.cell_begin[static_cast<std::size_t>(tree.ids[t]) + 1] = cells.cell(t).size;
    }
  });
  for (std::size_t i = 0; i < n; ++i) out.cell_begin[i + 1] += out.cell_begin[i];
  const std::size_t total = static_cast<std::size_t>(out.cell_begin[n]);
  out.xs.resize(total);
  out.ys.resize(total);
  out.neighbours.resize(total);
  detail::for_each_index(cells.block_count(), threads, [&](std::size_t b) {
    for (std::size_t t = b * CellLists::block_cells; t < block_end(b); ++t) {
      const detail::CellView c = cells.cell(t);
      const std::size_t to = static_cast<std::size_t>(out.cell_begin[static_cast<std::size_t>(tree.ids[t])]);
      std::copy_n(c.xs, c.size, out.xs.data() + to);
      std::copy_n(c.ys, c.size, out.ys.data() + to);
      for (std::int64_t k = 0; k < c.size; ++k) {
        const std::int32_t id = c.neighbours[k];
        out.neighbours[to + static_cast<std::size_t>(k)] =
            id < 0 ? id : static_cast<std::int32_t>(tree.ids[static_cast<std::size_t>(id)]);
      }
    }
    cells.block(b) = detail::CellBlock{};
  });
}

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

// Every vertex, area and centroid of a bounded cell is finite: a cell too
// large for a double is refused rather than returned as infinities.
void check_finite(const PowerDiagram& out, int threads) {
  const std::size_t n = static_cast<std::size_t>(out.cell_count());
  constexpr std::size_t chunk = 1 << 14;
  std::atomic<std::size_t> first_infinite{n};
  detail::for_each_index((n + chunk - 1) / chunk, threads, [&](std::size_t c) {
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

void size_outputs(PowerDiagram& out, std::size_t n) {
  out.cell_begin.assign(n + 1, 0);
  out.areas.assign(n, 0.0);
  out.centroid_x.assign(n, 0.0);
  out.centroid_y.assign(n, 0.0);
  out.empty.assign(n, 0);
  out.unbounded.assign(n, 0);
}

template <class T>
void compute_cells(PowerDiagram& out, const BspTree& tree, const std::vector<std::int32_t>& owner,
                   const SeedFrame& frame, const PowerDiagramOptions& options, int threads) {
  const std::size_t n = tree.ids.size();
  const CellEngineLibrary& engine = detail::cell_engine_library(out.isa);
  const engine::WeightedSeeds2 seeds = seed_set(tree);
  const std::optional<Box> domain = options.domain ? std::optional<Box>(frame.box_in(*options.domain)) : std::nullopt;
  const StartSquare unbounded_square = start_square(std::nullopt, tree.positions);
  const StartSquare square = domain ? start_square(domain, tree.positions) : stand_in_box(tree.positions);

  CellLists cells(n);
  const CellJob job{tree, seeds, owner, frame, square, domain ? nullptr : &unbounded_square, engine, options, out,
                    cells};
  auto start = Clock::now();
  detail::run_cells<T>(job, threads);
  out.timings.cells = seconds_since(start);

  start = Clock::now();
  if (!detail::make_cells_agree(job, std::is_same_v<T, float>, threads)) {
    // Seeds closer than float resolves, in cells that disagree even where
    // computed again in double: the whole diagram in double is the answer.
    if constexpr (std::is_same_v<T, float>) compute_cells<double>(out, tree, owner, frame, options, threads);
    return;
  }
  to_caller_order(out, cells, tree, threads);
  check_finite(out, threads);
  out.timings.assemble = seconds_since(start);
}

}  // namespace

PowerDiagram power_diagram(std::span<const double> positions, std::span<const double> weights,
                           const PowerDiagramOptions& options) {
  auto start = Clock::now();
  detail::check_power_input(positions, weights, options);
  const std::size_t n = positions.size() / 2;
  PowerDiagram out;
  out.isa = options.isa ? *options.isa : default_isa_level();
  require_isa_level(out.isa);
  size_outputs(out, n);
  out.threads = options.threads > 0 ? options.threads : vorn::detail::configured_thread_count();
  if (n == 0) return out;

  const SeedFrame frame = detail::seed_frame(positions, weights, options.domain);
  detail::check_frame_weights(frame, weights, options);
  const BspTree tree = build_bsp_tree(BspUnit::weighted_2d, detail::positions_in(frame, positions),
                                      detail::weights_in(frame, weights, n), options.leaf_size, out.isa,
                                      out.threads);
  const std::vector<std::int32_t> owner = position_owners(tree, out.threads);
  out.timings.tree = seconds_since(start);
  if (options.precision == CellPrecision::single_precision) {
    compute_cells<float>(out, tree, owner, frame, options, out.threads);
  } else {
    compute_cells<double>(out, tree, owner, frame, options, out.threads);
  }
  return out;
}

}  // namespace vorn::host
