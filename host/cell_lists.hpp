// The vertex lists of a diagram's cells, in blocks of consecutive cells: a
// worker fills one block at a time, and a block can be rewritten without
// moving any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <vector>

#include "huge_pages.hpp"

namespace vorn::host::detail {

// The copy of a seed that an edge of a periodic cell names: (sx, sy) periods
// away, packed as two signed bytes, sx low; 0 is the seed itself.
using ShiftCode = std::uint16_t;

constexpr ShiftCode shift_code(int sx, int sy) {
  return static_cast<ShiftCode>(static_cast<std::uint8_t>(sx) | static_cast<std::uint8_t>(sy) << 8);
}
constexpr int shift_x(ShiftCode code) { return static_cast<std::int8_t>(code & 0xff); }
constexpr int shift_y(ShiftCode code) { return static_cast<std::int8_t>(code >> 8); }
// The shift under which the copy sees the seed: if i names j's copy at +s, j names i's at -s.
constexpr ShiftCode opposite(ShiftCode code) { return shift_code(-shift_x(code), -shift_y(code)); }

// A cell's own figures in the caller's units (see PowerDiagram), kept with
// its lists in tree order: written there as each cell is recorded, they go
// to the caller's numbering in one pass with the vertices, not one
// scattered write per figure between engine calls.
struct CellFigures {
  double area;
  double centroid_x;
  double centroid_y;
  bool empty;
  bool unbounded;
};

// Cell k of a block has vertices xs/ys[begin[k] .. begin[k + 1]),
// counter-clockwise; edge j runs from vertex j to the next and neighbours[j]
// names the seed (in the lists' own numbering) whose bisector it lies on, or
// is a negative marker (domain or infinite edge). Lists of periodic cells
// also hold shifts[j], the copy of that seed the edge faces; other lists
// keep `shifts` empty; figures[k] are cell k's figures. A block's arrays
// come from `memory` (by default the heap); assigning one block to another
// copies the lists into the target's memory.
struct CellBlock {
  CellBlock() = default;
  explicit CellBlock(std::pmr::memory_resource* memory)
      : begin(1, 0, memory), xs(memory), ys(memory), neighbours(memory), shifts(memory), figures(memory) {}

  std::pmr::vector<std::int64_t> begin{0};
  std::pmr::vector<double> xs;
  std::pmr::vector<double> ys;
  std::pmr::vector<std::int32_t> neighbours;
  std::pmr::vector<ShiftCode> shifts;
  std::pmr::vector<CellFigures> figures;

  std::size_t cell_count() const { return begin.size() - 1; }
  void clear() {
    begin.assign(1, 0);
    xs.clear(), ys.clear(), neighbours.clear(), shifts.clear(), figures.clear();
  }
  // Appends one more cell of `count` vertices; `copies` is null for a cell
  // without shifts.
  void append(const double* x, const double* y, const std::int32_t* ids, const ShiftCode* copies,
              std::int64_t count, const CellFigures& figure) {
    xs.insert(xs.end(), x, x + count);
    ys.insert(ys.end(), y, y + count);
    neighbours.insert(neighbours.end(), ids, ids + count);
    if (copies) shifts.insert(shifts.end(), copies, copies + count);
    begin.push_back(static_cast<std::int64_t>(xs.size()));
    figures.push_back(figure);
  }
};

// One cell's lists, read only; `shifts` is null in lists without shifts.
struct CellView {
  const double* xs;
  const double* ys;
  const std::int32_t* neighbours;
  const ShiftCode* shifts;
  std::int64_t size;
  const CellFigures& figures;

  ShiftCode shift(std::int64_t k) const { return shifts ? shifts[k] : ShiftCode{0}; }
};

class CellLists {
 public:
  static constexpr std::size_t block_cells = 256;
  static constexpr std::size_t arena_cells = std::size_t{1} << 15;

  // The lists of many cells live in an arena of their own, on huge pages: a
  // diagram of 10^6 cells writes about 100 MiB of them. Fewer than
  // `arena_cells` (a few MiB of lists) take the heap's memory, which a
  // fresh 2 MiB page would cost more than it saves.
  explicit CellLists(std::size_t cells)
      : cells_(cells), arena_(cells >= arena_cells ? std::make_unique<HugePageArena>() : nullptr) {
    const std::size_t count = (cells + block_cells - 1) / block_cells;
    std::pmr::memory_resource* memory = arena_ ? arena_.get() : std::pmr::get_default_resource();
    blocks_.reserve(count);
    for (std::size_t b = 0; b < count; ++b) blocks_.emplace_back(memory);
  }

  std::size_t cell_count() const { return cells_; }
  std::size_t block_count() const { return blocks_.size(); }
  CellBlock& block(std::size_t b) { return blocks_[b]; }
  const CellBlock& block(std::size_t b) const { return blocks_[b]; }

  CellView cell(std::size_t i) const {
    const CellBlock& b = blocks_[i / block_cells];
    const std::size_t k = i % block_cells;
    const std::size_t first = static_cast<std::size_t>(b.begin[k]);
    const ShiftCode* shifts = b.shifts.empty() ? nullptr : b.shifts.data() + first;
    return {b.xs.data() + first, b.ys.data() + first, b.neighbours.data() + first,
            shifts,          b.begin[k + 1] - b.begin[k], b.figures[k]};
  }

 private:
  std::size_t cells_;
  std::unique_ptr<HugePageArena> arena_;  // before the blocks, which it outlives
  std::vector<CellBlock> blocks_;
};

}  // namespace vorn::host::detail
