#include "cell_phase.hpp"

#include <algorithm>
#include <atomic>
#include <type_traits>
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
  // A periodic job keeps the owner next to the slot and shift, which are
  // looked up next: one cache line for both.
  const std::size_t t = static_cast<std::size_t>(cut_id);
  return job.slots ? job.slots->copy[t].owner : job.owner[t];
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

namespace {

// The copy of itself that a periodic cell faces across edge k of its start
// rectangle: the rectangle is traversed counter-clockwise from its low
// corner, so the edge's direction tells its side (bottom +x, right +y, top
// -x, left -y), and beyond each side lies the nearest copy that way.
template <class T>
ShiftCode own_copy_across(const Local2<T>& cell, std::size_t k, std::size_t n) {
  const std::size_t next = k + 1 == n ? 0 : k + 1;
  const T dx = cell.xs[next] - cell.xs[k], dy = cell.ys[next] - cell.ys[k];
  if ((dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy)) return dx > 0 ? shift_code(0, -1) : shift_code(0, 1);
  return dy > 0 ? shift_code(1, 0) : shift_code(-1, 0);
}

// Appends the first n edges' neighbours to `block`: tree seeds as they
// are, or for a periodic job the slot and shift of each (the start
// rectangle's edges face the cell's own copies).
template <class T>
void append_neighbours(const CellJob& job, const Local2<T>& cell, std::size_t slot, std::size_t n, CellBlock& block) {
  if (!job.slots) {
    block.neighbours.insert(block.neighbours.end(), cell.cut_ids, cell.cut_ids + n);
    return;
  }
  for (std::size_t k = 0; k < n; ++k) {
    const std::int32_t id = cell.cut_ids[k];
    const CellSlots::Copy copy = id == domain_edge
                                     ? CellSlots::Copy{0, static_cast<std::int32_t>(slot), own_copy_across(cell, k, n)}
                                     : job.slots->copy[static_cast<std::size_t>(id)];
    block.neighbours.push_back(copy.slot);
    block.shifts.push_back(copy.shift);
  }
}

}  // namespace

template <class T>
void record_cell(const CellJob& job, Local2<T>& cell, std::size_t slot, CellBlock& block) {
  // Edges on the bisectors of seeds at one position name the same owner, so
  // they are joined too.
  const std::size_t vertices = static_cast<std::size_t>(std::max(cell.vertex_count, 0));
  for (std::size_t k = 0; k < vertices; ++k) cell.cut_ids[k] = neighbour_of(job, cell.cut_ids[k]);
  const std::size_t n = keep_corners(cell.xs, cell.ys, cell.cut_ids, vertices);
  for (std::size_t k = 0; k < n; ++k) {
    block.xs.push_back(job.frame.x_out(static_cast<double>(cell.xs[k])));
    block.ys.push_back(job.frame.y_out(static_cast<double>(cell.ys[k])));
  }
  append_neighbours(job, cell, slot, n, block);
  block.begin.push_back(static_cast<std::int64_t>(block.xs.size()));
  if (const Completeness* c = job.completeness) {
    const std::size_t t = tree_seed_of(job, slot);
    const double rounding = std::is_same_v<T, double> ? c->rounding_double : c->rounding_single;
    c->complete[slot] = is_complete(c->known, job.tree.positions[2 * t], job.tree.positions[2 * t + 1],
                                    job.tree.weights[t], cell.xs, cell.ys, n, rounding);
  }
  CellFigures f{0.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN(), n == 0,
                n != 0 && cell.unbounded};
  if (f.unbounded) f.area = std::numeric_limits<double>::infinity();
  if (n != 0 && !cell.unbounded) {
    measure(cell.xs, cell.ys, n, f.area, f.centroid_x, f.centroid_y);
    f.area = job.frame.area_out(f.area);
    f.centroid_x = job.frame.x_out(f.centroid_x);
    f.centroid_y = job.frame.y_out(f.centroid_y);
  }
  // A periodic cell recorded before its band proved wide enough only
  // shrinks when computed again, so a small one is small in the end too.
  if (job.options.minimum_area > 0.0 && f.area < job.options.minimum_area) {
    throw SmallCellError(job.tree.ids[tree_seed_of(job, slot)], f.area, job.options.minimum_area);
  }
  block.figures.push_back(f);
}


