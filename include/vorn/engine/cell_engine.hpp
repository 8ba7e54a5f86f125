// The cell engine's interface for hosts (library unit_cell_engine_2d).
//
// engine_run cuts `cell` in place to the power cell of seed `seed_index` of
// `seeds` (index in tree order) clipped to the starting polygon, and returns
// (named in engine_entry_names.hpp)
//   0  finished: vertex_count 0 means the cell is empty; unbounded still 1
//      means no seed bounded it and the polygon is the unbounded region left
//   3  the cell's storage is too small (vertex_capacity below 8 for a bounded
//      cell, or a cut needed more slots); the cell holds the polygon cut so
//      far, a superset of the final cell: enlarge the arrays and call again.
// Calls are re-entrant and may run concurrently over one shared seed set,
// each with its own cell. The engine allocates nothing and validates nothing.
#pragma once

#include "vorn/engine/local2.hpp"
#include "vorn/engine/bsp_seeds.hpp"

namespace vorn::engine {

template <class Cell, class Seeds>
int engine_run(Cell& cell, Seeds const& seeds, long long seed_index);

// The library's only two exports.
extern template int engine_run<Local2<float>, WeightedSeeds2>(Local2<float>& cell, WeightedSeeds2 const& seeds,
                                                              long long seed_index);
extern template int engine_run<Local2<double>, WeightedSeeds2>(Local2<double>& cell, WeightedSeeds2 const& seeds,
                                                               long long seed_index);

}  // namespace vorn::engine
