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
// The traversal state is shared by every state and by both phases. While in
// registers the cell's arrays and vertex_count are stale; they are written
// when the registers are left (exhausted, spill).
#pragma once

#include <cstdint>
#include <type_traits>

#include "cell.hpp"
#include "cell_states.hpp"
#include "provider_bsp.hpp"
#include "register_cut.hpp"

namespace vorn {

namespace detail {

inline constexpr int engine_done = 0;
inline constexpr int engine_out_of_slots = 3;

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

// Writes all eight lanes back to the cell; slots N..7 receive leftovers.
template <class T, int N, class Lanes>
void store_registers(Local2<T>& cell, StateReg<T, N, Lanes> const& lanes) {
  store(cell.xs, lanes.xs);
  store(cell.ys, lanes.ys);
  store(cell.cut_ids, lanes.cut_ids);
  cell.vertex_count = N;
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

// Register cuts while the size stays N. Leaves with the new size in
// run.size, or to memory with the spilled plane in run.plane, or done.
template <int N, class T, class Provider, class Lanes>
Mode registers_of_size(BoundedRun<T, Provider, Lanes>& run) {
  StateReg<T, N, Lanes> lanes{run.lanes.xs, run.lanes.ys, run.lanes.cut_ids};
  for (;;) {
    if (!run.provider.next(lanes, run.local, run.plane)) {
      store_registers(run.cell, lanes);
      return Mode::done;
    }
    int const size = cut_registers(lanes, run.plane);
    if (size == N) continue;
    if (size == register_emptied) {
      run.cell.vertex_count = 0;
      return Mode::done;
    }
    if (size == register_spill) {
      store_registers(run.cell, lanes);
      return Mode::memory;
    }
    run.lanes = {lanes.xs, lanes.ys, lanes.cut_ids};
    run.size = size;
    return Mode::registers;
  }
}

template <class T, class Provider, class Lanes>
Mode register_mode(BoundedRun<T, Provider, Lanes>& run) {
  switch (run.size) {
    case 3: return registers_of_size<3>(run);
    case 4: return registers_of_size<4>(run);
    case 5: return registers_of_size<5>(run);
    case 6: return registers_of_size<6>(run);
    case 7: return registers_of_size<7>(run);
    default: return registers_of_size<8>(run);
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
