#include "cell_phase.hpp"

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>
#include <optional>

#include "worker_threads.hpp"

namespace vorn::host::detail {

namespace {

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

}  // namespace

template <class T>
void record_cell(const CellJob& job, Local2<T>& cell, std::size_t t, CellBlock& block) {
  const std::size_t caller = static_cast<std::size_t>(job.tree.ids[t]);
  // Edges on the bisectors of seeds at one position name the same owner, so
  // they are joined too.
  const std::size_t vertices = static_cast<std::size_t>(std::max(cell.vertex_count, 0));
  for (std::size_t k = 0; k < vertices; ++k) cell.cut_ids[k] = neighbour_of(job, cell.cut_ids[k]);
  const std::size_t n = keep_corners(cell.xs, cell.ys, cell.cut_ids, vertices);
  for (std::size_t k = 0; k < n; ++k) {
    block.xs.push_back(job.frame.x_out(static_cast<double>(cell.xs[k])));
    block.ys.push_back(job.frame.y_out(static_cast<double>(cell.ys[k])));
    block.neighbours.push_back(cell.cut_ids[k]);
  }
  block.begin.push_back(static_cast<std::int64_t>(block.xs.size()));
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


namespace {

// The cells of block b's tree seeds. `recheck` is given exactly when the job
// has an unbounded square for cells that reach the stand-in box.
// The block is filled in `scratch`, whose arrays keep their capacity from
// block to block, and then copied to lists of its exact size: one
// allocation per list, no regrowth, no slack kept for the diagram's life.
template <class T>
void run_block(const CellJob& job, CellArrays<T>& arrays, CellArrays<double>* recheck, std::size_t b,
               int max_capacity, CellBlock& scratch) {
  scratch.clear();
  const std::size_t begin = b * CellLists::block_cells;
  const std::size_t end = std::min(job.cells.cell_count(), begin + CellLists::block_cells);
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
        record_cell(job, recheck->cell(), t, scratch);
        continue;
      }
    }
    record_cell(job, arrays.cell(), t, scratch);
  }
  job.cells.block(b) = scratch;
}

}  // namespace

template <class T>
void run_cells(const CellJob& job, int threads) {
  const long long n = static_cast<long long>(job.cells.cell_count());
  const std::size_t blocks = job.cells.block_count();
  const int max_capacity = static_cast<int>(std::min<long long>(2 * n + 64, std::numeric_limits<int>::max() / 2));
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex progress_mutex;
  long long done = 0;
  run_workers(threads, [&] {
    CellArrays<T> arrays(job.options.initial_capacity);
    std::optional<CellArrays<double>> recheck;
    if (job.unbounded_square) recheck.emplace(job.options.initial_capacity);
    CellBlock scratch;
    try {
      for (std::size_t b = next++; b < blocks && !failed; b = next++) {
        run_block(job, arrays, recheck ? &*recheck : nullptr, b, max_capacity, scratch);
        if (!job.options.progress) continue;
        std::lock_guard lock(progress_mutex);
        done += std::min<long long>(CellLists::block_cells, n - static_cast<long long>(b * CellLists::block_cells));
        job.options.progress(done, n);
      }
    } catch (...) {
      failed = true;  // the other workers stop at their next block
      throw;
    }
  });
}

template void run_cells<float>(const CellJob&, int);
template void run_cells<double>(const CellJob&, int);
template void record_cell<double>(const CellJob&, Local2<double>&, std::size_t, CellBlock&);

}  // namespace vorn::host::detail
