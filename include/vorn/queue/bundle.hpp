// Argument bundles: aggregates of views, shape variables, constants and
// sub-bundles, with a members() accessor that lists the members in declaration
// order. This header walks bundles and converts them between memory spaces.
#pragma once

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "vorn/queue/io.hpp"
#include "vorn/tensor/tensor.hpp"

namespace vorn {

template <class B>
concept Bundle = requires(B& b) {
  { b.members() };
};

// Host-to-kernel conversion of any member: views and shape variables change
// memory space, bundles convert member by member, NoneTensor, Ct and
// ScalarValue members are copied as they are.
template <class M>
constexpr auto to_kernel_member(const M& m) {
  if constexpr (is_tensor_view_v<M> || is_shape_var_view_v<M>) {
    return to_kernel(m);
  } else if constexpr (Bundle<M>) {
    return to_kernel(m);
  } else {
    return m;
  }
}

template <template <class...> class B, class... M>
  requires Bundle<B<M...>>
constexpr auto to_kernel(const B<M...>& bundle) {
  using Kernel = B<decltype(to_kernel_member(std::declval<const M&>()))...>;
  return std::apply([](const auto&... m) { return Kernel{to_kernel_member(m)...}; }, bundle.members());
}

// Calls f(member, Marker{}) for every leaf of `bundle`, in declaration order,
// descending into sub-bundles with their io twins.
template <class Io, class B, class F>
constexpr void for_each_leaf(B& bundle, F&& f) {
  if constexpr (Bundle<B>) {
    auto members = bundle.members();
    using Markers = io_markers_t<Io>;
    static_assert(std::tuple_size_v<decltype(members)> == std::tuple_size_v<Markers>,
                  "an io bundle has one marker per member");
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (for_each_leaf<std::tuple_element_t<I, Markers>>(std::get<I>(members), f), ...);
    }(std::make_index_sequence<std::tuple_size_v<Markers>>{});
  } else {
    f(bundle, Io{});
  }
}

}  // namespace vorn
