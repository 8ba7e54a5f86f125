// Cells in the form both sides of the comparison produce: cell i's vertices
// are xs/ys[cell_begin[i] .. cell_begin[i + 1]), counter-clockwise, and edge
// k (from vertex k to vertex k + 1, wrapping) lies on the bisector with seed
// neighbours[k], or on the box when neighbours[k] is negative. An empty cell
// has no vertices and area 0.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vorn::bench {

struct BoxDomain {
  double x_min = 0.0, y_min = 0.0, x_max = 1.0, y_max = 1.0;
};

struct CellsView {
  std::span<const std::int64_t> cell_begin;  // n + 1
  std::span<const double> xs, ys;
  std::span<const std::int32_t> neighbours;
  std::span<const double> areas;  // n
};

struct CellLists {
  std::vector<std::int64_t> cell_begin;
  std::vector<double> xs, ys;
  std::vector<std::int32_t> neighbours;
  std::vector<double> areas;

  CellsView view() const { return {cell_begin, xs, ys, neighbours, areas}; }
};

// Twice the signed area of the polygon (x, y) of n vertices, by the shoelace
// formula about its first vertex.
inline double twice_signed_area(const double* x, const double* y, std::size_t n) {
  double sum = 0.0;
  for (std::size_t k = 1; k + 1 < n; ++k) {
    sum += (x[k] - x[0]) * (y[k + 1] - y[0]) - (x[k + 1] - x[0]) * (y[k] - y[0]);
  }
  return sum;
}

}  // namespace vorn::bench
