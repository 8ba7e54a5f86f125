// The entry frame shared by every kernel unit.
#pragma once

#include <cstddef>
#include <tuple>
#include <type_traits>

#include "argument_record.hpp"
#include "queue_handle.hpp"
#include "vorn/queue/queue.hpp"

namespace vorn::frame {

// A unit: its main kernel functor over the arguments its declaration (a
// Record) describes. The declaration names the kernel the unit runs.
template <class Kernel, class Decl>
struct Unit {
  static_assert(Kernel::name == Decl::kernel, "the unit runs the kernel its declaration names");

  using bundles_type = typename Decl::bundles_type;
  using space_type = typename Decl::space_type;

  // The synchronous body of brask_body_<hash>:
  //   1. decode the record and the shape variables into host views;
  //   2. obtain the queue handle (created on the first call);
  //   3. clear the status tensor, then every OutList tensor in triple order;
  //   4. launch the kernel over the index space;
  // each step complete before the next. Failures propagate as exceptions.
  static int entry(void* const* record, const long long* shape_values) {
    bundles_type bundles{};
    StatusView status{};
    space_type space{};
    decode_record<Decl>(record, shape_values, bundles, status, space);

    CpuQueue& queue = unit_queue();
    { QueueEvent cleared = status.fill_with(queue, 0); }
    Decl::template for_each_storage<OutList>(bundles, [&](auto& view) {
      QueueEvent cleared = view.fill_with(queue, typename std::remove_cvref_t<decltype(view)>::element_type{});
    });
    launch(queue, space, bundles);
    return 0;
  }

 private:
  static void launch(CpuQueue& queue, const space_type& space, bundles_type& bundles) {
    // _run_parallel takes each io bundle followed by its host bundle.
    auto io_and_bundles = [&]<std::size_t... I>(std::index_sequence<I...>) {
      return std::tuple_cat(
          std::make_tuple(std::tuple_element_t<I, typename Decl::io_types>{}, std::cref(std::get<I>(bundles)))...);
    }(std::make_index_sequence<std::tuple_size_v<bundles_type>>{});
    std::apply(
        [&](const auto&... args) {
          QueueEvent done =
              vorn::detail::RunParallel::_run_parallel(queue, Dependencies<0>{}, space, Kernel{}, args...);
        },
        io_and_bundles);
  }
};

}  // namespace vorn::frame
