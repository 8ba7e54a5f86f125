// CpuQueue: a handle on the runtime's pool through which kernels are submitted.
#pragma once

#include "vorn/queue/thread_pool.hpp"

namespace vorn {

struct CpuQueue {
  CpuThreadPool& pool;
};

}  // namespace vorn
