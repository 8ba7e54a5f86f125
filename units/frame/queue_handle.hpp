// The unit's queue handle: created on the first call, kept for the process's life.
#pragma once

#include "vorn/queue/cpu_queue.hpp"

namespace vorn::frame {

// One handle per unit library (the symbol is hidden, so each unit has its own).
// The initialisation of a function-local static is thread-safe: concurrent first
// callers wait for the one that runs it, so cpu_thread_pool() is called once. If
// it throws, the allocation is freed, the static stays uninitialised and the next
// call tries again. The handle is never destroyed, not even on unload.
inline CpuQueue& unit_queue() {
  static CpuQueue* const queue = new CpuQueue{cpu_thread_pool()};
  return *queue;
}

}  // namespace vorn::frame
