// A unit's argument record and shape-variable array: what a unit and every host
// that calls it agree on (Record), and the unit side's decoding into host views.
//
// Argument record: 8-byte slots, three per tensor argument ("triple"):
//
//   slot 3k     pointer to element 0 of tensor k          always read
//   slot 3k+1   pointer to int64 extents, one per axis     only entries of dynamic axes
//   slot 3k+2   reserved                                   never read
//
// Triples are assigned by walking the unit's bundles in declaration order
// (descending into sub-bundles) twice: first every InpList member that holds
// tensor storage, then every OutList one; the status tensor comes last.
// NoneTensors, Ct members and shape variables over a ScalarValue get no triple.
//
// Shape-variable array (int64): one entry per InpList shape variable in walk
// order (a ScalarValue's value, or aux0 of a variable held in an int32 tensor),
// then one per dynamic extent of the launch's index space.
//
// Strides are never taken from the host: every view is dense row-major.
// Hosts build records with the same walks (record_encoder.hpp).
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "vorn/queue/bundle.hpp"
#include "vorn/queue/index_space.hpp"
#include "vorn/queue/io.hpp"
#include "vorn/tensor/tensor.hpp"

namespace vorn::frame {

// One argument bundle of a unit together with its io twin.
template <class Io, class HostBundle>
struct Arg {
  using io = Io;
  using bundle = HostBundle;
};

using StatusView = TensorView<int, Tuple<long long>, CpuHostMemorySpace, Tuple<UnnamedAxis>, Tuple<Ct<int, 4>>>;

template <class M>
inline constexpr bool holds_storage_v = is_tensor_view_v<M>;
template <class V, class E>
inline constexpr bool holds_storage_v<ShapeVarView<V, E>> = is_tensor_view_v<V>;

template <class M>
inline constexpr bool takes_shape_value_v = false;
template <class V, class E>
inline constexpr bool takes_shape_value_v<ShapeVarView<V, E>> = !is_none_tensor_v<V>;

// The tensor behind a member that holds storage.
template <class M>
constexpr auto& storage_of(M& member) {
  if constexpr (is_shape_var_view_v<std::remove_const_t<M>>) {
    return member.source;
  } else {
    return member;
  }
}

namespace detail {

// Calls f(member) for every member marked `Marker` that holds tensor storage,
// over all bundles of the unit, in triple order. `Bundles` is the unit's tuple
// of host bundles, const when only read.
template <class Marker, class... Args, class Bundles, class F>
constexpr void for_each_storage(Bundles& bundles, F&& f) {
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (for_each_leaf<typename Args::io>(std::get<I>(bundles),
                                      [&](auto& member, auto marker) {
                                        using M = std::remove_cvref_t<decltype(member)>;
                                        if constexpr (std::is_same_v<decltype(marker), Marker> && holds_storage_v<M>) {
                                          f(storage_of(member));
                                        }
                                      }),
     ...);
  }(std::index_sequence_for<Args...>{});
}

// Calls f(member) for every InpList shape variable that takes a value from the host.
template <class... Args, class Bundles, class F>
constexpr void for_each_shape_value(Bundles& bundles, F&& f) {
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (for_each_leaf<typename Args::io>(std::get<I>(bundles),
                                      [&](auto& member, auto marker) {
                                        using M = std::remove_cvref_t<decltype(member)>;
                                        if constexpr (std::is_same_v<decltype(marker), InpList> &&
                                                      takes_shape_value_v<M>) {
                                          f(member);
                                        }
                                      }),
     ...);
  }(std::index_sequence_for<Args...>{});
}

}  // namespace detail

// Points a view at its triple: data from slot 3k, dynamic extents from the
// array at slot 3k+1 (not dereferenced when every extent is static), dense strides.
template <class View>
void bind_view(View& view, void* const* record, int triple) {
  using Shape = typename View::shape_type;
  view.data = static_cast<typename View::element_type*>(record[3 * triple]);
  if constexpr (Shape::dynamic_count > 0) {
    const auto* extents = static_cast<const long long*>(record[3 * triple + 1]);
    [&]<std::size_t... K>(std::index_sequence<K...>) {
      (
          [&] {
            if constexpr (!Shape::template is_static<K>) view.shape.template set<K>(extents[K]);
          }(),
          ...);
    }(std::make_index_sequence<Shape::size>{});
    view.strides = dense_strides<typename View::strides_type>(view.shape, sizeof(typename View::element_type));
  }
}

