// The peer tree: a kd-tree over the seeds' positions with the same leaf size
// as vorn's BSP, built on one thread (the library version packaged here has
// no parallel build).
#pragma once

#include <span>

namespace vorn::bench {

struct KdTreeBuild {
  double seconds = 0.0;  // building the index (the tree and its boxes)
  long long leaves = 0;  // leaves of the finished tree, a check that it was built
};

// Builds the tree over `positions` (n x 2) with at most `leaf_size` points
// per leaf, and frees it after timing.
KdTreeBuild build_kd_tree(std::span<const double> positions, long long leaf_size);

}  // namespace vorn::bench
