// Agreement of two computations of the same clipped power diagram.
//
// Cell i agrees when
//   - |area_a - area_b| <= area_tolerance * max(area_a, area_b, area_floor),
//     an empty cell having area 0. The floor keeps the test meaningful for
//     slivers far smaller than their neighbours: the rounding of their
//     vertices scales with the neighbouring cells, not with their own area;
//   - their seed neighbour sets match, where an edge no longer than
//     edge_tolerance is degenerate: its neighbour may be missing on the other
//     side. (Four or more nearly co-circular seeds meet at nearly one power
//     vertex; whether the rounded vertices leave a zero-length edge between
//     two of them is not a property of the diagram.)
// Box edges (negative neighbours) are not compared; the areas cover them.
#pragma once

#include <string>

#include "cells.hpp"

namespace vorn::bench {

struct CheckTolerances {
  double area = 1e-9;        // relative
  double area_floor = 0.0;   // absolute, in the domain's area unit
  double edge = 0.0;         // absolute length
};

struct CheckReport {
  long long cells = 0;
  long long empty_cells = 0;          // empty on both sides
  long long degenerate_empty = 0;     // empty on one side, within the area tolerance of 0 on the other
  long long degenerate_edges = 0;     // neighbours on degenerate edges found on one side only
  long long area_mismatches = 0;
  long long neighbour_mismatches = 0;
  double max_area_difference = 0.0;   // the largest |a - b| / max(a, b, area_floor)
  std::string first_mismatch;         // describes the first disagreeing cell

  bool agrees() const { return area_mismatches == 0 && neighbour_mismatches == 0; }
};

CheckReport compare_cells(const CellsView& a, const CellsView& b, const CheckTolerances& tolerances);

}  // namespace vorn::bench
