// The plane provider: walks the seeds' BSP depth-first, nearer child first,
// drops every node that provably cannot cut the cell, and yields the power
// bisector between the cell's seed and each remaining seed.
//
// Node numbering (pre-order): the root is node 0 at the root level; node d
// at level L >= 2 has children d + 1 (left) and d + 2^(L-1) (right) at level
// L - 1; nodes at level 1 (or 0) are leaves holding [node_begin, node_end).
// A stack entry is node·64 + level.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "cell_states.hpp"
#include "vorn/engine/local2.hpp"
#include "engine_counters.hpp"
#include "prune_bound.hpp"
#include "vorn/engine/bsp_seeds.hpp"
#include "vorn/fused_multiply_add.hpp"

namespace vorn {

template <class Seeds, class T, int dim, bool weighted, bool second_flag>
struct ProviderBsp;

// The traversal state of a provider type.
template <class Provider>
struct local_of {
  using type = typename Provider::Local;
};

// Root level of a pre-order tree of `node_count` nodes: the bit length of the
// count (a full tree of 2^L - 1 nodes has root level L), 0 for no node.
inline std::int64_t root_level(long long node_count) {
  return node_count <= 0 ? 0 : std::bit_width(static_cast<unsigned long long>(node_count));
}

template <class T>
struct ProviderBsp<engine::BspSeeds<double, long long, 2, true, false>, T, 2, true, false> {
  using Seeds = engine::BspSeeds<double, long long, 2, true, false>;

  // One cell's walk. Starts zero-filled; after `next` returns false the stack
  // and the range are empty and stay so.
  struct Local {
    std::int64_t stack[64];    // entries node·64 + level; top at stack_size - 1
    std::int32_t stack_size;
    std::int64_t range_begin;  // not yet yielded part of the current leaf,
    std::int64_t range_end;    // empty when range_begin >= range_end
    bool started;              // the root has been pushed
  };

  Seeds const* seeds;
  std::int64_t seed_index;
  std::int64_t root_entry;  // node 0 at the root level
  double seed_x, seed_y, seed_weight;
  T seed_x_t, seed_y_t, seed_weight_t;

  static ProviderBsp for_seed(Seeds const& seeds, long long seed_index) {
    double const x = seeds.positions(seed_index, 0);
    double const y = seeds.positions(seed_index, 1);
    double const w = seeds.weights(seed_index);
    return {&seeds,  seed_index,     root_level(seeds.node_count()), x, y, w, static_cast<T>(x),
            static_cast<T>(y), static_cast<T>(w)};
  }

  // Yields the next plane that may cut the cell described by `state`, or
  // returns false, leaving `plane` untouched, when no seed is left.
  template <class State>
  [[gnu::always_inline]] bool next(State const& state, Local& local, Plane<T, 2>& plane) const {
    if (!local.started) {
      local.stack[0] = root_entry;
      local.stack_size = 1;
      local.started = true;
    }
    for (;;) {
      if (yield_from_leaf(local, plane)) return true;
      if (local.stack_size == 0) return false;
      visit_top(state, local);
    }
  }

  // The seed that `next` yields next from the current leaf range (skipping
  // the cell's own seed), or -1 when the range holds none and `next` goes on
  // to the stack. It depends on the traversal state only, never on the cell,
  // so a driver may build that seed's plane before its current cut is done.
  [[gnu::always_inline]] std::int64_t upcoming_leaf_seed(Local const& local) const {
    std::int64_t const i = local.range_begin + (local.range_begin == seed_index ? 1 : 0);
    return i < local.range_end ? i : -1;
  }

  // Yields seed i = upcoming_leaf_seed(local) from the leaf range, as `next`
  // does; the caller builds its plane with `bisector`.
  [[gnu::always_inline]] void take_leaf_seed(Local& local, std::int64_t i) const {
    VORN_ENGINE_COUNT(planes);
    local.range_begin = i + 1;
  }

  // The bisector with seed b: kept side |p - a|^2 - w_a <= |p - b|^2 - w_b,
  // normal from a to b. Built in double, then rounded to T.
  [[gnu::always_inline]] Plane<T, 2> bisector(std::int64_t b) const {
    double const xb = seeds->positions(b, 0);
    double const yb = seeds->positions(b, 1);
    double const wb = seeds->weights(b);
    double const nx = xb - seed_x;
    double const ny = yb - seed_y;
    double const offset = ((seed_weight - wb) * 0.5 + (nx * (xb + seed_x)) * 0.5) + (ny * (yb + seed_y)) * 0.5;
    auto const id = static_cast<std::int32_t>(static_cast<std::uint32_t>(b));
    return {{static_cast<T>(nx), static_cast<T>(ny)}, static_cast<T>(offset), id};
  }

