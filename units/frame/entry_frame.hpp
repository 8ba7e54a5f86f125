// The entry frame shared by every kernel unit.
#pragma once

#include <cstddef>
#include <tuple>
#include <type_traits>

#include "argument_record.hpp"
#include "queue_handle.hpp"
#include "vorn/queue/queue.hpp"

namespace vorn::frame {

// A unit: its main kernel functor, its index space and its argument bundles.
template <class Kernel, class Space, class... Args>
struct Unit {
  static constexpr RecordLayout layout = record_layout<Args...>();

  // The synchronous body of brask_body_<hash>:
  //   1. decode the record and the shape variables into host views;
  //   2. obtain the queue handle (created on the first call);
  //   3. clear the status tensor, then every OutList tensor in triple order;
  //   4. launch the kernel over the index space;
  // each step complete before the next. Failures propagate as exceptions.
  static int entry(void* const* record, const long long* shape_values) {
    std::tuple<typename Args::bundle...> bundles{};
    StatusView status{};
    Space space{};
    decode(record, shape_values, bundles, status, space);

    CpuQueue& queue = unit_queue();
    { QueueEvent cleared = status.fill_with(queue, 0); }
    for_each_storage<OutList, Args...>(bundles, [&](auto& view) {
      QueueEvent cleared = view.fill_with(queue, typename std::remove_cvref_t<decltype(view)>::element_type{});
    });
    launch(queue, space, bundles);
    return 0;
  }

 private:
  static void decode(void* const* record, const long long* shape_values, std::tuple<typename Args::bundle...>& bundles,
                     StatusView& status, Space& space) {
    int triple = 0;
    for_each_storage<InpList, Args...>(bundles, [&](auto& view) { bind_view(view, record, triple++); });
    for_each_storage<OutList, Args...>(bundles, [&](auto& view) { bind_view(view, record, triple++); });
    bind_view(status, record, triple);

    int next_value = 0;
    for_each_shape_value<Args...>(bundles, [&](auto& variable) {
      if constexpr (is_scalar_value_v<decltype(variable.source)>) {
        variable.source.value = shape_values[next_value++];
      } else {
        variable.aux0 = shape_values[next_value++];
      }
    });
    if constexpr (space_dynamic_extents<Space> > 0) {
      space.extents.template set<0>(shape_values[next_value]);
    }
  }

  static void launch(CpuQueue& queue, const Space& space, std::tuple<typename Args::bundle...>& bundles) {
    // _run_parallel takes each io bundle followed by its host bundle.
    auto io_and_bundles = [&]<std::size_t... I>(std::index_sequence<I...>) {
      return std::tuple_cat(std::make_tuple(typename Args::io{}, std::cref(std::get<I>(bundles)))...);
    }(std::index_sequence_for<Args...>{});
    std::apply(
        [&](const auto&... args) {
          QueueEvent done = detail::RunParallel::_run_parallel(queue, Dependencies<0>{}, space, Kernel{}, args...);
        },
        io_and_bundles);
  }
};

}  // namespace vorn::frame
