#include "mutual_neighbours.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "vorn/host/power_diagram.hpp"
#include "worker_threads.hpp"

namespace vorn::host::detail {

namespace {

using Pair = std::pair<std::int32_t, std::int32_t>;

std::int64_t next_vertex(const CellView& c, std::int64_t k) { return k + 1 == c.size ? 0 : k + 1; }

// An edge next to an edge at infinity is a ray: its finite stand-in may be
// as short as it likes, the edge is not.
bool is_ray(const CellView& c, std::int64_t k) {
  return c.neighbours[k == 0 ? c.size - 1 : k - 1] == infinite_edge || c.neighbours[next_vertex(c, k)] == infinite_edge;
}

// Squared length of edge k, infinite for a ray.
double squared_length(const CellView& c, std::int64_t k) {
  if (is_ray(c, k)) return std::numeric_limits<double>::infinity();
  const std::int64_t next = next_vertex(c, k);
  const double dx = c.xs[next] - c.xs[k], dy = c.ys[next] - c.ys[k];
  return dx * dx + dy * dy;
}

// Whether an edge of the cell names seed j's copy `shift`.
bool names(const CellView& c, std::int32_t j, ShiftCode shift) {
  const std::int32_t* end = c.neighbours + c.size;
  for (const std::int32_t* at = std::find(c.neighbours, end, j); at != end; at = std::find(at + 1, end, j)) {
    if (c.shift(at - c.neighbours) == shift) return true;
  }
  return false;
}

// Total length of the cell's edges that name seed j's copy `shift`; 0 when none does.
double shared_length(const CellView& c, std::int32_t j, ShiftCode shift) {
  double length = 0.0;
  for (std::int64_t k = 0; k < c.size; ++k) {
    if (c.neighbours[k] == j && c.shift(k) == shift) length += std::sqrt(squared_length(c, k));
  }
  return length;
}

// Runs work(b) for every block b on `threads` workers.
template <class Work>
void for_each_block(const CellLists& cells, int threads, const Work& work) {
  for_each_index(cells.block_count(), threads, work);
}

// Marks the edges to drop (per block, by position in the block's lists) and
// returns the one-sided pairs (unsorted).
std::vector<Pair> classify_edges(const CellLists& cells, const std::vector<double>& tolerance,
                                 std::vector<std::vector<std::uint8_t>>& drop, int threads) {
  std::mutex found_mutex;
  std::vector<Pair> one_sided;
  for_each_block(cells, threads, [&](std::size_t b) {
    const CellBlock& block = cells.block(b);
    std::vector<Pair> found;
    for (std::size_t local = 0; local < block.cell_count(); ++local) {
      const std::size_t i = b * CellLists::block_cells + local;
      const CellView c = cells.cell(i);
      for (std::int64_t k = 0; k < c.size; ++k) {
        const std::int32_t j = c.neighbours[k];
        if (j < 0) continue;
        const double pair_tolerance = std::max(tolerance[i], tolerance[static_cast<std::size_t>(j)]);
        const CellView other = cells.cell(static_cast<std::size_t>(j));
        const ShiftCode back = opposite(c.shift(k));  // the copy of seed i that cell j faces
        if (squared_length(c, k) > pair_tolerance * pair_tolerance) {
          if (!names(other, static_cast<std::int32_t>(i), back)) found.emplace_back(static_cast<std::int32_t>(i), j);
        } else if (shared_length(other, static_cast<std::int32_t>(i), back) <= pair_tolerance) {
          if (drop[b].empty()) drop[b].assign(block.xs.size(), 0);
          drop[b][static_cast<std::size_t>(block.begin[local] + k)] = 1;
        }
      }
    }
    if (found.empty()) return;
    std::lock_guard lock(found_mutex);
    one_sided.insert(one_sided.end(), found.begin(), found.end());
  });
  return one_sided;
}

// Rewrites a block's lists without the dropped edges. A dropped edge goes
// with its first vertex, so the edge before it runs on to the next vertex
// (a rounding error away); then edges that name the same seed are joined. A
// cell that would keep fewer than three vertices keeps them all; it and the
// seeds of its dropped edges go to `collapsed`. The lists are compacted in
// place (nearly every block of a jittered grid has an edge to drop): a
// cell's edges are gathered before any is written, and are written no
// later in the lists than they were.
void remove_dropped(CellBlock& block, std::size_t first_cell, const std::vector<std::uint8_t>& drop,
                    std::vector<std::int32_t>& collapsed) {
  const bool periodic = !block.shifts.empty();
  const auto shift_at = [&](std::int64_t k) { return periodic ? block.shifts[static_cast<std::size_t>(k)] : ShiftCode{0}; };
  std::vector<double> xs, ys;
  std::vector<std::int32_t> ids;
  std::vector<ShiftCode> shifts;
  std::size_t written = 0;
  const auto write = [&](double x, double y, std::int32_t id, ShiftCode shift) {
    block.xs[written] = x, block.ys[written] = y, block.neighbours[written] = id;
    if (periodic) block.shifts[written] = shift;
    ++written;
  };
  for (std::size_t local = 0; local < block.cell_count(); ++local) {
    const std::int64_t begin = block.begin[local], end = block.begin[local + 1];
    block.begin[local] = static_cast<std::int64_t>(written);
    xs.clear(), ys.clear(), ids.clear(), shifts.clear();
    for (std::int64_t k = begin; k < end; ++k) {
      if (drop[static_cast<std::size_t>(k)]) continue;
      const std::int32_t id = block.neighbours[static_cast<std::size_t>(k)];
      if (id >= 0 && !ids.empty() && ids.back() == id && shifts.back() == shift_at(k)) continue;
      xs.push_back(block.xs[static_cast<std::size_t>(k)]), ys.push_back(block.ys[static_cast<std::size_t>(k)]);
      ids.push_back(id), shifts.push_back(shift_at(k));
    }
    if (ids.size() > 1 && ids.front() >= 0 && ids.front() == ids.back() &&
        shifts.front() == shifts.back()) {  // the last edge runs on into the first
      xs.front() = xs.back(), ys.front() = ys.back();
      xs.pop_back(), ys.pop_back(), ids.pop_back(), shifts.pop_back();
    }
    if (ids.size() < 3 && end - begin >= 3) {
      collapsed.push_back(static_cast<std::int32_t>(first_cell + local));
      for (std::int64_t k = begin; k < end; ++k) {
        if (drop[static_cast<std::size_t>(k)]) collapsed.push_back(block.neighbours[static_cast<std::size_t>(k)]);
      }
      for (std::int64_t k = begin; k < end; ++k) {  // forward: each edge is read before it can be overwritten
        const auto at = static_cast<std::size_t>(k);
        write(block.xs[at], block.ys[at], block.neighbours[at], shift_at(k));
      }
      continue;
    }
    for (std::size_t e = 0; e < ids.size(); ++e) write(xs[e], ys[e], ids[e], shifts[e]);
  }
  block.begin.back() = static_cast<std::int64_t>(written);
  block.xs.resize(written);
  block.ys.resize(written);
  block.neighbours.resize(written);
  if (periodic) block.shifts.resize(written);
}

template <class T>
void sort_unique(std::vector<T>& values) {
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
}

}  // namespace

Disagreements make_neighbours_mutual(CellLists& cells, const std::vector<double>& tolerance, int threads) {
  std::vector<std::vector<std::uint8_t>> drop(cells.block_count());  // empty for a block without drops
  Disagreements found;
  found.one_sided = classify_edges(cells, tolerance, drop, threads);
  std::mutex collapsed_mutex;
  for_each_block(cells, threads, [&](std::size_t b) {
    if (drop[b].empty()) return;
    std::vector<std::int32_t> collapsed;
    remove_dropped(cells.block(b), b * CellLists::block_cells, drop[b], collapsed);
    std::lock_guard lock(collapsed_mutex);
    found.collapsed.insert(found.collapsed.end(), collapsed.begin(), collapsed.end());
  });
  sort_unique(found.one_sided);
  sort_unique(found.collapsed);
  return found;
}

}  // namespace vorn::host::detail
