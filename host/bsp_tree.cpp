#include "vorn/host/bsp_tree.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bsp_tree_build.hpp"
#include "huge_pages.hpp"
#include "per_level.hpp"
#include "units/bsp_build_level/bsp_level_units.hpp"
#include "units/frame/record_encoder.hpp"
#include "vorn/host/unit_library.hpp"
#include "vorn/queue/thread_count.hpp"
#include "vorn/unit_entries.hpp"

namespace vorn::host {

namespace {

constexpr long long work_count_limit = 1LL << 31;  // the units split work in 32-bit counts

units::UnitEntry const& unit_entry(BspUnit unit) {
  switch (unit) {
    case BspUnit::weighted_2d: return units::unit_bsp_level_2d_weighted;
    case BspUnit::plain_3d: return units::unit_bsp_level_3d;
    case BspUnit::plain_2d: break;
  }
  return units::unit_bsp_level_2d;
}

// Each unit's build for a level is loaded on first use and kept.
const UnitLibrary& unit_library(BspUnit unit, IsaLevel level) {
  static PerLevel<UnitLibrary> loaded[3];
  units::UnitEntry const& entry = unit_entry(unit);
  return loaded[static_cast<int>(unit)].get(level, [&] { return UnitLibrary(entry.library, entry.symbol, level); });
}

// The index of the deepest level a tree over n points may need: the first l
// with ceil(n / 2^l) <= leaf_size, since a level-l node holds at most that many.
int deepest_level(long long n, long long leaf_size) {
  int level = 0;
  for (long long largest = n; largest > leaf_size; largest = (largest + 1) / 2) ++level;
  return level;
}

std::string point_name(std::size_t k) { return "point " + std::to_string(k); }

void check_lengths(BspUnit unit, std::span<const double> positions, std::span<const double> weights,
                   long long leaf_size) {
  const std::size_t d = static_cast<std::size_t>(bsp_dimension(unit));
  if (leaf_size < 1) throw std::invalid_argument("leaf_size must be at least 1, got " + std::to_string(leaf_size));
  if (positions.size() % d != 0) {
    throw std::invalid_argument("positions holds " + std::to_string(positions.size()) +
                                " values, not a whole number of " + std::to_string(d) + "-D points");
  }
  const std::size_t n = positions.size() / d;
  const std::size_t expected = bsp_weighted(unit) ? n : 0;
  if (weights.size() != expected) {
    throw std::invalid_argument("weights holds " + std::to_string(weights.size()) + " values, expected " +
                                std::to_string(expected) + " for " + std::to_string(n) + " points");
  }
}

// Names the first point with a non-finite coordinate or weight.
void check_finite(std::size_t d, std::span<const double> positions, std::span<const double> weights) {
  const std::size_t n = positions.size() / d;
  for (std::size_t k = 0; k < n; ++k) {
    for (std::size_t j = 0; j < d; ++j) {
      if (!std::isfinite(positions[k * d + j])) {
        throw std::invalid_argument(point_name(k) + " has a non-finite coordinate " + std::to_string(j) + ": " +
                                    std::to_string(positions[k * d + j]));
      }
    }
    if (!weights.empty() && !std::isfinite(weights[k])) {
      throw std::invalid_argument(point_name(k) + " has a non-finite weight: " + std::to_string(weights[k]));
    }
  }
}

}  // namespace

int bsp_dimension(BspUnit unit) { return unit == BspUnit::plain_3d ? 3 : 2; }
bool bsp_weighted(BspUnit unit) { return unit == BspUnit::weighted_2d; }

void check_bsp_tree_size(BspUnit unit, long long point_count, long long leaf_size) {
  const long long d = bsp_dimension(unit);
  if (point_count > (work_count_limit - 1) / d) {
    throw std::invalid_argument(std::to_string(point_count) + " points of dimension " + std::to_string(d) +
                                ": the units take fewer than 2^31 coordinates (n·D)");
  }
  const int level = deepest_level(point_count, leaf_size);
  if ((2 * d) << level >= work_count_limit) {
    throw std::invalid_argument(std::to_string(point_count) + " points with leaf_size " + std::to_string(leaf_size) +
                                " may need 2^" + std::to_string(level) +
                                " nodes on one level, whose boxes reach 2^31 values; raise leaf_size");
  }
}

namespace {

long long length(std::span<const long long> s) { return static_cast<long long>(s.size()); }

// One call of the unit declared by `Decl` (a records:: declaration) over `b`.
// An absent member (the weights and majorants of an unweighted unit, its point
// count) ignores what it is given.
template <class Decl>
void call_level(const UnitLibrary& library, const BspLevelBuffers& b, int threads) {
  typename Decl::bundles_type bundles{};
  auto& [inputs, outputs, scratch] = bundles;
  constexpr long long d = decltype(inputs.cloud.dim)::value;
  const long long n = length(b.ids);
  const long long m = length(b.node_begin);

  frame::point_at(inputs.cloud.positions, b.positions.data(), {n, d});
  frame::point_at(inputs.cloud.weights, b.weights.data(), {n});
  frame::point_at(inputs.cloud.ids, b.ids.data(), {n});
  frame::set_shape_value(inputs.cloud.num_points, n);
  frame::point_at(inputs.params, b.params.data(), {length(b.params)});
  frame::point_at(outputs.cloud.positions, b.out_positions.data(), {n, d});
  frame::point_at(outputs.cloud.weights, b.out_weights.data(), {n});
  frame::point_at(outputs.cloud.ids, b.out_ids.data(), {n});
  frame::point_at(outputs.level.node_begin, b.node_begin.data(), {m});
  frame::point_at(outputs.level.node_end, b.node_end.data(), {m});
  frame::point_at(outputs.level.node_split, b.node_split.data(), {m});
  frame::point_at(outputs.level.node_box, b.node_box.data(), {m, 2, d});
  frame::point_at(outputs.level.majorant_gradient, b.majorant_gradient.data(), {m, d});
  frame::point_at(outputs.level.majorant_offset, b.majorant_offset.data(), {m});
  frame::point_at(scratch.order, b.order.data(), {n});
  frame::StatusView status{};
  frame::point_at(status, b.status.data(), {static_cast<long long>(b.status.size())});
  typename Decl::space_type nodes{};
  nodes.extents.template set<0>(m);

  const frame::EncodedRecord<Decl> record(bundles, status, nodes);
  library.call(record.record(), record.shape_values(), threads);
}

}  // namespace

void run_bsp_level(BspUnit unit, const BspLevelBuffers& b, IsaLevel isa, int threads) {
  const UnitLibrary& library = unit_library(unit, isa);
  switch (unit) {
    case BspUnit::weighted_2d: return call_level<records::unit_bsp_level_2d_weighted>(library, b, threads);
    case BspUnit::plain_3d: return call_level<records::unit_bsp_level_3d>(library, b, threads);
    case BspUnit::plain_2d: break;
  }
  call_level<records::unit_bsp_level_2d>(library, b, threads);
}

namespace {

struct Cloud {
  std::vector<double> positions;
  std::vector<double> weights;  // empty for unweighted units
  std::vector<long long> ids;
};

// The records of one builder level, node b at index b.
struct LevelRecord {
  std::vector<long long> begin, end, split;
  std::vector<double> box, gradient, offset;
};

LevelRecord build_level(BspUnit unit, IsaLevel isa, int threads, const Cloud& in, Cloud& out,
                        std::vector<long long>& order, std::vector<long long> begin, std::vector<long long> end,
                        long long leaf_size) {
  const std::size_t m = begin.size();
  const std::size_t d = static_cast<std::size_t>(bsp_dimension(unit));
  const std::size_t weighted_m = bsp_weighted(unit) ? m : 0;
  LevelRecord level{std::move(begin), std::move(end), std::vector<long long>(m), std::vector<double>(2 * d * m),
                    std::vector<double>(d * weighted_m), std::vector<double>(weighted_m)};
  const long long params[] = {leaf_size};
  int status = 0;
  run_bsp_level(unit, {in.positions, in.weights, in.ids, params, level.begin, level.end, out.positions, out.weights,
                       out.ids, level.split, level.box, level.gradient, level.offset, order, {&status, 1}},
                isa, threads);
  return level;
}

bool any_split(const LevelRecord& level) {
  for (std::size_t b = 0; b < level.split.size(); ++b) {
    if (level.split[b] != level.end[b]) return true;
  }
  return false;
}

// Node ranges of the next level: node b's lower child at 2b, its upper at 2b + 1.
std::pair<std::vector<long long>, std::vector<long long>> child_ranges(const LevelRecord& level) {
  const std::size_t m = level.split.size();
  std::vector<long long> begin(2 * m), end(2 * m);
  for (std::size_t b = 0; b < m; ++b) {
    begin[2 * b] = level.begin[b];
    end[2 * b] = level.split[b];
    begin[2 * b + 1] = level.split[b];
    end[2 * b + 1] = level.end[b];
  }
  return {std::move(begin), std::move(end)};
}

void copy_node(const LevelRecord& level, std::size_t b, std::size_t p, BspTree& tree) {
  const std::size_t d = static_cast<std::size_t>(tree.dimension);
  tree.node_begin[p] = level.begin[b];
  tree.node_end[p] = level.end[b];
  std::copy_n(&level.box[2 * d * b], 2 * d, &tree.node_box[2 * d * p]);
  if (!level.offset.empty()) {
    std::copy_n(&level.gradient[d * b], d, &tree.majorant_gradient[d * p]);
    tree.majorant_offset[p] = level.offset[b];
  }
}

// Places node b of builder level l at its pre-order number: the root is 0, and
// a node numbered p at engine level E = L - l has children p + 1 and p + 2^(E-1).
void arrange_preorder(const std::vector<LevelRecord>& levels, BspTree& tree) {
  const int total = static_cast<int>(levels.size());
  const std::size_t count = (std::size_t{1} << total) - 1;
  const std::size_t d = static_cast<std::size_t>(tree.dimension);
  const std::size_t weighted_count = bsp_weighted(tree.unit) ? count : 0;
  tree.levels = total;
  detail::reserve_on_huge_pages(tree.node_begin, count);
  detail::reserve_on_huge_pages(tree.node_end, count);
  detail::reserve_on_huge_pages(tree.node_box, 2 * d * count);
  detail::reserve_on_huge_pages(tree.majorant_gradient, d * weighted_count);
  detail::reserve_on_huge_pages(tree.majorant_offset, weighted_count);
  tree.node_begin.resize(count);
  tree.node_end.resize(count);
  tree.node_box.resize(2 * d * count);
  tree.majorant_gradient.resize(d * weighted_count);
  tree.majorant_offset.resize(weighted_count);
  std::vector<std::size_t> number{0};
  for (int l = 0; l < total; ++l) {
    const std::size_t upper_step = std::size_t{1} << (total - l - 1);
    std::vector<std::size_t> next(l + 1 < total ? 2 * number.size() : 0);
    for (std::size_t b = 0; b < number.size(); ++b) {
      copy_node(levels[l], b, number[b], tree);
      if (!next.empty()) {
        next[2 * b] = number[b] + 1;
        next[2 * b + 1] = number[b] + upper_step;
      }
    }
    number = std::move(next);
  }
}

}  // namespace

namespace detail {

BspTree build_bsp_tree_over(BspUnit unit, std::vector<double> positions, std::vector<double> weights,
                            long long leaf_size, IsaLevel isa, int threads) {
  check_lengths(unit, positions, weights, leaf_size);
  const std::size_t d = static_cast<std::size_t>(bsp_dimension(unit));
  const std::size_t n = positions.size() / d;
  check_bsp_tree_size(unit, static_cast<long long>(n), leaf_size);
  check_finite(d, positions, weights);

  // The pages of the fresh arrays come on every thread the units may use.
  const int workers = threads > 0 ? threads : vorn::detail::configured_thread_count();
  Cloud in{std::move(positions), std::move(weights), huge_page_vector<long long>(n, 0, workers)};
  std::iota(in.ids.begin(), in.ids.end(), 0LL);
  Cloud out{huge_page_vector<double>(n * d, 0.0, workers), huge_page_vector<double>(in.weights.size(), 0.0, workers),
            huge_page_vector<long long>(n, 0, workers)};
  std::vector<long long> order = huge_page_vector<long long>(n, 0, workers);

  // Each level's output cloud is the next level's input; the last level is
  // the first whose nodes all stay whole, and its output is in tree order.
  std::vector<LevelRecord> levels;
  std::vector<long long> begin{0}, end{static_cast<long long>(n)};
  for (;;) {
    levels.push_back(build_level(unit, isa, threads, in, out, order, std::move(begin), std::move(end), leaf_size));
    std::swap(in, out);
    if (!any_split(levels.back())) break;
    std::tie(begin, end) = child_ranges(levels.back());
  }

  BspTree tree;
  tree.unit = unit;
  tree.dimension = static_cast<int>(d);
  arrange_preorder(levels, tree);
  tree.positions = std::move(in.positions);
  tree.weights = std::move(in.weights);
  tree.ids = std::move(in.ids);
  return tree;
}

}  // namespace detail

BspTree build_bsp_tree(BspUnit unit, std::span<const double> positions, std::span<const double> weights,
                       long long leaf_size, IsaLevel isa, int threads) {
  const int workers = threads > 0 ? threads : vorn::detail::configured_thread_count();
  std::vector<double> p = detail::huge_page_vector<double>(positions.size(), 0.0, workers);
  std::vector<double> w = detail::huge_page_vector<double>(weights.size(), 0.0, workers);
  std::copy(positions.begin(), positions.end(), p.begin());
  std::copy(weights.begin(), weights.end(), w.begin());
  return detail::build_bsp_tree_over(unit, std::move(p), std::move(w), leaf_size, isa, threads);
}

}  // namespace vorn::host
