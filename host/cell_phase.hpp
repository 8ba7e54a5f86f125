// The cell phase of a power diagram: every seed's cell computed by the cell
// engine on worker threads into block lists in tree order, then the cells
// that disagree with a neighbour computed again until all agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cell_arrays.hpp"
#include "cell_completeness.hpp"
#include "cell_lists.hpp"
#include "seed_frame.hpp"
#include "vorn/host/bsp_tree.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn::host::detail {

// The numbering of a periodic diagram's lists. Its tree holds the seeds and
// copies of them (ghosts), in tree order; the lists hold a cell per seed
// (a slot, numbered in the order of the first tree) and name a neighbour
// by its seed's slot and the copy's shift.
struct CellSlots {
  // A tree seed as the lists name it: the slot of the seed it is a copy of
  // (or is), and the copy's shift (0 for the seed itself); and the tree
  // seed that owns its position (CellJob::owner).
  struct Copy {
    std::int32_t owner;
    std::int32_t slot;
    ShiftCode shift;
  };
  std::vector<std::int32_t> tree_seed;  // per slot: the tree seed whose cell it holds
  std::vector<Copy> copy;               // per tree seed
};

// Everything the workers share: inputs read-only, outputs written at
// disjoint elements (a block's own lists and figures).
struct CellJob {
  const BspTree& tree;
  const engine::WeightedSeeds2& seeds;
  const std::vector<std::int32_t>& owner;  // tree seed owning each tree seed's position
  const SeedFrame& frame;
  const StartSquare& square;
  // Set for cells of the whole plane: where the cells of the first run reach
  // `square` (the stand-in box around the seeds), the double run from this square.
  const StartSquare* unbounded_square;
  const CellEngineLibrary& engine;
  const PowerDiagramOptions& options;
  // Vertex lists by slot. Without `slots`, slot t is tree seed t and
  // neighbours are tree seeds; with them, as CellSlots says.
  CellLists& cells;
  const CellSlots* slots;
  // Periodic jobs: every recorded cell is tested for completeness.
  const Completeness* completeness;
};

// The tree seed whose cell slot `slot` holds.
inline std::size_t tree_seed_of(const CellJob& job, std::size_t slot) {
  return job.slots ? static_cast<std::size_t>(job.slots->tree_seed[slot]) : slot;
}

// Computes every cell on `threads` workers, cells of type T (float or double).
template <class T>
void run_cells(const CellJob& job, int threads);

// Computes the cells of `slots` (increasing) again on `threads` workers and
// puts them in place of their lists.
template <class T>
void run_cells_again(const CellJob& job, const std::vector<std::int32_t>& slots, int threads);

// Appends the finished cell of slot `slot`, its list and its figures, to
// `block`.
template <class T>
void record_cell(const CellJob& job, Local2<T>& cell, std::size_t slot, CellBlock& block);

// Replaces the lists of `slots` (increasing), slot k's new list being cell k
// of `fresh`; only the blocks that hold them are rewritten.
void replace_cells(CellLists& cells, const std::vector<std::int32_t>& slots, const CellBlock& fresh);

// Rounding level in the caller's units of vertices up to `magnitude` from
// the frame's shift (see cell_repair.cpp).
double rounding_level(const SeedFrame& frame, double magnitude, bool in_double);

// Whether the engine left an edge of the start box in the cell.
template <class T>
bool reaches_domain(const Local2<T>& cell) {
  for (int k = 0; k < cell.vertex_count; ++k) {
    if (cell.cut_ids[k] == domain_edge) return true;
  }
  return false;
}

// Makes every neighbour relation mutual (mutual_neighbours.hpp), computing
// the cells that disagree again, more precisely, until all agree. When two
// cells disagree with no more precise attempt left, returns false if the
// first run computed float cells (`single`), so that the caller computes all
// of them in double, and throws std::range_error otherwise. When given,
// `recomputed` receives the slots computed again (increasing).
bool make_cells_agree(const CellJob& job, bool single, int threads, std::vector<std::int32_t>* recomputed = nullptr);

}  // namespace vorn::host::detail
