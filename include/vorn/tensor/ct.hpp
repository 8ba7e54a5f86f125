// Compile-time constants: static extents, static strides and fixed bundle values.
#pragma once

#include <type_traits>

namespace vorn {

// A value of type T known when the unit is generated. It has no run-time
// storage; index arithmetic on it folds into constants.
template <class T, T v>
struct Ct {
  using value_type = T;
  static constexpr T value = v;
  constexpr operator T() const noexcept { return v; }
};

template <class X>
inline constexpr bool is_ct_v = false;
template <class T, T v>
inline constexpr bool is_ct_v<Ct<T, v>> = true;

}  // namespace vorn