// The shape of a unit's argument record, derived from its bundles and index space.
struct RecordLayout {
  int input_triples;   // InpList tensors
  int output_triples;  // OutList tensors, cleared by the entry in this order
  int shape_values;    // shape-variable entries taken by bundle members
  int space_extents;   // shape-variable entries after them: the index space's dynamic extents
  constexpr int triples() const { return input_triples + output_triples + 1; }  // + status
  constexpr int shape_array() const { return shape_values + space_extents; }
};

template <class Space>
inline constexpr int space_dynamic_extents = 0;
template <class Extents, class Axes>
inline constexpr int space_dynamic_extents<CartesianIndices<Extents, Axes>> = static_cast<int>(Extents::dynamic_count);

namespace detail {

template <class Space, class... Args>
constexpr RecordLayout record_layout() {
  std::tuple<typename Args::bundle...> bundles{};
  RecordLayout layout{0, 0, 0, space_dynamic_extents<Space>};
  for_each_storage<InpList, Args...>(bundles, [&](auto&) { ++layout.input_triples; });
  for_each_storage<OutList, Args...>(bundles, [&](auto&) { ++layout.output_triples; });
  for_each_shape_value<Args...>(bundles, [&](auto&) { ++layout.shape_values; });
  return layout;
}

}  // namespace detail

// The name of a unit's main kernel functor, as a template argument.
template <std::size_t N>
struct KernelName {
  char text[N];
  constexpr KernelName(const char (&name)[N]) { std::copy_n(name, N, text); }
  constexpr std::string_view view() const { return {text, N - 1}; }
};

// The declaration of a unit: the name of its kernel, the index space of its
// launch and its argument bundles (host views) with their io twins. The unit
// decodes with it and hosts encode with it, so both derive the record from
// the same types, and its signature (unit_signature.hpp) is made of them.
// The kernel goes by name only: a host includes declarations without any
// kernel code.
template <KernelName Kernel, class Space, class... Args>
struct Record {
  static constexpr std::string_view kernel = Kernel.view();
  using space_type = Space;
  using bundles_type = std::tuple<typename Args::bundle...>;
  using io_types = std::tuple<typename Args::io...>;

  static constexpr RecordLayout layout = detail::record_layout<Space, Args...>();

  template <class Marker, class Bundles, class F>
    requires std::same_as<std::remove_const_t<Bundles>, bundles_type>
  static constexpr void for_each_storage(Bundles& bundles, F&& f) {
    detail::for_each_storage<Marker, Args...>(bundles, f);
  }

  template <class Bundles, class F>
    requires std::same_as<std::remove_const_t<Bundles>, bundles_type>
  static constexpr void for_each_shape_value(Bundles& bundles, F&& f) {
    detail::for_each_shape_value<Args...>(bundles, f);
  }
};

// The unit side: the views, shape values and index space of one call.
template <class Decl>
void decode_record(void* const* record, const long long* shape_values, typename Decl::bundles_type& bundles,
                   StatusView& status, typename Decl::space_type& space) {
  int triple = 0;
  Decl::template for_each_storage<InpList>(bundles, [&](auto& view) { bind_view(view, record, triple++); });
  Decl::template for_each_storage<OutList>(bundles, [&](auto& view) { bind_view(view, record, triple++); });
  bind_view(status, record, triple);

  int next_value = 0;
  Decl::for_each_shape_value(bundles, [&](auto& variable) {
    if constexpr (is_scalar_value_v<decltype(variable.source)>) {
      variable.source.value = shape_values[next_value++];
    } else {
      variable.aux0 = shape_values[next_value++];
    }
  });
  if constexpr (Decl::layout.space_extents > 0) {
    space.extents.template set<0>(shape_values[next_value]);
  }
}

}  // namespace vorn::frame
