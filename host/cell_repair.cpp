// Cells that disagree with a neighbour, computed again.
//
// Each cell has a list of attempts, from the first run on: in double
// precision, then (for cells of the whole plane) in a box around every
// vertex that it and the cells next to it found, with the box's edges
// standing for edges at infinity. A far vertex that the engine's growing
// stand-in misses (its growth runs nearly parallel to a bisector) is found by
// the other cells that meet there, so the box holds it.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "cell_phase.hpp"
#include "huge_pages.hpp"
#include "mutual_neighbours.hpp"
#include "worker_threads.hpp"

namespace vorn::host::detail {

namespace {

enum class Attempt { first, in_double, in_enclosing_box };

constexpr std::uint8_t max_refreshes = 8;

std::vector<Attempt> attempts(bool single, bool plane) {
  std::vector<Attempt> list{Attempt::first};
  if (single) list.push_back(Attempt::in_double);
  if (plane) list.push_back(Attempt::in_enclosing_box);
  return list;
}

// The box, in the engine's frame, around seed t and every vertex between two
// seed edges of its cell and of the cells in `next_to`, with a margin of half
// its extent.
StartSquare enclosing_box(const CellJob& job, std::size_t t, const std::vector<std::int32_t>& next_to) {
  const double x = job.tree.positions[2 * t], y = job.tree.positions[2 * t + 1];
  Box b{x, y, x, y};
  const auto take_vertices = [&](std::size_t i) {
    const CellView c = job.cells.cell(i);
    for (std::int64_t k = 0; k < c.size; ++k) {
      if (c.neighbours[k] < 0 || c.neighbours[k == 0 ? c.size - 1 : k - 1] < 0) continue;
      const double vx = job.frame.x_in(c.xs[k]), vy = job.frame.y_in(c.ys[k]);
      b = {std::min(b.x_min, vx), std::min(b.y_min, vy), std::max(b.x_max, vx), std::max(b.y_max, vy)};
    }
  };
  take_vertices(t);
  for (const std::int32_t j : next_to) take_vertices(static_cast<std::size_t>(j));
  const double extent = std::max(b.x_max - b.x_min, b.y_max - b.y_min);
  const double margin = extent > 0.0 ? extent * 0.5 : 1.0;
  return {b.x_min - margin, b.y_min - margin, b.x_max + margin, b.y_max + margin, false, 0.0, domain_edge, 0.0, 0.0};
}

// The seeds whose cells meet seed t's: those it names and those that name it
// without being named (`one_sided`: (lister, other) pairs).
std::vector<std::int32_t> cells_next_to(const CellJob& job, std::int32_t t,
                                        const std::vector<std::pair<std::int32_t, std::int32_t>>& one_sided) {
  const CellView c = job.cells.cell(static_cast<std::size_t>(t));
  std::vector<std::int32_t> next_to;
  for (std::int64_t k = 0; k < c.size; ++k) {
    if (c.neighbours[k] >= 0) next_to.push_back(c.neighbours[k]);
  }
  for (const auto& [lister, other] : one_sided) {
    if (other == t) next_to.push_back(lister);
  }
  return next_to;
}

// Computes the cell of tree seed t again, by `attempt` (with `box` for the
// enclosing-box attempt), into `block`.
void recompute_cell(const CellJob& job, CellArrays<double>& arrays, std::size_t slot, Attempt attempt,
                    const StartSquare& box, CellBlock& block) {
  const std::size_t t = tree_seed_of(job, slot);
  const double x = job.tree.positions[2 * t], y = job.tree.positions[2 * t + 1];
  const long long seed = static_cast<long long>(t);
  const int max_capacity = static_cast<int>(std::min<std::size_t>(2 * job.tree.ids.size() + 64, 1 << 30));
  if (attempt == Attempt::in_enclosing_box) {
    arrays.run(job.engine, job.seeds, seed, box, max_capacity);
    Local2<double>& cell = arrays.cell();
    cell.unbounded = reaches_domain(cell);
    std::replace(cell.cut_ids, cell.cut_ids + std::max(cell.vertex_count, 0), domain_edge, infinite_cut_id);
  } else {
    arrays.run(job.engine, job.seeds, seed, job.square.around(x, y), max_capacity);
    if (job.unbounded_square && reaches_domain(arrays.cell())) {
      arrays.run(job.engine, job.seeds, seed, job.unbounded_square->around(x, y), max_capacity);
    }
  }
  record_cell(job, arrays.cell(), slot, block);
}

}  // namespace

void replace_cells(CellLists& cells, const std::vector<std::int32_t>& slots, const CellBlock& fresh) {
  std::size_t k = 0;
  while (k < slots.size()) {
    const std::size_t b = static_cast<std::size_t>(slots[k]) / CellLists::block_cells;
    const CellBlock& old = cells.block(b);
    CellBlock rewritten;
    for (std::size_t local = 0; local < old.cell_count(); ++local) {
      const bool replaced = k < slots.size() && static_cast<std::size_t>(slots[k]) == b * CellLists::block_cells + local;
      const CellBlock& from = replaced ? fresh : old;
      const std::size_t cell = replaced ? k++ : local;
      const std::int64_t first = from.begin[cell];
      rewritten.append(from.xs.data() + first, from.ys.data() + first, from.neighbours.data() + first,
                       from.shifts.empty() ? nullptr : from.shifts.data() + first, from.begin[cell + 1] - first,
                       from.figures[cell]);
    }
    cells.block(b) = std::move(rewritten);
  }
}

// Rounding level of cell i's vertices in the caller's units: the relative
// precision of its arithmetic at the magnitude of its largest vertex (a cut
// rounds at the scale of the polygon it cuts, stand-ins of edges at infinity
// included) or of the frame, whichever is larger, and the rounding of the
// shift that brings the vertices back.
double rounding_level(const SeedFrame& frame, double magnitude, bool in_double) {
  const double shift_rounding = 0x1p-50 * (std::fabs(frame.shift_x) + std::fabs(frame.shift_y));
  return (in_double ? 0x1p-44 : 0x1p-20) * std::max(magnitude, frame.reach) + shift_rounding;
}

namespace {

double cell_tolerance(const CellJob& job, std::size_t i, bool in_double) {
  const SeedFrame& frame = job.frame;
  const CellView c = job.cells.cell(i);
  double magnitude = 0.0;
  for (std::int64_t k = 0; k < c.size; ++k) {
    magnitude = std::max({magnitude, std::fabs(c.xs[k] - frame.shift_x), std::fabs(c.ys[k] - frame.shift_y)});
  }
  return rounding_level(frame, magnitude, in_double);
}

}  // namespace

bool make_cells_agree(const CellJob& job, bool single, int threads, std::vector<std::int32_t>* recomputed) {
  const bool plane = !job.options.domain;
  const std::size_t n = job.cells.cell_count();
  std::vector<std::uint8_t> in_double(n, single ? 0 : 1);
  std::vector<double> tolerance = huge_page_vector<double>(n, 0.0, threads);
  for_each_index(job.cells.block_count(), threads, [&](std::size_t b) {
    const std::size_t end = std::min(n, (b + 1) * CellLists::block_cells);
    for (std::size_t i = b * CellLists::block_cells; i < end; ++i) tolerance[i] = cell_tolerance(job, i, !single);
  });
  const std::vector<Attempt> plan = attempts(single, plane);
  std::vector<std::uint8_t> tried(n, 0);
  std::vector<std::uint8_t> refreshed(n, 0);
  CellArrays<double> arrays(job.options.initial_capacity);
  for (;;) {
    const Disagreements found = make_neighbours_mutual(job.cells, tolerance, threads);
    std::vector<std::int32_t> again, refresh;  // refresh: again by the attempt it had
    // The pair is settled by computing again whichever of its cells still
    // has an attempt left (a cell that missed its neighbour, most often);
    // when neither has, the disagreement stands.
    for (const auto& [lister, other] : found.one_sided) {
      bool retried = false;
      for (const std::int32_t seed : {lister, other}) {
        if (tried[static_cast<std::size_t>(seed)] + 1u < plan.size()) {
          again.push_back(seed);
          retried = true;
        }
      }
      if (retried) continue;
      // Both are as precise as they get, but one may have lost its edge to
      // the other while that one was still coarse, or have had a box too
      // small for the far vertices that its neighbours found since: compute
      // both afresh (in boxes around what is known now), a few times at most.
      if (std::min(refreshed[static_cast<std::size_t>(lister)], refreshed[static_cast<std::size_t>(other)]) <
          max_refreshes) {
        for (const std::int32_t seed : {lister, other}) {
          ++refreshed[static_cast<std::size_t>(seed)];
          again.push_back(seed);
          refresh.push_back(seed);
        }
        continue;
      }
      // Float cells beside cells that double cannot settle: the caller
      // computes them all in double instead.
      if (single) return false;
      throw std::range_error(
          "the cells of seeds " + std::to_string(job.tree.ids[tree_seed_of(job, static_cast<std::size_t>(lister))]) +
          " and " + std::to_string(job.tree.ids[tree_seed_of(job, static_cast<std::size_t>(other))]) +
          " disagree on whether they are neighbours, even when computed again in double precision" +
          (plane ? " in a box around their vertices: cells of the whole plane reach so far here that double "
                   "precision cannot place their vertices; give a domain box"
                 : ": the seeds are closer together than double precision resolves"));
    }
    // A cell too small for float is computed in double; one too small for
    // double keeps its short edges.
    for (const std::int32_t seed : found.collapsed) {
      if (!in_double[static_cast<std::size_t>(seed)]) again.push_back(seed);
    }
    if (again.empty()) {
      if (recomputed) std::sort(recomputed->begin(), recomputed->end());
      if (recomputed) recomputed->erase(std::unique(recomputed->begin(), recomputed->end()), recomputed->end());
      return true;
    }
    std::sort(refresh.begin(), refresh.end());
    std::sort(again.begin(), again.end());
    again.erase(std::unique(again.begin(), again.end()), again.end());
    if (recomputed) recomputed->insert(recomputed->end(), again.begin(), again.end());
    CellBlock fresh;
    for (const std::int32_t seed : again) {
      const std::size_t t = static_cast<std::size_t>(seed);
      if (!std::binary_search(refresh.begin(), refresh.end(), seed)) ++tried[t];
      const Attempt attempt = plan[tried[t]];
      in_double[t] = 1;
      const StartSquare box = attempt == Attempt::in_enclosing_box
                                  ? enclosing_box(job, t, cells_next_to(job, seed, found.one_sided))
                                  : job.square;
      recompute_cell(job, arrays, t, attempt, box, fresh);
    }
    replace_cells(job.cells, again, fresh);
    for (const std::int32_t seed : again) {
      tolerance[static_cast<std::size_t>(seed)] = cell_tolerance(job, static_cast<std::size_t>(seed), true);
    }
  }
}

}  // namespace vorn::host::detail
