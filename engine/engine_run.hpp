// engine_run: one cell from its starting polygon to its final shape. The
// provider and its traversal state live on the caller's stack for one call;
// the unbounded phase, when the cell starts unbounded, and then the bounded
// phase share that traversal, so no seed is visited twice.
#pragma once

#include "drivers.hpp"
#include "provider_bsp.hpp"
#include "vorn/engine/cell_engine.hpp"

namespace vorn::engine {

namespace detail {

template <class T, class Seeds>
int run_cell(Local2<T>& cell, Seeds const& seeds, long long seed_index) {
  using Provider = ProviderBsp<Seeds, T, 2, true, false>;
  Provider provider = Provider::for_seed(seeds, seed_index);
  typename local_of<Provider>::type local{};
  if (cell.unbounded) {
    int const result = run_memory_while_unbounded(cell, provider, local);
    if (result != 0) return result;
    if (cell.vertex_count == 0 || cell.unbounded) return 0;
  }
  return run_2d_registers<T>(cell, provider, local);
}

}  // namespace detail

template <class Cell, class Seeds>
int engine_run(Cell& cell, Seeds const& seeds, long long seed_index) {
  return detail::run_cell(cell, seeds, seed_index);
}

}  // namespace vorn::engine
