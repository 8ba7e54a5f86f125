// The vertex lists of a diagram's cells, as one set of arrays.
#pragma once

#include <cstdint>
#include <vector>

namespace vorn::host::detail {

// Cell i's vertices are xs/ys[cell_begin[i] .. cell_begin[i + 1]), counter-
// clockwise; edge k runs from vertex k to the next and neighbours[k] names
// the seed (in the lists' own numbering) whose bisector it lies on, or is a
// negative marker (domain or infinite edge).
struct CellLists {
  std::vector<std::int64_t> cell_begin{0};
  std::vector<double> xs;
  std::vector<double> ys;
  std::vector<std::int32_t> neighbours;

  std::int64_t cell_count() const { return static_cast<std::int64_t>(cell_begin.size()) - 1; }
};

}  // namespace vorn::host::detail
