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
#include "cell_lists.hpp"
#include "mutual_neighbours.hpp"
#include "power_input.hpp"
#include "seed_frame.hpp"
#include "vorn/host/bsp_tree.hpp"
#include "vorn/queue/thread_count.hpp"
#include "worker_threads.hpp"

namespace vorn::host {

namespace {

using detail::CellArrays;
using detail::CellEngineLibrary;
using detail::CellLists;
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

// Everything the workers share: inputs read-only, outputs written at
// disjoint elements (a seed's own entries, a chunk's own vertex lists).
struct CellJob {
  const BspTree& tree;
  const engine::WeightedSeeds2& seeds;
  const std::vector<std::int32_t>& owner;
  const SeedFrame& frame;
  const StartSquare& square;
  // Set for cells of the whole plane: where the cells of the first run reach
  // `square` (the stand-in box), the double run from this square.
  const StartSquare* unbounded_square;
  const CellEngineLibrary& engine;
  const PowerDiagramOptions& options;
  PowerDiagram& out;  // per-seed figures, indexed in the caller's numbering
  std::vector<std::int64_t>& counts;  // vertices per cell, in tree order
  std::vector<std::vector<double>>& chunk_xs;  // vertices of a chunk's seeds, in tree order
  std::vector<std::vector<double>>& chunk_ys;
  std::vector<std::vector<std::int32_t>>& chunk_neighbours;
};

// The tree seed (the owner of its position) or marker named by an engine cut id.
std::int32_t neighbour_of(const CellJob& job, std::int32_t cut_id) {
  if (cut_id == infinite_cut_id) return infinite_edge;
  if (cut_id < 0) return domain_edge;
  return job.owner[static_cast<std::size_t>(cut_id)];
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

// Vertex lists that cells are appended to.
struct VertexLists {
  std::vector<double>& xs;
  std::vector<double>& ys;
  std::vector<std::int32_t>& neighbours;
};

// Appends the finished cell of tree seed t to `lists` and fills the seed's
// own entries.
template <class T>
void record_cell(const CellJob& job, Local2<T>& cell, std::size_t t, VertexLists lists) {
  const std::size_t caller = static_cast<std::size_t>(job.tree.ids[t]);
  // Edges on the bisectors of seeds at one position name the same owner, so
  // they are joined too.
  const std::size_t vertices = static_cast<std::size_t>(std::max(cell.vertex_count, 0));
  for (std::size_t k = 0; k < vertices; ++k) cell.cut_ids[k] = neighbour_of(job, cell.cut_ids[k]);
  const std::size_t n = keep_corners(cell.xs, cell.ys, cell.cut_ids, vertices);
  for (std::size_t k = 0; k < n; ++k) {
    lists.xs.push_back(job.frame.x_out(static_cast<double>(cell.xs[k])));
    lists.ys.push_back(job.frame.y_out(static_cast<double>(cell.ys[k])));
    lists.neighbours.push_back(cell.cut_ids[k]);
  }
  job.counts[t] = static_cast<std::int64_t>(n);
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

VertexLists chunk_lists(const CellJob& job, std::size_t chunk) {
  return {job.chunk_xs[chunk], job.chunk_ys[chunk], job.chunk_neighbours[chunk]};
}

template <class T>
bool reaches_domain(const Local2<T>& cell) {
  return std::any_of(cell.cut_ids, cell.cut_ids + std::max(cell.vertex_count, 0),
                     [](std::int32_t id) { return id == domain_edge; });
}

// The cells of one chunk of tree seeds. `recheck` is given exactly when the
// job has an unbounded square for cells that reach the stand-in box.
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
      if (recheck && reaches_domain(arrays.cell())) {
        recheck->run(job.engine, job.seeds, static_cast<long long>(t), job.unbounded_square->around(x, y),
                     max_capacity);
        record_cell(job, recheck->cell(), t, chunk_lists(job, chunk));
        continue;
      }
    }
    record_cell(job, arrays.cell(), t, chunk_lists(job, chunk));
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

// The chunks' lists as one set, in tree order (a chunk's seeds are
// consecutive), released chunk by chunk as they are copied.
CellLists concatenate(const CellJob& job, int threads) {
  CellLists cells;
  const std::size_t n = job.counts.size();
  cells.cell_begin.assign(n + 1, 0);
  for (std::size_t t = 0; t < n; ++t) cells.cell_begin[t + 1] = cells.cell_begin[t] + job.counts[t];
  const std::size_t total = static_cast<std::size_t>(cells.cell_begin[n]);
  cells.xs.resize(total);
  cells.ys.resize(total);
  cells.neighbours.resize(total);
  std::atomic<std::size_t> next{0};
  detail::run_workers(threads, [&] {
    for (std::size_t c = next++; c < job.chunk_xs.size(); c = next++) {
      const std::size_t first = static_cast<std::size_t>(cells.cell_begin[c * chunk_seeds]);
      std::copy(job.chunk_xs[c].begin(), job.chunk_xs[c].end(), cells.xs.begin() + first);
      std::copy(job.chunk_ys[c].begin(), job.chunk_ys[c].end(), cells.ys.begin() + first);
      std::copy(job.chunk_neighbours[c].begin(), job.chunk_neighbours[c].end(), cells.neighbours.begin() + first);
      std::vector<double>().swap(job.chunk_xs[c]);
      std::vector<double>().swap(job.chunk_ys[c]);
      std::vector<std::int32_t>().swap(job.chunk_neighbours[c]);
    }
  });
  return cells;
}

// The cells' vertex lists in the caller's numbering: cell ids[t]'s list is
// tree cell t's, its neighbours renumbered. Releases `cells`.
void to_caller_order(PowerDiagram& out, CellLists& cells, const BspTree& tree, int threads) {
  const std::size_t n = tree.ids.size();
  for (std::size_t t = 0; t < n; ++t) {
    out.cell_begin[static_cast<std::size_t>(tree.ids[t]) + 1] = cells.cell_begin[t + 1] - cells.cell_begin[t];
  }
  for (std::size_t i = 0; i < n; ++i) out.cell_begin[i + 1] += out.cell_begin[i];
  const std::size_t total = static_cast<std::size_t>(out.cell_begin[n]);
  out.xs.resize(total);
  out.ys.resize(total);
  out.neighbours.resize(total);
  std::atomic<std::size_t> next{0};
  detail::run_workers(threads, [&] {
    for (std::size_t c = next++; c * chunk_seeds < n; c = next++) {
      for (std::size_t t = c * chunk_seeds; t < std::min(n, (c + 1) * chunk_seeds); ++t) {
        const std::size_t from = static_cast<std::size_t>(cells.cell_begin[t]);
        const std::size_t count = static_cast<std::size_t>(cells.cell_begin[t + 1]) - from;
        const std::size_t to = static_cast<std::size_t>(out.cell_begin[static_cast<std::size_t>(tree.ids[t])]);
        std::copy_n(&cells.xs[from], count, &out.xs[to]);
        std::copy_n(&cells.ys[from], count, &out.ys[to]);
        for (std::size_t k = 0; k < count; ++k) {
          const std::int32_t id = cells.neighbours[from + k];
          out.neighbours[to + k] = id < 0 ? id : static_cast<std::int32_t>(tree.ids[static_cast<std::size_t>(id)]);
        }
      }
    }
  });
  cells = CellLists{};
}

void size_outputs(PowerDiagram& out, std::size_t n) {
  out.cell_begin.assign(n + 1, 0);
  out.areas.assign(n, 0.0);
  out.centroid_x.assign(n, 0.0);
  out.centroid_y.assign(n, 0.0);
  out.empty.assign(n, 0);
  out.unbounded.assign(n, 0);
}

// How a cell is computed when its neighbours disagree with it, from the
// first attempt on: in double precision, then (for cells of the whole plane)
// in a box around every vertex that it and the cells next to it found, with
// the box's edges standing for edges at infinity. A far vertex that the
// engine's growing stand-in misses (its growth runs nearly parallel to a
// bisector) is found by the other cells that meet there, so the box holds it.
enum class Attempt { first, in_double, in_enclosing_box };

std::vector<Attempt> attempts(bool single, bool plane) {
  std::vector<Attempt> list{Attempt::first};
  if (single) list.push_back(Attempt::in_double);
  if (plane) list.push_back(Attempt::in_enclosing_box);
  return list;
}

// The box, in the engine's frame, around seed t and every vertex between two
// seed edges of its cell and of the cells in `next_to` (its neighbours and
// the seeds that list it), with a margin of half its extent.
StartSquare enclosing_box(const CellLists& cells, const SeedFrame& frame, const BspTree& tree, std::size_t t,
                          const std::vector<std::int32_t>& next_to) {
  const double x = tree.positions[2 * t], y = tree.positions[2 * t + 1];
  Box b{x, y, x, y};
  const auto take_vertices = [&](std::int64_t i) {
    const std::int64_t begin = cells.cell_begin[i], end = cells.cell_begin[i + 1];
    for (std::int64_t k = begin; k < end; ++k) {
      if (cells.neighbours[k] < 0 || cells.neighbours[k == begin ? end - 1 : k - 1] < 0) continue;
      const double vx = frame.x_in(cells.xs[k]), vy = frame.y_in(cells.ys[k]);
      b = {std::min(b.x_min, vx), std::min(b.y_min, vy), std::max(b.x_max, vx), std::max(b.y_max, vy)};
    }
  };
  take_vertices(static_cast<std::int64_t>(t));
  for (const std::int32_t j : next_to) take_vertices(j);
  const double extent = std::max(b.x_max - b.x_min, b.y_max - b.y_min);
  const double margin = extent > 0.0 ? extent * 0.5 : 1.0;
  return {b.x_min - margin, b.y_min - margin, b.x_max + margin, b.y_max + margin, false, 0.0, domain_edge};
}

// Computes the cell of tree seed t again, by `attempt`, into `lists`; `box`
// is the enclosing box for that attempt.
void recompute_cell(const CellJob& job, CellArrays<double>& arrays, std::size_t t, Attempt attempt,
                    const StartSquare& box, VertexLists lists) {
  const double x = job.tree.positions[2 * t], y = job.tree.positions[2 * t + 1];
  const long long seed = static_cast<long long>(t);
  const int max_capacity = static_cast<int>(std::min<std::size_t>(2 * job.tree.ids.size() + 64, 1 << 30));
  if (attempt == Attempt::in_enclosing_box) {
    arrays.run(job.engine, job.seeds, seed, box, max_capacity);
    Local2<double>& cell = arrays.cell();
    cell.unbounded = reaches_domain(cell);
    std::replace(cell.cut_ids, cell.cut_ids + std::max(cell.vertex_count, 0), domain_edge, infinite_cut_id);
  } else {
    arrays.run(job.engine, job.seeds, seed, job.square, max_capacity);
    if (job.unbounded_square && reaches_domain(arrays.cell())) {
      arrays.run(job.engine, job.seeds, seed, job.unbounded_square->around(x, y), max_capacity);
    }
  }
  record_cell(job, arrays.cell(), t, lists);
}

// Replaces the vertex lists of `seeds` (increasing) by theirs in `lists`,
// seed k's being [begin[k], begin[k + 1]).
void replace_cells(CellLists& out, const std::vector<std::int32_t>& seeds, const std::vector<std::size_t>& begin,
                   const VertexLists& lists) {
  const std::int64_t n = out.cell_count();
  std::vector<std::int64_t> cell_begin(static_cast<std::size_t>(n) + 1, 0);
  std::vector<double> xs, ys;
  std::vector<std::int32_t> neighbours;
  std::size_t next = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    std::size_t from = static_cast<std::size_t>(out.cell_begin[i]), to = static_cast<std::size_t>(out.cell_begin[i + 1]);
    const bool replaced = next < seeds.size() && seeds[next] == i;
    const std::vector<double>& sx = replaced ? lists.xs : out.xs;
    const std::vector<double>& sy = replaced ? lists.ys : out.ys;
    const std::vector<std::int32_t>& sn = replaced ? lists.neighbours : out.neighbours;
    if (replaced) from = begin[next], to = begin[next + 1], ++next;
    xs.insert(xs.end(), sx.begin() + from, sx.begin() + to);
    ys.insert(ys.end(), sy.begin() + from, sy.begin() + to);
    neighbours.insert(neighbours.end(), sn.begin() + from, sn.begin() + to);
    cell_begin[i + 1] = static_cast<std::int64_t>(xs.size());
  }
  out.cell_begin = std::move(cell_begin);
  out.xs = std::move(xs);
  out.ys = std::move(ys);
  out.neighbours = std::move(neighbours);
}

// Makes every neighbour relation mutual (see mutual_neighbours.hpp): cells
// that disagree with a neighbour are computed again by the next attempt,
// until all agree; throws std::range_error when a cell has no attempt left.
void make_cells_agree(const CellJob& job, CellLists& cells, bool single, int threads) {
  const bool plane = !job.options.domain;
  const SeedFrame& frame = job.frame;
  // Rounding level of the cells' vertices in the caller's units: the
  // engine's relative precision at its frame's magnitude, and the rounding
  // of the shift that brings the vertices back.
  const double shift_rounding = 0x1p-50 * (std::fabs(frame.shift_x) + std::fabs(frame.shift_y));
  const double double_tolerance = 0x1p-44 * frame.reach + shift_rounding;
  std::vector<double> tolerance(job.tree.ids.size(),
                                single ? 0x1p-20 * frame.reach + shift_rounding : double_tolerance);
  const std::vector<Attempt> plan = attempts(single, plane);
  std::vector<std::uint8_t> tried(job.tree.ids.size(), 0);
  CellArrays<double> arrays(job.options.initial_capacity);
  for (;;) {
    const detail::Disagreements found = detail::make_neighbours_mutual(cells, tolerance, threads);
    std::vector<std::int32_t> again;
    for (const auto& [lister, other] : found.one_sided) {
      for (const std::int32_t seed : {lister, other}) {
        if (tried[static_cast<std::size_t>(seed)] + 1u < plan.size()) {
          again.push_back(seed);
          continue;
        }
        throw std::range_error(
            "the cells of seeds " + std::to_string(job.tree.ids[static_cast<std::size_t>(lister)]) + " and " +
            std::to_string(job.tree.ids[static_cast<std::size_t>(other)]) +
            " disagree on whether they are neighbours, even when computed " +
            (plan.size() > 1 ? "again in double precision" : "in double precision") +
            (plane ? " in a box around their vertices" : "") +
            "; the seeds may be closer together than the arithmetic resolves");
      }
    }
    // A cell too small for float is computed in double; one too small for
    // double keeps its short edges.
    for (const std::int32_t seed : found.collapsed) {
      if (tolerance[static_cast<std::size_t>(seed)] > double_tolerance) again.push_back(seed);
    }
    if (again.empty()) return;
    std::sort(again.begin(), again.end());
    again.erase(std::unique(again.begin(), again.end()), again.end());
    std::vector<double> xs, ys;
    std::vector<std::int32_t> neighbours;
    const VertexLists lists{xs, ys, neighbours};
    std::vector<std::size_t> begin{0};
    for (const std::int32_t seed : again) {
      const std::size_t t = static_cast<std::size_t>(seed);
      const Attempt attempt = plan[++tried[t]];
      tolerance[t] = double_tolerance;
      StartSquare box = job.square;
      if (attempt == Attempt::in_enclosing_box) {
        std::vector<std::int32_t> next_to(cells.neighbours.begin() + cells.cell_begin[t],
                                          cells.neighbours.begin() + cells.cell_begin[t + 1]);
        for (const auto& [lister, other] : found.one_sided) {
          if (other == seed) next_to.push_back(lister);
        }
        std::erase_if(next_to, [](std::int32_t j) { return j < 0; });
        box = enclosing_box(cells, frame, job.tree, t, next_to);
      }
      recompute_cell(job, arrays, t, attempt, box, lists);
      begin.push_back(xs.size());
    }
    replace_cells(cells, again, begin, lists);
  }
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
  const StartSquare square = domain ? start_square(domain, tree.positions) : stand_in_box(tree.positions);

  const std::size_t chunks = (n + chunk_seeds - 1) / chunk_seeds;
  std::vector<std::vector<double>> chunk_xs(chunks), chunk_ys(chunks);
  std::vector<std::vector<std::int32_t>> chunk_neighbours(chunks);
  std::vector<std::int64_t> counts(n);
  const CellJob job{tree,    seeds,   owner, frame,  square,   domain ? nullptr : &unbounded_square,
                    engine,  options, out,   counts, chunk_xs, chunk_ys,
                    chunk_neighbours};
  auto start = Clock::now();
  run_cells<T>(job, threads);
  out.timings.cells = seconds_since(start);

  start = Clock::now();
  CellLists cells = concatenate(job, threads);
  make_cells_agree(job, cells, std::is_same_v<T, float>, threads);
  to_caller_order(out, cells, tree, threads);
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
