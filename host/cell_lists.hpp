// The vertex lists of a diagram's cells, in blocks of consecutive cells: a
// worker fills one block at a time, and a block can be rewritten without
// moving any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorn::host::detail {

// Cell k of a block has vertices xs/ys[begin[k] .. begin[k + 1]),
// counter-clockwise; edge j runs from vertex j to the next and neighbours[j]
// names the seed (in the lists' own numbering) whose bisector it lies on, or
// is a negative marker (domain or infinite edge).
struct CellBlock {
  std::vector<std::int64_t> begin{0};
  std::vector<double> xs;
  std::vector<double> ys;
  std::vector<std::int32_t> neighbours;

  std::size_t cell_count() const { return begin.size() - 1; }
  void clear() {
    begin.assign(1, 0);
    xs.clear(), ys.clear(), neighbours.clear();
  }
  // Appends one more cell of `count` vertices.
  void append(const double* x, const double* y, const std::int32_t* ids, std::int64_t count) {
    xs.insert(xs.end(), x, x + count);
    ys.insert(ys.end(), y, y + count);
    neighbours.insert(neighbours.end(), ids, ids + count);
    begin.push_back(static_cast<std::int64_t>(xs.size()));
  }
};

// One cell's lists, read only.
struct CellView {
  const double* xs;
  const double* ys;
  const std::int32_t* neighbours;
  std::int64_t size;
};

class CellLists {
 public:
  static constexpr std::size_t block_cells = 256;

  explicit CellLists(std::size_t cells) : cells_(cells), blocks_((cells + block_cells - 1) / block_cells) {}

  std::size_t cell_count() const { return cells_; }
  std::size_t block_count() const { return blocks_.size(); }
  CellBlock& block(std::size_t b) { return blocks_[b]; }
  const CellBlock& block(std::size_t b) const { return blocks_[b]; }

  CellView cell(std::size_t i) const {
    const CellBlock& b = blocks_[i / block_cells];
    const std::size_t k = i % block_cells;
    const std::size_t first = static_cast<std::size_t>(b.begin[k]);
    return {b.xs.data() + first, b.ys.data() + first, b.neighbours.data() + first, b.begin[k + 1] - b.begin[k]};
  }

 private:
  std::size_t cells_;
  std::vector<CellBlock> blocks_;
};

}  // namespace vorn::host::detail
