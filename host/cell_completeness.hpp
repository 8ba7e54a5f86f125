// Whether a cell computed among some of the seeds is complete: no seed
// beyond the region whose seeds were all among them can cut it. Periodic
// diagrams know the copies of the seeds in a band around the box; a
// distributed diagram knows a rank's region and a band of ghost seeds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vorn/host/power_diagram.hpp"

namespace vorn::host::detail {

// What the test needs: the region whose every seed (or copy) was among the
// seeds, in the units of the cells' vertices. Its sides may be infinite.
struct KnownRegion {
  Box region;
  // Periodic diagrams: half the period along x and y; +infinity where
  // seeds have no copies.
  double half_period_x, half_period_y;
  double heaviest;  // the largest weight of a seed beyond the region
};

// The periodic test, in the engine's frame (SeedFrame), and where each
// slot's verdict goes.
struct Completeness {
  KnownRegion known;                    // the box widened by the band: every copy inside it was among the seeds
  // The rounding level of float and of double vertices anywhere in the
  // region, which the frame's reach bounds.
  double rounding_single, rounding_double;
  std::vector<std::uint8_t>& complete;  // per slot, written by the worker that records the slot's cell
};

// Whether the cell (vertices xs/ys[0, n)) of the seed at (x, y) with weight
// w is complete: empty, or such that no copy beyond the band has a smaller
// power distance than the seed's own at any vertex, so that every such
// copy's half-plane holds the vertices and with them the convex cell. (The
// cell is the start rectangle, which holds the complete cell, cut by some
// of the seeds; an empty one is empty for good.) A vertex v passes either
// way (rounding: the vertices' rounding level, taken off every distance):
// - (periodic) the rectangle of half a period each way around v lies in the region:
//   it holds the copy of every seed nearest to v, whose power distance at v
//   is the least of all that seed's copies (they weigh the same), and the
//   cell already lies on the seed's side of that copy's bisector;
// - |v - p|^2 + (heaviest - w) <= d(v)^2, d(v) the distance from v to the
//   outside of the region: a copy beyond the band weighs at most
//   `heaviest` and lies at least d(v) from v. (An infinite d(v), a region
//   unbounded all round, passes every vertex.)
template <class T>
bool is_complete(const KnownRegion& c, double x, double y, double w, const T* xs, const T* ys, std::size_t n,
                 double rounding) {
  const Box& r = c.region;
  const double reach_x = c.half_period_x + rounding, reach_y = c.half_period_y + rounding;
  for (std::size_t k = 0; k < n; ++k) {
    const double vx = xs[k], vy = ys[k];
    const double left = vx - r.x_min, right = r.x_max - vx, below = vy - r.y_min, above = r.y_max - vy;
    if (left > reach_x && right > reach_x && below > reach_y && above > reach_y) continue;
    const double d = std::min({left, right, below, above}) - rounding;
    const double dx = vx - x, dy = vy - y;
    // The factor covers the rounding of the power distance's own terms.
    if (!(d > 0.0) || ((dx * dx + dy * dy) + (c.heaviest - w)) * (1.0 + 0x1p-40) > d * d) return false;
  }
  return true;
}

}  // namespace vorn::host::detail
