// ShapeVarView: a named count that sizes other tensors.
#pragma once

#include "vorn/tensor/tensor_view.hpp"

namespace vorn {

// An error buffer that records nothing and has no storage.
struct NoErrorBuffer {};

// `source` holds the value: a ScalarValue<long long> (value from the host), an
// int32 TensorView (the host's value then sits in aux0), or a NoneTensor (no
// variable). The unit entry sets aux0 and aux1; no kernel reads them.
template <class V, class E>
struct ShapeVarView {
  V source{};
  long long aux0 = -1;
  [[no_unique_address]] E error{};
  long long aux1 = -1;
};

template <class X>
inline constexpr bool is_shape_var_view_v = false;
template <class V, class E>
inline constexpr bool is_shape_var_view_v<ShapeVarView<V, E>> = true;

template <class V, class E>
constexpr auto to_kernel(const ShapeVarView<V, E>& s) {
  if constexpr (is_tensor_view_v<V>) {
    return ShapeVarView<decltype(to_kernel(s.source)), E>{to_kernel(s.source), s.aux0, s.error, s.aux1};
  } else {
    return s;
  }
}

}  // namespace vorn
