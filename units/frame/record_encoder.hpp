// The host side of a unit's argument record: the record and shape-variable
// array of one call, encoded from host bundles of the unit's declaration (a
// Record) by the walks the unit decodes with. decode_record of an encoded
// record gives back every view, extent and shape value.
//
//   slot 3k     data pointer of tensor k (InpList tensors, OutList tensors, status)
//   slot 3k+1   pointer to tensor k's extents, int64, one per axis, static axes
//               included; held by the EncodedRecord; null for a 0-D tensor
//   slot 3k+2   null
//
// Shape-variable array: the values of the InpList shape variables in walk
// order, then the dynamic extents of the index space.
//
// No kernel code and no queue: hosts include this.
#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "argument_record.hpp"

namespace vorn::frame {

// Points `member`, a view of a host bundle, at `data`, dense row-major with
// `extents`, one per axis. An absent member (a NoneTensor) stays as it is.
// Throws std::logic_error when an extent contradicts the one the view's type fixes.
template <class Member>
void point_at(Member& member, const typename Member::element_type* data,
              const std::array<long long, Member::shape_type::size>& extents) {
  if constexpr (is_tensor_view_v<Member>) {
    using Shape = typename Member::shape_type;
    Shape shape{};
    [&]<std::size_t... K>(std::index_sequence<K...>) {
      (
          [&] {
            if constexpr (Shape::template is_static<K>) {
              if (extents[K] != shape.template get<K>()) {
                throw std::logic_error("extent " + std::to_string(K) + " of a view is fixed to " +
                                       std::to_string(shape.template get<K>()) + ", not " +
                                       std::to_string(extents[K]));
              }
            } else {
              shape.template set<K>(extents[K]);
            }
          }(),
          ...);
    }(std::make_index_sequence<Shape::size>{});
    // The unit writes only through views marked OutList, which the host points at its own writable buffers.
    member = make_dense_view<Member>(const_cast<typename Member::element_type*>(data), shape);
  }
}

// Gives a shape variable of a host bundle its value: held by a ScalarValue
// source, or in aux0 beside an int32 tensor source. An absent variable (over a
// NoneTensor) stays as it is.
template <class V, class E>
void set_shape_value(ShapeVarView<V, E>& variable, long long value) {
  if constexpr (is_scalar_value_v<V>) {
    variable.source.value = value;
  } else if constexpr (is_tensor_view_v<V>) {
    variable.aux0 = value;
  }
}

namespace detail {

// Entries of every extents array of a record: one per axis of each tensor.
template <class Decl>
constexpr std::size_t record_extent_count() {
  typename Decl::bundles_type bundles{};
  std::size_t count = StatusView::rank;
  const auto add = [&](const auto& view) { count += std::remove_cvref_t<decltype(view)>::rank; };
  Decl::template for_each_storage<InpList>(bundles, add);
  Decl::template for_each_storage<OutList>(bundles, add);
  return count;
}

}  // namespace detail

// The record of one call. It owns the extents arrays its slots point to, so it
// stays where it was made (no copy, no move) and must outlive the call.
template <class Decl>
class EncodedRecord {
 public:
  EncodedRecord(const typename Decl::bundles_type& bundles, const StatusView& status,
                const typename Decl::space_type& space) {
    int triple = 0;
    std::size_t extent = 0;
    const auto put = [&](const auto& view) { put_view(view, triple++, extent); };
    Decl::template for_each_storage<InpList>(bundles, put);
    Decl::template for_each_storage<OutList>(bundles, put);
    put(status);

    std::size_t next_value = 0;
    Decl::for_each_shape_value(bundles, [&](const auto& variable) {
      if constexpr (is_scalar_value_v<decltype(variable.source)>) {
        shape_values_[next_value++] = variable.source.value;
      } else {
        shape_values_[next_value++] = variable.aux0;
      }
    });
    if constexpr (Decl::layout.space_extents > 0) {
      shape_values_[next_value] = space.extents.template get<0>();
    }
  }
  EncodedRecord(const EncodedRecord&) = delete;
  EncodedRecord& operator=(const EncodedRecord&) = delete;

  void* const* record() const { return slots_.data(); }
  const long long* shape_values() const { return shape_values_.data(); }

 private:
  template <class View>
  void put_view(const View& view, int triple, std::size_t& extent) {
    const auto k = static_cast<std::size_t>(triple);
    slots_[3 * k] = view.data;
    if constexpr (View::rank > 0) {
      long long* extents = &extents_[extent];
      [&]<std::size_t... K>(std::index_sequence<K...>) {
        ((extents[K] = view.template extent<K>()), ...);
      }(std::make_index_sequence<View::rank>{});
      slots_[3 * k + 1] = extents;
      extent += View::rank;
    }
  }

  std::array<void*, 3 * static_cast<std::size_t>(Decl::layout.triples())> slots_{};
  std::array<long long, detail::record_extent_count<Decl>()> extents_{};
  std::array<long long, static_cast<std::size_t>(Decl::layout.shape_array())> shape_values_{};
};

}  // namespace vorn::frame
