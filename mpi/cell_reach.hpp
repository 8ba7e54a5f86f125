// Where a seed not yet known could still cut a cell computed among some of
// the seeds.
#pragma once

#include <cstddef>
#include <optional>

#include "vorn/host/power_diagram.hpp"

namespace vorn::mpi {

// The rectangle outside which no seed weighing at most `heaviest` cuts the
// cell (vertices xs/ys[0, n), in the seeds' units) of the seed at (x, y)
// with weight w: the vertices' bounding box widened each way by rho, where
// rho^2 is the largest |v - p|^2 + (heaviest - w) over the vertices v, and
// by `rounding`, the vertices' rounding level. A seed q beyond it lies
// farther than rho from every vertex, so |v - q|^2 - w_q > |v - p|^2 - w:
// its half-plane holds every vertex, and with them the convex cell.
// Nothing for an empty cell, which more seeds leave empty.
std::optional<host::Box> cut_reach(double x, double y, double w, const double* xs, const double* ys, std::size_t n,
                                   double heaviest, double rounding);

// Whether `outer` holds `inner` (sides may be infinite).
bool holds(const host::Box& outer, const host::Box& inner);

// `box` widened by `margin` on every side.
host::Box widened(const host::Box& box, double margin);

}  // namespace vorn::mpi
