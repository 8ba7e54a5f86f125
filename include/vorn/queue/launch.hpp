// Parallel launch of a kernel functor over an index space on the CPU queue.
#pragma once

#include <tuple>
#include <utility>

#include "vorn/queue/bundle.hpp"
#include "vorn/queue/cpu_queue.hpp"
#include "vorn/queue/dependencies.hpp"
#include "vorn/queue/index_space.hpp"
#include "vorn/queue/queue_event.hpp"
#include "vorn/queue/submit.hpp"
#include "vorn/queue/work_count.hpp"

namespace vorn::detail {

struct RunParallel {
  // Arguments after the kernel come in pairs: an io bundle, then its host bundle.
  // The host bundles are converted to kernel bundles (aliasing the same buffers),
  // one slot per work item is submitted, and the call returns when all have run.
  template <class Space, class Kernel, class... IoAndBundles>
  static QueueEvent _run_parallel(CpuQueue& queue, Dependencies<0> dependencies, const Space& space, Kernel kernel,
                                  const IoAndBundles&... args) {
    const int items = narrow_work_count(work_item_count(space), "work item");
    if (items <= 0) return QueueEvent{};
    auto kernel_bundles = host_bundles_to_kernel(args...);
    return std::apply(
        [&](auto&... bundles) {
          return submit_kernel(queue, dependencies, kernel, space, items, items, std::tuple<>{}, bundles...);
        },
        kernel_bundles);
  }

 private:
  static std::tuple<> host_bundles_to_kernel() { return {}; }

  template <class Io, class B, class... Rest>
  static auto host_bundles_to_kernel(const Io&, const B& bundle, const Rest&... rest) {
    return std::tuple_cat(std::make_tuple(to_kernel(bundle)), host_bundles_to_kernel(rest...));
  }
};

}  // namespace vorn::detail
