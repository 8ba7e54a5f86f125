// The engine's two loops: ask the provider for a plane, cut, repeat.
//
// Unbounded phase: the cell stays in its arrays and every plane goes through
// the general cut (growing the infinite edges first); nothing is pruned.
//
// Bounded phase, a state machine over {memory, registers of size 3..8, done}:
//   memory   general cut on the arrays; to registers once 3 <= n <= 8
//   size N   eight-lane cut; to size N + 2 - m after a cut of m vertices, to
//            memory on a spill (the same plane is then cut there), to done
//            when the provider is exhausted or the cell is emptied
// The register sizes share one loop that holds the size as a value; each
// request to the provider still names the register state of that size.
// The traversal state is shared by every state and by both phases. While in
// registers the cell's arrays and vertex_count are stale; they are written
// when the registers are left (exhausted, spill).
#pragma once

#include <concepts>
#include <cstdint>
#include <type_traits>

#include "cell.hpp"
#include "cell_states.hpp"
#include "provider_bsp.hpp"
#include "register_cut.hpp"
#include "vorn/engine/engine_entry_names.hpp"

namespace vorn {

namespace detail {

inline constexpr int engine_done = engine::engine_finished;
inline constexpr int engine_out_of_slots = engine::engine_out_of_slots;

template <class T, class Lanes>
StateMem<T, Lanes> memory_state(Local2<T> const& cell, bool bounded) {
  return {cell.vertex_count, cell.xs, cell.ys, cell.cut_ids, bounded};
}

}  // namespace detail

// Cuts an unbounded cell until it is bounded, empty, or the provider is
// exhausted. Returns 0, or 3 when a cut needs more than vertex_capacity slots.
template <class Cell, class Provider, class Lanes = lane8::native::Backend>
int run_memory_while_unbounded(Cell& cell, Provider& provider, typename local_of<Provider>::type& local) {
  using T = std::remove_reference_t<decltype(*cell.xs)>;
  Plane<T, 2> plane{};
  while (cell.unbounded && cell.vertex_count != 0) {
    if (!provider.next(detail::memory_state<T, Lanes>(cell, false), local, plane)) return detail::engine_done;
    int const result = cell.cut(plane);
    if (result == cut_result::emptied) return detail::engine_done;
    if (result == cut_result::out_of_slots) return detail::engine_out_of_slots;
  }
  return detail::engine_done;
}

namespace detail {

enum class Mode { memory, registers, done };

// Everything the bounded phase carries between its states. `lanes` holds the
// register polygon of `size` vertices; `plane` the plane in hand when memory
// mode is entered.
template <class T, class Provider, class Lanes>
struct BoundedRun {
  Local2<T>& cell;
  Provider& provider;
  typename local_of<Provider>::type& local;
  Plane<T, 2> plane;
  StateReg<T, 8, Lanes> lanes;
  int size;
  int result;
};

// Register states exist for 3 to 8 vertices; a cell of 1 or 2 vertices (only
// a caller can pass one: every cut leaves at least 3) stays in memory mode.
template <class T>
bool fits_registers(Local2<T> const& cell) {
  return cell.vertex_count >= 3 && cell.vertex_count <= 8;
}

// Loads the cell into the lanes; slots vertex_count..7 come along unused.
template <class T, class Provider, class Lanes>
void load_registers(BoundedRun<T, Provider, Lanes>& run) {
  run.lanes = {Lanes::load(run.cell.xs), Lanes::load(run.cell.ys), Lanes::load_ids(run.cell.cut_ids)};
  run.size = run.cell.vertex_count;
}

// Writes all eight lanes back to the cell; slots size..7 receive leftovers.
template <class T, class Lanes>
void store_registers(Local2<T>& cell, StateReg<T, 8, Lanes> const& lanes, int size) {
  store(cell.xs, lanes.xs);
  store(cell.ys, lanes.ys);
  store(cell.cut_ids, lanes.cut_ids);
  cell.vertex_count = size;
}

// General cuts from the plane in hand until the cell fits the registers.
template <class T, class Provider, class Lanes>
Mode memory_mode(BoundedRun<T, Provider, Lanes>& run) {
  for (;;) {
    int const result = run.cell.cut(run.plane);
    if (result == cut_result::emptied) {
      run.cell.vertex_count = 0;
      return Mode::done;
    }
    if (result == cut_result::out_of_slots) {
      run.result = engine_out_of_slots;
      return Mode::done;
    }
    if (fits_registers(run.cell)) {
      load_registers(run);
      return Mode::registers;
    }
    if (!run.provider.next(memory_state<T, Lanes>(run.cell, !run.cell.unbounded), run.local, run.plane)) {
      return Mode::done;
    }
  }
}

// The provider's next plane for the register polygon of `size` vertices,
// asked through the register state of that size.
template <class T, class Provider, class Lanes>
[[gnu::always_inline]] inline bool next_for_size(BoundedRun<T, Provider, Lanes>& run,
                                                 StateReg<T, 8, Lanes> const& lanes, int size) {
  auto const& [xs, ys, ids] = lanes;
  switch (size) {
    case 3: return run.provider.next(StateReg<T, 3, Lanes>{xs, ys, ids}, run.local, run.plane);
    case 4: return run.provider.next(StateReg<T, 4, Lanes>{xs, ys, ids}, run.local, run.plane);
    case 5: return run.provider.next(StateReg<T, 5, Lanes>{xs, ys, ids}, run.local, run.plane);
    case 6: return run.provider.next(StateReg<T, 6, Lanes>{xs, ys, ids}, run.local, run.plane);
    case 7: return run.provider.next(StateReg<T, 7, Lanes>{xs, ys, ids}, run.local, run.plane);
    default: return run.provider.next(lanes, run.local, run.plane);
  }
}

// A provider that can name the seed it yields next from its leaf range
// without looking at the cell (ProviderBsp) has that seed's plane built one
// step ahead.
template <class Provider>
concept LeafLookAhead = requires(Provider const& provider, typename local_of<Provider>::type& local) {
  { provider.upcoming_leaf_seed(local) } -> std::same_as<std::int64_t>;
  provider.take_leaf_seed(local, std::int64_t{});
  provider.bisector(std::int64_t{});
};

// The plane of the seed that the provider yields next from its leaf range;
// seed -1 when there is none (or the provider cannot tell), and the provider
// must then be asked.
template <class T>
struct PlaneAhead {
  Plane<T, 2> plane;
  std::int64_t seed;
};

// Without an upcoming seed it builds the plane of the cell's own seed, which
// is never used, so that the arithmetic does not wait on a branch.
template <class T, class Provider, class Lanes>
[[gnu::always_inline]] inline PlaneAhead<T> look_ahead(BoundedRun<T, Provider, Lanes> const& run) {
  if constexpr (LeafLookAhead<Provider>) {
    std::int64_t const seed = run.provider.upcoming_leaf_seed(run.local);
    return {run.provider.bisector(seed < 0 ? run.provider.seed_index : seed), seed};
  } else {
    return {{}, -1};
  }
}

// Takes the next plane into run.plane, the one in `ahead` when it has a seed,
// and returns false when the provider is exhausted.
template <class T, class Provider, class Lanes>
[[gnu::always_inline]] inline bool take_plane(BoundedRun<T, Provider, Lanes>& run, PlaneAhead<T> const& ahead,
                                              StateReg<T, 8, Lanes> const& lanes, int size) {
  if constexpr (LeafLookAhead<Provider>) {
    if (ahead.seed >= 0) {
      run.provider.take_leaf_seed(run.local, ahead.seed);
      run.plane = ahead.plane;
      return true;
    }
  }
  return next_for_size(run, lanes, size);
}

// Register cuts at every size from 3 to 8 in one loop: the size is a value,
// so a cut that changes it leaves the lanes in registers. The next leaf
// seed's plane is built before the current one is cut, so that a
// mispredicted branch on the cut does not restart its loads and rounding.
// Leaves to memory with the spilled plane in run.plane, or done.
template <class T, class Provider, class Lanes>
Mode register_mode(BoundedRun<T, Provider, Lanes>& run) {
  StateReg<T, 8, Lanes> lanes = run.lanes;
  int size = run.size;
  PlaneAhead<T> ahead = look_ahead(run);  // always that of run.local as it stands
  for (;;) {
    if (!take_plane(run, ahead, lanes, size)) {
      store_registers(run.cell, lanes, size);
      return Mode::done;
    }
    ahead = look_ahead(run);
    int const cut = cut_registers(lanes, run.plane, size);
    if (cut >= 3) {
      size = cut;
    } else if (cut == register_emptied) {
      run.cell.vertex_count = 0;
      return Mode::done;
    } else {
      store_registers(run.cell, lanes, size);
      return Mode::memory;
    }
  }
}

}  // namespace detail

// Cuts a bounded cell to its final shape. Returns 0 (the cell is final or
// empty), or 3 when vertex_capacity < 8 (nothing changed) or a cut needs
// more than vertex_capacity slots (every cut so far is applied).
template <class T, class Provider, class Lanes = lane8::native::Backend>
int run_2d_registers(Local2<T>& cell, Provider& provider, typename local_of<Provider>::type& local) {
  if (cell.vertex_count <= 0) return detail::engine_done;
  if (cell.vertex_capacity < 8) return detail::engine_out_of_slots;
  detail::BoundedRun<T, Provider, Lanes> run{cell, provider, local, {}, {}, 0, detail::engine_done};
  detail::Mode mode = detail::Mode::registers;
  if (detail::fits_registers(cell)) {
    detail::load_registers(run);
  } else if (provider.next(detail::memory_state<T, Lanes>(cell, !cell.unbounded), local, run.plane)) {
    mode = detail::Mode::memory;
  } else {
    return detail::engine_done;
  }
  while (mode != detail::Mode::done) {
    mode = mode == detail::Mode::memory ? detail::memory_mode(run) : detail::register_mode(run);
  }
  return run.result;
}

}  // namespace vorn
