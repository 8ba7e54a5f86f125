#include "mutual_neighbours.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>

#include "vorn/host/power_diagram.hpp"
#include "worker_threads.hpp"

namespace vorn::host::detail {

namespace {

constexpr std::int64_t cells_per_step = 4096;

double squared_length(const CellLists& d, std::int64_t begin, std::int64_t end, std::int64_t k) {
  const std::int64_t next = k + 1 == end ? begin : k + 1;
  const double dx = d.xs[next] - d.xs[k], dy = d.ys[next] - d.ys[k];
  return dx * dx + dy * dy;
}

// An edge next to an edge at infinity is a ray: its finite stand-in may be
// as short as it likes, the edge is not.
bool is_ray(const CellLists& d, std::int64_t begin, std::int64_t end, std::int64_t k) {
  const std::int64_t previous = k == begin ? end - 1 : k - 1;
  const std::int64_t next = k + 1 == end ? begin : k + 1;
  return d.neighbours[previous] == infinite_edge || d.neighbours[next] == infinite_edge;
}

// Length of edge k, infinite for a ray.
double edge_length(const CellLists& d, std::int64_t begin, std::int64_t end, std::int64_t k) {
  if (is_ray(d, begin, end, k)) return std::numeric_limits<double>::infinity();
  return std::sqrt(squared_length(d, begin, end, k));
}

bool names(const CellLists& d, std::int64_t i, std::int32_t j) {
  return std::find(d.neighbours.begin() + d.cell_begin[i], d.neighbours.begin() + d.cell_begin[i + 1], j) !=
         d.neighbours.begin() + d.cell_begin[i + 1];
}

// Total length of cell i's edges that name seed j; 0 when none does.
double shared_length(const CellLists& d, std::int64_t i, std::int32_t j) {
  const std::int64_t begin = d.cell_begin[i], end = d.cell_begin[i + 1];
  double length = 0.0;
  for (std::int64_t k = begin; k < end; ++k) {
    if (d.neighbours[k] == j) length += edge_length(d, begin, end, k);
  }
  return length;
}

using Pair = std::pair<std::int32_t, std::int32_t>;

// Marks the edges to drop, returns the one-sided pairs (unsorted).
std::vector<Pair> classify_edges(const CellLists& d, const std::vector<double>& tolerance,
                                         std::vector<std::uint8_t>& drop, int threads) {
  const std::int64_t n = d.cell_count();
  std::atomic<std::int64_t> next{0};
  std::mutex found_mutex;
  std::vector<Pair> one_sided;
  run_workers(threads, [&] {
    std::vector<Pair> found;
    for (std::int64_t first = next.fetch_add(cells_per_step); first < n; first = next.fetch_add(cells_per_step)) {
      for (std::int64_t i = first; i < std::min(n, first + cells_per_step); ++i) {
        const std::int64_t begin = d.cell_begin[i], end = d.cell_begin[i + 1];
        for (std::int64_t k = begin; k < end; ++k) {
          const std::int32_t j = d.neighbours[k];
          if (j < 0) continue;
          const double pair_tolerance = std::max(tolerance[static_cast<std::size_t>(i)], tolerance[static_cast<std::size_t>(j)]);
          const bool long_edge = edge_length(d, begin, end, k) > pair_tolerance;
          if (long_edge && !names(d, j, static_cast<std::int32_t>(i))) {
            found.emplace_back(static_cast<std::int32_t>(i), j);
          } else if (!long_edge && shared_length(d, j, static_cast<std::int32_t>(i)) <= pair_tolerance) {
            drop[static_cast<std::size_t>(k)] = 1;
          }
        }
      }
    }
    std::lock_guard lock(found_mutex);
    one_sided.insert(one_sided.end(), found.begin(), found.end());
  });
  return one_sided;
}

// Rewrites the vertex lists without the dropped edges. A dropped edge goes
// with its first vertex, so the edge before it runs on to the next vertex
// (a few ulps away); then edges that name the same seed are joined. A cell
// that would keep fewer than three vertices keeps them all; it and the
// seeds of its dropped edges go to `collapsed`.
void remove_dropped(CellLists& d, const std::vector<std::uint8_t>& drop, std::vector<std::int32_t>& collapsed) {
  const std::int64_t n = d.cell_count();
  std::vector<double> xs, ys;
  std::vector<std::int32_t> ids;
  std::int64_t out = 0;  // never past the cell in hand, whose entries are read before any is written
  for (std::int64_t i = 0; i < n; ++i) {
    const std::int64_t begin = d.cell_begin[i], end = d.cell_begin[i + 1];
    xs.clear(), ys.clear(), ids.clear();
    for (std::int64_t k = begin; k < end; ++k) {
      if (drop[static_cast<std::size_t>(k)]) continue;
      const std::int32_t id = d.neighbours[k];
      if (id >= 0 && !ids.empty() && ids.back() == id) continue;
      xs.push_back(d.xs[k]), ys.push_back(d.ys[k]), ids.push_back(id);
    }
    if (ids.size() > 1 && ids.front() >= 0 && ids.front() == ids.back()) {  // the last edge runs on into the first
      xs.front() = xs.back(), ys.front() = ys.back();
      xs.pop_back(), ys.pop_back(), ids.pop_back();
    }
    if (ids.size() < 3 && end - begin >= 3) {
      collapsed.push_back(static_cast<std::int32_t>(i));
      for (std::int64_t k = begin; k < end; ++k) {
        if (drop[static_cast<std::size_t>(k)]) collapsed.push_back(d.neighbours[k]);
      }
      xs.assign(d.xs.begin() + begin, d.xs.begin() + end);
      ys.assign(d.ys.begin() + begin, d.ys.begin() + end);
      ids.assign(d.neighbours.begin() + begin, d.neighbours.begin() + end);
    }
    d.cell_begin[i] = out;
    std::copy(xs.begin(), xs.end(), d.xs.begin() + out);
    std::copy(ys.begin(), ys.end(), d.ys.begin() + out);
    std::copy(ids.begin(), ids.end(), d.neighbours.begin() + out);
    out += static_cast<std::int64_t>(ids.size());
  }
  d.cell_begin[n] = out;
  d.xs.resize(static_cast<std::size_t>(out));
  d.ys.resize(static_cast<std::size_t>(out));
  d.neighbours.resize(static_cast<std::size_t>(out));
}

template <class T>
void sort_unique(std::vector<T>& values) {
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
}

}  // namespace

Disagreements make_neighbours_mutual(CellLists& cells, const std::vector<double>& tolerance, int threads) {
  std::vector<std::uint8_t> drop(cells.neighbours.size(), 0);
  Disagreements found;
  found.one_sided = classify_edges(cells, tolerance, drop, threads);
  if (std::find(drop.begin(), drop.end(), 1) != drop.end()) remove_dropped(cells, drop, found.collapsed);
  sort_unique(found.one_sided);
  sort_unique(found.collapsed);
  return found;
}

}  // namespace vorn::host::detail
