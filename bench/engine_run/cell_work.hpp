// Shared by the engine benchmark's two translation units.
#pragma once

#include "support/seed_tree.hpp"

namespace vorn::bench {

// Average work per cell of an engine compiled with counters.
struct CellWork {
  double planes;       // planes yielded by the provider
  double node_tests;   // nodes tested against the cell
  double pruned;       // nodes dropped by those tests
  double group_tests;  // eight-lane bound evaluations
};

// Runs the counting engine on `cells` seeds spread over the set, box start.
template <class T>
CellWork count_cell_work(test::SeedTree const& tree, long long cells);

}  // namespace vorn::bench
