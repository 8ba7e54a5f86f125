// The split of the plane among the ranks of a distributed diagram: the top
// levels of a k-d tree over a sample of the seeds, one leaf rectangle per
// rank, balanced by the sample's quantiles.
#pragma once

#include <cstdint>
#include <vector>

#include "vorn/host/power_diagram.hpp"

namespace vorn::mpi {

struct SamplePoint {
  double x, y;
  std::int64_t seed;  // the seed's number in the caller's set, which breaks ties
};

// Every rank builds the same split from the same sample. The regions tile
// the plane: a side on the plane's edge is infinite, so a seed outside the
// domain box has an owner too, and a point on a cut belongs to the region
// above it.
struct PlaneSplit {
  // An inner node cuts along x (axis 0) or y (axis 1); a child is a node
  // index, or ~rank for a leaf.
  struct Node {
    int axis;
    double cut;
    int below, above;
  };
  std::vector<Node> nodes;         // node 0 is the root; empty for a single rank
  std::vector<host::Box> regions;  // per rank

  int owner(double x, double y) const;
};

// Splits `domain`'s plane among `ranks` regions: a node of k ranks gives
// floor(k / 2) of them to the part below its cut, which is the sample's
// quantile at that share along the longer side of the node's rectangle
// within the domain. With an empty sample the cut halves that side.
PlaneSplit split_plane(std::vector<SamplePoint> sample, int ranks, const host::Box& domain);

}  // namespace vorn::mpi
