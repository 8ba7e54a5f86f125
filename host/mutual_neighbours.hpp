// Neighbour relations that hold on both sides.
//
// Where seeds are co-circular (grids, lattices) their cells meet at a point,
// and rounding leaves some cells an edge of a few ulps naming a seed that
// only touches them, and others none. Two seeds are neighbours when either
// side's shared edge is longer than a tolerance at the rounding level of
// the two cells' arithmetic; shorter ones are removed on both sides. A pair
// of neighbours of which only one side lists the other is an inconsistency
// that the caller resolves by computing those cells more precisely.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "cell_lists.hpp"

namespace vorn::host::detail {

struct Disagreements {
  // Pairs of neighbours that only one side lists: (the seed that lists the
  // other, the other), in increasing order.
  std::vector<std::pair<std::int32_t, std::int32_t>> one_sided;
  // Seeds of cells that removing their short edges would leave with fewer
  // than three vertices (kept as they were, short edges and all), and the
  // seeds those edges name: a cell about as small as its arithmetic resolves.
  std::vector<std::int32_t> collapsed;
};

// Removes, in every cell, the edges naming a seed whose shared edge with the
// cell is at most the pair's tolerance long on both sides (the larger of
// the two cells' `tolerance`), joining the edges next to them where they
// name the same seed. Returns what disagrees, each pair or seed once.
// In periodic lists a neighbour is a seed and a copy of it: cell i naming
// j's copy at shift s agrees with cell j naming i's copy at -s (a seed may
// face copies of itself, and several copies of one seed).
Disagreements make_neighbours_mutual(CellLists& cells, const std::vector<double>& tolerance, int threads);

}  // namespace vorn::host::detail
