// Kernel submission: one closure handed to the pool, one slot per work item.
#pragma once

#include <functional>
#include <tuple>

#include "vorn/queue/cpu_queue.hpp"
#include "vorn/queue/dependencies.hpp"
#include "vorn/queue/index_space.hpp"
#include "vorn/queue/queue_event.hpp"

namespace vorn {

namespace detail {

struct CpuQueueLaunch {
  // Runs work item `item` of slot `slot`. The item index, slot index and slot
  // count travel along for kernels that want them; no kernel here does.
  template <class Kernel, class C, class... B>
  static void call(Kernel& kernel, const C& coords, long long item, int slot, int slot_count, B&... bundles) {
    (void)item;
    (void)slot;
    (void)slot_count;
    kernel(coords, bundles...);
  }
};

// Work items [begin, end) of slot t when I items are split over S slots:
// begin = I*t/S, end = I*(t+1)/S in 64-bit arithmetic.
struct SlotItems {
  int begin;
  int end;
};

inline SlotItems slot_items(int items, int slots, int t) {
  const long long i = items;
  return {static_cast<int>(i * t / slots), static_cast<int>(i * (t + 1) / slots)};
}

}  // namespace detail

// Runs `kernel` over the I work items of `space`, split into S slots of the
// queue's pool, and returns once all of them have run. The closure holds
// references to this call's arguments and is released before the return.
// With S = I (every submission here) slot t runs exactly item t, and the
// closure is chosen here, once, rather than per slot: it then reads no count
// and does no division, only the item's own work.
template <class Deps, class Kernel, class Space, class Extra, class... Bundles>
QueueEvent submit_kernel(CpuQueue& queue, const Deps& dependencies, Kernel& kernel, const Space& space, int items,
                         int slots, const Extra& extra, Bundles&... bundles) {
  static_assert(std::tuple_size_v<Extra> == 0, "the CPU queue takes no extra launch values");
  (void)dependencies;
  (void)extra;
  if (items == slots) {
    const std::function<void(int)> closure = [&items, &slots, &kernel, &space, &bundles...](int t) {
      (void)items;  // held like every closure's count; with S = I only the slot count is read
      detail::CpuQueueLaunch::call(kernel, coords_of(space, t), t, t, slots, bundles...);
    };
    queue.pool.run_threads(slots, closure);
    return QueueEvent{};
  }
  const std::function<void(int)> closure = [&items, &slots, &kernel, &space, &bundles...](int t) {
    const auto [begin, end] = detail::slot_items(items, slots, t);
    for (int j = begin; j < end; ++j) {
      detail::CpuQueueLaunch::call(kernel, coords_of(space, j), j, t, slots, bundles...);
    }
  };
  queue.pool.run_threads(slots, closure);
  return QueueEvent{};
}

}  // namespace vorn
