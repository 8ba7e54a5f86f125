#include "kd_tree.hpp"

#include <nanoflann.hpp>

#include <chrono>

namespace vorn::bench {

namespace {

// The point cloud as the kd-tree reads it, over the caller's array.
struct Cloud {
  std::span<const double> positions;

  std::size_t kdtree_get_point_count() const { return positions.size() / 2; }
  double kdtree_get_pt(std::size_t index, std::size_t axis) const { return positions[2 * index + axis]; }
  template <class Box>
  bool kdtree_get_bbox(Box&) const {
    return false;  // let the tree compute its own box
  }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Cloud>, Cloud, 2>;

template <class Node>
long long count_leaves(const Node* node) {
  if (node->child1 == nullptr && node->child2 == nullptr) return 1;
  return count_leaves(node->child1) + count_leaves(node->child2);
}

}  // namespace

KdTreeBuild build_kd_tree(std::span<const double> positions, long long leaf_size) {
  const Cloud cloud{positions};
  const auto start = std::chrono::steady_clock::now();
  const Tree tree(2, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(static_cast<std::size_t>(leaf_size)));
  KdTreeBuild build;
  build.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  build.leaves = tree.root_node == nullptr ? 0 : count_leaves(tree.root_node);
  return build;
}

}  // namespace vorn::bench
