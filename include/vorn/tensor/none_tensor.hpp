// NoneTensor: the placeholder for an argument a unit does not have.
#pragma once

namespace vorn {

// No storage, no data, no strides: only its type. Always marked UndefList in its
// io bundle, never read or written, and never given an argument triple.
template <class T, class Shape, class Axes>
struct NoneTensor {
  using element_type = T;
  using shape_type = Shape;
  using axes_type = Axes;
};

template <class X>
inline constexpr bool is_none_tensor_v = false;
template <class T, class Shape, class Axes>
inline constexpr bool is_none_tensor_v<NoneTensor<T, Shape, Axes>> = true;

}  // namespace vorn
