// ScalarValue: one value held by value (a shape variable given by the host).
#pragma once

namespace vorn {

template <class T>
struct ScalarValue {
  T value{};
};

template <class X>
inline constexpr bool is_scalar_value_v = false;
template <class T>
inline constexpr bool is_scalar_value_v<ScalarValue<T>> = true;

}  // namespace vorn
