// The peer power diagram: a regular triangulation (exact predicates, inexact
// constructions) of the weighted seeds, then every seed's cell clipped to the
// box, read off the triangulation's dual. A weighted point (a, w) has power
// |p - a|^2 - w at p, the same convention as vorn's seeds.
#pragma once

#include <span>

#include "cells.hpp"

namespace vorn::bench {

struct PeerTimings {
  double triangulation = 0.0;  // copying the seeds in, spatial sort and insertion
  double extraction = 0.0;     // power vertices, clipped cells, areas, gathering
};

// The cells of `positions` (n x 2) with `weights` (n) clipped to `box`, in
// the input numbering; hidden seeds get empty cells. The triangulation runs
// on one thread (the library has no parallel 2-D insertion); the extraction
// runs on `threads` threads. Throws std::runtime_error if the seeds do not
// span the plane.
CellLists cgal_power_cells(std::span<const double> positions, std::span<const double> weights, const BoxDomain& box,
                           int threads, PeerTimings& timings);

}  // namespace vorn::bench
