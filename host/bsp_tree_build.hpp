// The seeds' BSP built over arrays the caller hands over: the tree's first
// level reads them in place, and they become the tree's own, so a diagram
// keeps no second copy of its seeds while the tree is built.
#pragma once

#include <vector>

#include "vorn/host/bsp_tree.hpp"

namespace vorn::host::detail {

// build_bsp_tree over `positions` and `weights`, which it takes.
BspTree build_bsp_tree_over(BspUnit unit, std::vector<double> positions, std::vector<double> weights,
                            long long leaf_size, IsaLevel isa, int threads);

}  // namespace vorn::host::detail
