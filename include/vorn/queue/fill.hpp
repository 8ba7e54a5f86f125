// Fill kernels: write one value into every element of a view.
#pragma once

#include <tuple>

#include "vorn/queue/cpu_queue.hpp"
#include "vorn/queue/dependencies.hpp"
#include "vorn/queue/index_space.hpp"
#include "vorn/queue/queue_event.hpp"
#include "vorn/queue/submit.hpp"
#include "vorn/queue/work_count.hpp"
#include "vorn/tensor/tensor_view.hpp"

namespace vorn {

namespace detail {

struct TensorViewFill {
  // Element j of the flat element sequence starting at `data`: the views of
  // this system are dense, so that sequence is exactly the view's elements.
  struct Contiguous {
    template <class View>
    void operator()(const Coords<Tuple<long long>>& item, const View& view,
                    const typename View::element_type& value) const {
      view.data[item.template get<0>()] = value;
    }
  };

  // The single element of a 0-D view.
  struct Scalar {
    template <class C, class View>
    void operator()(const C&, const View& view, const typename View::element_type& value) const {
      *view.data = value;
    }
  };
};

// Submits the fill kernel that suits the view's rank: one slot per element.
struct CpuFillSubmitter {
  CpuQueue& queue;

  template <class View>
  QueueEvent operator()(const View& view, typename View::element_type value) const {
    auto kernel_view = to_kernel(view);
    if constexpr (View::rank == 0) {
      const Range<int, unsigned long long> range{1};
      TensorViewFill::Scalar kernel;
      return submit_kernel(queue, Dependencies<0>{}, kernel, range, 1, 1, std::tuple<>{}, kernel_view, value);
    } else {
      const long long count = checked_element_count(view);
      const int items = narrow_work_count(count, "fill element");
      if (items <= 0) return QueueEvent{};
      const Range<long long, unsigned long long> range{static_cast<unsigned long long>(count)};
      TensorViewFill::Contiguous kernel;
      return submit_kernel(queue, Dependencies<0>{}, kernel, range, items, items, std::tuple<>{}, kernel_view,
                           value);
    }
  }
};

}  // namespace detail

inline detail::CpuFillSubmitter fill_submitter(CpuQueue& queue) { return {queue}; }

}  // namespace vorn