namespace {

// The cells of block b's tree seeds. `recheck` is given exactly when the job
// has an unbounded square for cells that reach the stand-in box.
// The block is filled in `scratch`, whose arrays keep their capacity from
// block to block, and then copied to lists of its exact size: one
// allocation per list, no regrowth, no slack kept for the diagram's life.
// The cell of slot `slot`, appended to `block`.
template <class T>
void run_cell(const CellJob& job, CellArrays<T>& arrays, CellArrays<double>* recheck, std::size_t slot,
              int max_capacity, CellBlock& block) {
  const std::size_t t = tree_seed_of(job, slot);
  const double x = job.tree.positions[2 * t], y = job.tree.positions[2 * t + 1];
  // A seed that does not own its position keeps the empty cell: the owner
  // is at least as heavy, so its bisector leaves nothing.
  if (job.owner[t] != static_cast<std::int32_t>(t)) {
    arrays.start(job.square.around(x, y));
    arrays.cell().vertex_count = 0;
  } else {
    arrays.run(job.engine, job.seeds, static_cast<long long>(t), job.square.around(x, y), max_capacity);
    if (recheck && reaches_domain(arrays.cell())) {
      recheck->run(job.engine, job.seeds, static_cast<long long>(t), job.unbounded_square->around(x, y),
                   max_capacity);
      record_cell(job, recheck->cell(), slot, block);
      return;
    }
  }
  record_cell(job, arrays.cell(), slot, block);
}

// A convex cell of n seeds in a box has at most n + 4 vertices, so needing
// more slots means the engine is not converging.
int max_capacity_of(const CellJob& job) {
  return static_cast<int>(std::min<std::size_t>(2 * job.tree.ids.size() + 64, std::numeric_limits<int>::max() / 2));
}

template <class T>
void run_block(const CellJob& job, CellArrays<T>& arrays, CellArrays<double>* recheck, std::size_t b,
               int max_capacity, CellBlock& scratch) {
  scratch.clear();
  const std::size_t begin = b * CellLists::block_cells;
  const std::size_t end = std::min(job.cells.cell_count(), begin + CellLists::block_cells);
  for (std::size_t slot = begin; slot < end; ++slot) run_cell(job, arrays, recheck, slot, max_capacity, scratch);
  job.cells.block(b) = scratch;
}

}  // namespace

template <class T>
void run_cells(const CellJob& job, int threads) {
  const long long n = static_cast<long long>(job.cells.cell_count());
  const std::size_t blocks = job.cells.block_count();
  const int max_capacity = max_capacity_of(job);
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

template <class T>
void run_cells_again(const CellJob& job, const std::vector<std::int32_t>& slots, int threads) {
  const std::size_t chunks = (slots.size() + CellLists::block_cells - 1) / CellLists::block_cells;
  std::vector<CellBlock> fresh(chunks);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex progress_mutex;
  const long long n = static_cast<long long>(job.cells.cell_count());
  run_workers(threads, [&] {
    CellArrays<T> arrays(job.options.initial_capacity);
    try {
      for (std::size_t c = next++; c < chunks && !failed; c = next++) {
        const std::size_t end = std::min(slots.size(), (c + 1) * CellLists::block_cells);
        for (std::size_t k = c * CellLists::block_cells; k < end; ++k) {
          run_cell<T>(job, arrays, nullptr, static_cast<std::size_t>(slots[k]), max_capacity_of(job), fresh[c]);
        }
        // No cell is added, but the caller may stop here.
        if (!job.options.progress) continue;
        std::lock_guard lock(progress_mutex);
        job.options.progress(n, n);
      }
    } catch (...) {
      failed = true;
      throw;
    }
  });
  CellBlock all;
  for (const CellBlock& chunk : fresh) {
    for (std::size_t k = 0; k < chunk.cell_count(); ++k) {
      const std::int64_t first = chunk.begin[k];
      all.append(chunk.xs.data() + first, chunk.ys.data() + first, chunk.neighbours.data() + first,
                 chunk.shifts.empty() ? nullptr : chunk.shifts.data() + first, chunk.begin[k + 1] - first,
                 chunk.figures[k]);
    }
  }
  replace_cells(job.cells, slots, all);
}

template void run_cells<float>(const CellJob&, int);
template void run_cells_again<float>(const CellJob&, const std::vector<std::int32_t>&, int);
template void run_cells_again<double>(const CellJob&, const std::vector<std::int32_t>&, int);
template void run_cells<double>(const CellJob&, int);
template void record_cell<double>(const CellJob&, Local2<double>&, std::size_t, CellBlock&);

}  // namespace vorn::host::detail
