// TensorView: a typed, strided, non-owning window on memory the host owns.
//
// Element type, rank, axis tags, memory space and every extent or stride known
// when a unit is generated are template arguments; only the dynamic extents and
// strides are stored. A view of an all-static shape carries only `data`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "vorn/tensor/ct.hpp"
#include "vorn/tensor/memory_space.hpp"
#include "vorn/tensor/tuple.hpp"

namespace vorn {

namespace detail {

template <class Tup>
struct tuple_tail;
template <class E0, class... E>
struct tuple_tail<Tuple<E0, E...>> {
  using type = Tuple<E...>;
};

// The tuple without its first entry, dynamic values carried over in order.
template <class E0, class... E>
constexpr Tuple<E...> drop_first(const Tuple<E0, E...>& t) {
  Tuple<E...> out{};
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (
        [&] {
          if constexpr (!Tuple<E...>::template is_static<I>) out.template set<I>(t.template get<I + 1>());
        }(),
        ...);
  }(std::index_sequence_for<E...>{});
  return out;
}

}  // namespace detail

template <class T, class Shape, class Space, class Axes, class Strides>
struct TensorView {
  using element_type = T;
  using shape_type = Shape;
  using memory_space = Space;
  using axes_type = Axes;
  using strides_type = Strides;
  static constexpr std::size_t rank = Shape::size;
  static_assert(Axes::size == rank && Strides::size == rank, "one extent, tag and stride per axis");

  [[no_unique_address]] Strides strides;  // bytes between consecutive indices, per axis
  [[no_unique_address]] Shape shape;      // extent per axis
  T* data = nullptr;                      // the element whose indices are all 0

  // Byte offset of element (i0, ..., ik-1) from `data`, in signed 64-bit arithmetic.
  template <class... I>
    requires(sizeof...(I) == rank && (std::is_integral_v<I> && ...))
  constexpr long long byte_offset(I... index) const {
    const long long ix[] = {static_cast<long long>(index)..., 0};
    return [&]<std::size_t... K>(std::index_sequence<K...>) {
      return (0LL + ... + (ix[K] * strides.template get<K>()));
    }(std::make_index_sequence<rank>{});
  }

  template <class... I>
    requires(sizeof...(I) == rank && (std::is_integral_v<I> && ...))
  constexpr T& operator()(I... index) const {
    return *at_byte(byte_offset(index...));
  }

  // The view of the remaining axes at index i of the first axis.
  constexpr auto operator[](long long i) const
    requires(rank >= 1)
  {
    using Rest = TensorView<T, typename detail::tuple_tail<Shape>::type, Space,
                            typename detail::tuple_tail<Axes>::type, typename detail::tuple_tail<Strides>::type>;
    return Rest{detail::drop_first(strides), detail::drop_first(shape), at_byte(i * strides.template get<0>())};
  }

  template <std::size_t I>
  constexpr long long extent() const {
    return shape.template get<I>();
  }

  // Product of all extents: 1 for a 0-D view, 0 as soon as one extent is 0.
  constexpr long long element_count() const {
    return [&]<std::size_t... K>(std::index_sequence<K...>) {
      return (1LL * ... * shape.template get<K>());
    }(std::make_index_sequence<rank>{});
  }

  // Writes `value` into every element through a fill kernel on `queue`.
  template <class Queue>
  auto fill_with(Queue& queue, T value) const {
    return _fill_with(value, fill_submitter(queue));
  }

  template <class Submitter>
  auto _fill_with(T value, Submitter&& submit) const {
    return submit(*this, value);
  }

 private:
  constexpr T* at_byte(long long offset) const {
    return reinterpret_cast<T*>(reinterpret_cast<std::byte*>(data) + offset);
  }
};

template <class X>
inline constexpr bool is_tensor_view_v = false;
template <class T, class Shape, class Space, class Axes, class Strides>
inline constexpr bool is_tensor_view_v<TensorView<T, Shape, Space, Axes, Strides>> = true;

// Dense row-major strides for `shape`: the last axis has the element size, each
// earlier axis the next axis's stride times its extent. Only dynamic entries of
// `Strides` are written; static ones are already part of the type.
template <class Strides, class Shape>
constexpr Strides dense_strides(const Shape& shape, long long element_size) {
  Strides out{};
  long long stride = element_size;
  [&]<std::size_t... K>(std::index_sequence<K...>) {
    constexpr std::size_t n = sizeof...(K);
    ((
         [&] {
           constexpr std::size_t axis = n - 1 - K;
           if constexpr (!Strides::template is_static<axis>) out.template set<axis>(stride);
           stride *= shape.template get<axis>();
         }()),
     ...);
  }(std::make_index_sequence<Shape::size>{});
  return out;
}

// A view over `data` with the given shape and dense row-major strides.
template <class View>
constexpr View make_dense_view(typename View::element_type* data, const typename View::shape_type& shape) {
  return View{dense_strides<typename View::strides_type>(shape, sizeof(typename View::element_type)), shape, data};
}

// Host-to-kernel conversion: the same element type, shape, axes and strides in
// the kernel memory space, field by field; `data` is unchanged.
template <class T, class Shape, class Axes, class Strides>
constexpr TensorView<T, Shape, CpuKernelMemorySpace, Axes, Strides> to_kernel(
    const TensorView<T, Shape, CpuHostMemorySpace, Axes, Strides>& v) {
  return {v.strides, v.shape, v.data};
}

}  // namespace vorn