 private:
  // A range that runs out, possibly after skipping the seed itself, is left
  // with range_begin = range_end.
  [[gnu::always_inline]] bool yield_from_leaf(Local& local, Plane<T, 2>& plane) const {
    std::int64_t const i = upcoming_leaf_seed(local);
    if (i < 0) {
      local.range_begin = std::max(local.range_begin, local.range_end);
      return false;
    }
    take_leaf_seed(local, i);
    plane = bisector(i);
    return true;
  }

  // Handles the top entry: drops it, turns it into the current leaf range, or
  // replaces it by its two children with the nearer one on top.
  template <class State>
  [[gnu::always_inline]] void visit_top(State const& state, Local& local) const {
    std::int64_t const entry = local.stack[local.stack_size - 1];
    std::int64_t const node = entry >> 6;
    int const level = static_cast<int>(entry & 63);
    long long const begin = seeds->node_begin(node);
    long long const end = seeds->node_end(node);
    if (begin >= end || !node_may_cut(state, node)) {
      --local.stack_size;
      return;
    }
    if (level <= 1) {
      --local.stack_size;
      local.range_begin = begin;
      local.range_end = end;
      return;
    }
    push_children(local, node, level);
  }

  // Writes both children over the popped slot and the one above it; the
  // child on top is visited next: the nearer one, the left one on a tie.
  [[gnu::always_inline]] void push_children(Local& local, std::int64_t node, int level) const {
    std::int64_t const left = node + 1;
    std::int64_t const right = node + (std::int64_t{1} << (level - 1));
    std::int64_t const below = local.stack_size - 1;
    bool const left_first = box_distance2(right) >= box_distance2(left);
    std::int64_t const near = left_first ? left : right;
    std::int64_t const far = left_first ? right : left;
    local.stack[below] = far * 64 + (level - 1);
    local.stack[below + 1] = near * 64 + (level - 1);
    ++local.stack_size;
  }

  // Squared distance, in double, from the seed to the node's box.
  [[gnu::always_inline]] double box_distance2(std::int64_t node) const {
    auto const& box = seeds->node_box;
    double const dx = std::max(std::max(seed_x - box(node, 1, 0), box(node, 0, 0) - seed_x), 0.0);
    double const dy = std::max(std::max(seed_y - box(node, 1, 1), box(node, 0, 1) - seed_y), 0.0);
    return fused_multiply_add(dy, dy, dx * dx);
  }

  [[gnu::always_inline]] detail::PruneBound<T> prune_bound(std::int64_t node) const {
    auto const& box = seeds->node_box;
    auto const& g = seeds->majorant_gradient;
    return {static_cast<T>(box(node, 0, 0)), static_cast<T>(box(node, 0, 1)),
            static_cast<T>(box(node, 1, 0)), static_cast<T>(box(node, 1, 1)),
            static_cast<T>(g(node, 0)),      static_cast<T>(g(node, 1)),
            static_cast<T>(seeds->majorant_offset(node)), seed_x_t, seed_y_t, seed_weight_t};
  }

  // Memory mode: only a bounded cell prunes; its vertices are tested eight at
  // a time, stopping at the first group with a passing vertex.
  template <class Lanes>
  [[gnu::always_inline]] bool node_may_cut(StateMem<T, Lanes> const& state, std::int64_t node) const {
    if (!state.bounded) return true;
    VORN_ENGINE_COUNT(node_tests);
    detail::PruneBound<T> const bound = prune_bound(node);
    for (int first = 0; first < state.vertex_count; first += 8) {
      int const count = std::min(8, state.vertex_count - first);
      VORN_ENGINE_COUNT(group_tests);
      auto const x = Lanes::load_first(state.xs + first, count);
      auto const y = Lanes::load_first(state.ys + first, count);
      if ((detail::passing_lanes_chained<Lanes>(bound, x, y) & ((1u << count) - 1u)) != 0) return true;
    }
    VORN_ENGINE_COUNT(pruned);
    return false;
  }

  // Register mode: all eight lanes at once, the first N count.
  template <int N, class Lanes>
  [[gnu::always_inline]] bool node_may_cut(StateReg<T, N, Lanes> const& state, std::int64_t node) const {
    VORN_ENGINE_COUNT(node_tests);
    VORN_ENGINE_COUNT(group_tests);
    unsigned const pass = detail::passing_lanes_grouped<Lanes>(prune_bound(node), state.xs, state.ys);
    if ((pass & StateReg<T, N, Lanes>::lane_mask) != 0) return true;
    VORN_ENGINE_COUNT(pruned);
    return false;
  }
};

}  // namespace vorn
