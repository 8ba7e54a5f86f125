#include "vorn/host/power_diagram.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "cell_arrays.hpp"
#include "power_input.hpp"
#include "seed_frame.hpp"
#include "vorn/host/bsp_tree.hpp"
#include "vorn/queue/thread_count.hpp"
#include "worker_threads.hpp"

namespace vorn::host {

namespace {

using detail::CellArrays;
using detail::CellEngineLibrary;
using detail::SeedFrame;
using detail::StartSquare;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seeds handed to the engine per step of a worker: large enough that taking a
// chunk costs nothing, small enough to balance the threads' loads.
constexpr std::size_t chunk_seeds = 256;

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

// For every tree seed, the tree seed that owns its position: among seeds at
// exactly the same position the heaviest, the lowest caller index breaking
// ties. Every other seed of such a group gets an empty cell.
std::vector<std::int32_t> position_owners(const BspTree& tree) {
  struct Key {
    double x, y, w;
    long long id;
    std::int32_t t;
  };
  const std::size_t n = tree.ids.size();
  std::vector<Key> keys(n);
  for (std::size_t t = 0; t < n; ++t) {
    keys[t] = {tree.positions[2 * t], tree.positions[2 * t + 1], tree.weights[t], tree.ids[t],
               static_cast<std::int32_t>(t)};
  }
  // Same position together, heaviest first, then lowest caller index.
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    if (a.x != b.x) return a.x < b.x;
    if (a.y != b.y) return a.y < b.y;
    if (a.w != b.w) return a.w > b.w;
    return a.id < b.id;
  });
  std::vector<std::int32_t> owner(n);
  for (std::size_t k = 0; k < n; ++k) {
    const bool same = k > 0 && keys[k].x == keys[k - 1].x && keys[k].y == keys[k - 1].y;
    owner[static_cast<std::size_t>(keys[k].t)] = same ? owner[static_cast<std::size_t>(keys[k - 1].t)] : keys[k].t;
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

// Float cells of the whole plane are computed in a box around the seeds,
// whose edges a float cell never reaches unless it is unbounded or close to
// it; the cells that do reach it are computed again, unbounded, in double.
// (Unbounded float cells cannot be computed directly: a stand-in edge far
// beyond its cell leaves float too few digits for the cell's own vertices.)
// A convex cell that stays inside the box without touching its edges is the
// cell of the whole plane.
StartSquare stand_in_box(std::span<const double> positions) {
  const Box b = bounds(positions);
  const double extent = std::max(b.x_max - b.x_min, b.y_max - b.y_min);
  const double margin = extent > 0.0 ? extent * 0.125 : 1.0;
  return {b.x_min - margin, b.y_min - margin, b.x_max + margin, b.y_max + margin, false, 0.0, domain_edge};
}

// Everything the workers share: inputs read-only, outputs written at
// disjoint elements (a seed's own entries, a chunk's own vertex lists).
struct CellJob {
  const BspTree& tree;
  const engine::WeightedSeeds2& seeds;
  const std::vector<std::int32_t>& owner;
  const SeedFrame& frame;
  const StartSquare& square;
  // Set for float cells of the whole plane: where the cells of the float
  // run reach `square` (the stand-in box), the double run from this square.
  const StartSquare* unbounded_square;
  const CellEngineLibrary& engine;
  const PowerDiagramOptions& options;
  PowerDiagram& out;  // per-seed arrays, indexed in the caller's numbering
  std::vector<std::int64_t>& counts;
  std::vector<std::vector<double>>& chunk_xs;  // vertices of a chunk's seeds, in tree order
  std::vector<std::vector<double>>& chunk_ys;
  std::vector<std::vector<std::int32_t>>& chunk_neighbours;
};

// The caller's number of the seed or marker named by an engine cut id.
std::int32_t neighbour_of(const CellJob& job, std::int32_t cut_id) {
  if (cut_id == infinite_cut_id) return infinite_edge;
  if (cut_id < 0) return domain_edge;
  return static_cast<std::int32_t>(job.tree.ids[static_cast<std::size_t>(job.owner[static_cast<std::size_t>(cut_id)])]);
}

// Area and centroid of a counter-clockwise polygon, by the shoelace formula
// about its first vertex (which keeps the products small for far-off cells).
template <class T>
void measure(const T* x, const T* y, std::size_t n, double& area, double& cx, double& cy) {
  double twice_area = 0.0, sx = 0.0, sy = 0.0;
  const double x0 = x[0], y0 = y[0];
  for (std::size_t k = 1; k + 1 < n; ++k) {
    const double ax = x[k] - x0, ay = y[k] - y0;
    const double bx = x[k + 1] - x0, by = y[k + 1] - y0;
    const double cross = ax * by - bx * ay;
    twice_area += cross;
    sx += cross * (ax + bx);
    sy += cross * (ay + by);
  }
  area = 0.5 * twice_area;
  const bool flat = twice_area == 0.0;
  cx = flat ? x0 : x0 + sx / (3.0 * twice_area);
  cy = flat ? y0 : y0 + sy / (3.0 * twice_area);
}

// Compacts the polygon's first n vertices (edge k from vertex k to k + 1)
// to those that are corners, and returns how many are left:
// - an edge of length zero goes with its first vertex (where cells meet at a
//   point the engine may leave one naming a seed that only touches it);
// - a vertex between two edges on the same neighbour's bisector goes, joining
//   the edges (a cut that resumes after the arrays were enlarged may split an
//   edge at a vertex left on the bisector).
// Box and infinite edges are never joined: neighbouring ones meet at corners.
template <class T>
std::size_t keep_corners(T* xs, T* ys, std::int32_t* ids, std::size_t n) {
  std::size_t m = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t next = k + 1 == n ? 0 : k + 1;
    if (xs[k] == xs[next] && ys[k] == ys[next]) continue;
    xs[m] = xs[k], ys[m] = ys[k], ids[m] = ids[k], ++m;
  }
  std::size_t kept = 0;
  std::int32_t previous = m > 0 ? ids[m - 1] : 0;  // the edge that ends at the vertex in hand
  for (std::size_t k = 0; k < m; ++k) {
    const std::int32_t id = ids[k];
    const bool continues = id >= 0 && id == previous;
    previous = id;
    if (continues) continue;
    xs[kept] = xs[k], ys[kept] = ys[k], ids[kept] = id, ++kept;
  }
  return kept;  // a polygon shrunk to one point has none left
}

// Copies the finished cell of tree seed t into its chunk's lists and the
// seed's own entries.
template <class T>
void record_cell(const CellJob& job, Local2<T>& cell, std::size_t t, std::size_t chunk) {
  const std::size_t caller = static_cast<std::size_t>(job.tree.ids[t]);
  const std::size_t n =
      keep_corners(cell.xs, cell.ys, cell.cut_ids, static_cast<std::size_t>(std::max(cell.vertex_count, 0)));
  auto& xs = job.chunk_xs[chunk];
  auto& ys = job.chunk_ys[chunk];
  for (std::size_t k = 0; k < n; ++k) {
    xs.push_back(job.frame.x_out(static_cast<double>(cell.xs[k])));
    ys.push_back(job.frame.y_out(static_cast<double>(cell.ys[k])));
    job.chunk_neighbours[chunk].push_back(neighbour_of(job, cell.cut_ids[k]));
  }
  job.counts[caller] = static_cast<std::int64_t>(n);
  job.out.empty[caller] = n == 0;
  job.out.unbounded[caller] = n != 0 && cell.unbounded;
  double area = 0.0, cx = std::numeric_limits<double>::quiet_NaN(), cy = cx;
  if (n != 0 && cell.unbounded) area = std::numeric_limits<double>::infinity();
  if (n != 0 && !cell.unbounded) {
    measure(cell.xs, cell.ys, n, area, cx, cy);
    area = job.frame.area_out(area);
    cx = job.frame.x_out(cx);
    cy = job.frame.y_out(cy);
  }
  job.out.areas[caller] = area;
  job.out.centroid_x[caller] = cx;
  job.out.centroid_y[caller] = cy;
}

bool reaches_domain(const Local2<float>& cell) {
  return std::any_of(cell.cut_ids, cell.cut_ids + std::max(cell.vertex_count, 0),
                     [](std::int32_t id) { return id == domain_edge; });
}

// The cells of one chunk of tree seeds. `recheck` is given exactly when the
// job has an unbounded square for float cells that reach the stand-in box.
template <class T>
void run_chunk(const CellJob& job, CellArrays<T>& arrays, CellArrays<double>* recheck, std::size_t chunk,
               int max_capacity) {
  const std::size_t n = job.tree.ids.size();
  const std::size_t begin = chunk * chunk_seeds;
  const std::size_t end = std::min(n, begin + chunk_seeds);
  for (std::size_t t = begin; t < end; ++t) {
    const double x = job.tree.positions[2 * t], y = job.tree.positions[2 * t + 1];
    // A seed that does not own its position keeps the empty cell: the owner
    // is at least as heavy, so its bisector leaves nothing.
    if (job.owner[t] != static_cast<std::int32_t>(t)) {
      arrays.start(job.square);
      arrays.cell().vertex_count = 0;
    } else {
      arrays.run(job.engine, job.seeds, static_cast<long long>(t), job.square.around(x, y), max_capacity);
      if constexpr (std::is_same_v<T, float>) {
        if (recheck && reaches_domain(arrays.cell())) {
          recheck->run(job.engine, job.seeds, static_cast<long long>(t), job.unbounded_square->around(x, y),
                       max_capacity);
          record_cell(job, recheck->cell(), t, chunk);
          continue;
        }
      }
    }
    record_cell(job, arrays.cell(), t, chunk);
  }
}

// Runs every chunk on `threads` concurrent workers, each with its own cell.
template <class T>
void run_cells(const CellJob& job, int threads) {
  const long long n = static_cast<long long>(job.tree.ids.size());
  const std::size_t chunks = job.chunk_xs.size();
  const int max_capacity = static_cast<int>(std::min<long long>(2 * n + 64, std::numeric_limits<int>::max() / 2));
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex progress_mutex;
  long long done = 0;
  detail::run_workers(threads, [&] {
    CellArrays<T> arrays(job.options.initial_capacity);
    std::optional<CellArrays<double>> recheck;
    if (job.unbounded_square) recheck.emplace(job.options.initial_capacity);
    try {
      for (std::size_t c = next++; c < chunks && !failed; c = next++) {
        run_chunk(job, arrays, recheck ? &*recheck : nullptr, c, max_capacity);
        if (!job.options.progress) continue;
        std::lock_guard lock(progress_mutex);
        done += std::min<long long>(chunk_seeds, n - static_cast<long long>(c) * chunk_seeds);
        job.options.progress(done, n);
      }
    } catch (...) {
      failed = true;  // the other workers stop at their next chunk
      throw;
    }
  });
}

// Cell i's vertex lists go to [cell_begin[i], cell_begin[i + 1]) of the
// output, chunk by chunk on the worker threads.
void gather_vertices(PowerDiagram& out, const BspTree& tree, std::vector<std::vector<double>>& chunk_xs,
                     std::vector<std::vector<double>>& chunk_ys,
                     std::vector<std::vector<std::int32_t>>& chunk_neighbours, int threads) {
  const std::size_t n = tree.ids.size();
  const std::size_t total = static_cast<std::size_t>(out.cell_begin[n]);
  out.xs.resize(total);
  out.ys.resize(total);
  out.neighbours.resize(total);
  std::atomic<std::size_t> next{0};
  detail::run_workers(threads, [&] {
    for (std::size_t c = next++; c < chunk_xs.size(); c = next++) {
      std::size_t k = 0;
      for (std::size_t t = c * chunk_seeds; t < std::min(n, (c + 1) * chunk_seeds); ++t) {
        const std::size_t caller = static_cast<std::size_t>(tree.ids[t]);
        const std::size_t first = static_cast<std::size_t>(out.cell_begin[caller]);
        const std::size_t count = static_cast<std::size_t>(out.cell_begin[caller + 1]) - first;
        std::copy_n(&chunk_xs[c][k], count, &out.xs[first]);
        std::copy_n(&chunk_ys[c][k], count, &out.ys[first]);
        std::copy_n(&chunk_neighbours[c][k], count, &out.neighbours[first]);
        k += count;
      }
      std::vector<double>().swap(chunk_xs[c]);  // release as we go: the lists and the output coexist
      std::vector<double>().swap(chunk_ys[c]);
      std::vector<std::int32_t>().swap(chunk_neighbours[c]);
    }
  });
}

void size_outputs(PowerDiagram& out, std::size_t n) {
  out.cell_begin.assign(n + 1, 0);
  out.areas.assign(n, 0.0);
  out.centroid_x.assign(n, 0.0);
  out.centroid_y.assign(n, 0.0);
  out.empty.assign(n, 0);
  out.unbounded.assign(n, 0);
}

// Every vertex, area and centroid of a bounded cell is finite: a cell too
// large for a double is refused rather than returned as infinities.
void check_finite(const PowerDiagram& out) {
  for (std::int64_t i = 0; i < out.cell_count(); ++i) {
    if (out.empty[i] || out.unbounded[i]) continue;
    bool finite = std::isfinite(out.areas[i]) && std::isfinite(out.centroid_x[i]) && std::isfinite(out.centroid_y[i]);
    for (std::int64_t k = out.cell_begin[i]; k < out.cell_begin[i + 1]; ++k) {
      finite = finite && std::isfinite(out.xs[k]) && std::isfinite(out.ys[k]);
    }
    if (!finite) {
      throw std::range_error("the cell of seed " + std::to_string(i) +
                             " is too large for double precision (its area or a vertex overflows); the seeds' "
                             "weights differ too much for their spacing");
    }
  }
}

template <class T>
void compute_cells(PowerDiagram& out, const BspTree& tree, const std::vector<std::int32_t>& owner,
                   const SeedFrame& frame, const PowerDiagramOptions& options, int threads) {
  const std::size_t n = tree.ids.size();
  const CellEngineLibrary& engine = detail::cell_engine_library(out.isa);
  const engine::WeightedSeeds2 seeds = seed_set(tree);
  const std::optional<Box> domain = options.domain ? std::optional<Box>(frame.box_in(*options.domain)) : std::nullopt;
  const StartSquare unbounded_square = start_square(std::nullopt, tree.positions);
  const bool float_plane = std::is_same_v<T, float> && !domain;
  const StartSquare square = float_plane ? stand_in_box(tree.positions) : start_square(domain, tree.positions);

  const std::size_t chunks = (n + chunk_seeds - 1) / chunk_seeds;
  std::vector<std::vector<double>> chunk_xs(chunks), chunk_ys(chunks);
  std::vector<std::vector<std::int32_t>> chunk_neighbours(chunks);
  std::vector<std::int64_t> counts(n);
  const CellJob job{tree,    seeds,   owner, frame,  square,   float_plane ? &unbounded_square : nullptr,
                    engine,  options, out,   counts, chunk_xs, chunk_ys,
                    chunk_neighbours};
  auto start = Clock::now();
  run_cells<T>(job, threads);
  out.timings.cells = seconds_since(start);

  start = Clock::now();
  for (std::size_t i = 0; i < n; ++i) out.cell_begin[i + 1] = out.cell_begin[i] + counts[i];
  gather_vertices(out, tree, chunk_xs, chunk_ys, chunk_neighbours, threads);
  check_finite(out);
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
                                      detail::weights_in(frame, weights, n), options.leaf_size, out.isa);
  const std::vector<std::int32_t> owner = position_owners(tree);
  out.timings.tree = seconds_since(start);
  if (options.precision == CellPrecision::single_precision) {
    compute_cells<float>(out, tree, owner, frame, options, out.threads);
  } else {
    compute_cells<double>(out, tree, owner, frame, options, out.threads);
  }
  return out;
}

}  // namespace vorn::host
