// Tuple: an ordered list of extents, strides or tags in which only the run-time
// entries take storage.
#pragma once

#include <array>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "vorn/tensor/ct.hpp"

namespace vorn {

namespace detail {

template <std::size_t N>
struct DynamicValues {
  std::array<long long, N> values{};
  constexpr long long operator[](std::size_t i) const { return values[i]; }
  constexpr long long& operator[](std::size_t i) { return values[i]; }
};
template <>
struct DynamicValues<0> {};

// Index of entry I among the run-time entries of E...
template <std::size_t I, class... E>
constexpr std::size_t dynamic_index() {
  constexpr bool is_static[] = {is_ct_v<E>..., false};
  std::size_t k = 0;
  for (std::size_t j = 0; j < I; ++j) k += is_static[j] ? 0 : 1;
  return k;
}

}  // namespace detail

// Each entry E is either `long long` (stored, in order) or a Ct (not stored).
// Tuples of axis tags hold empty tag types and store nothing either.
template <class... E>
struct Tuple {
  static constexpr std::size_t size = sizeof...(E);
  static constexpr std::size_t dynamic_count = (std::size_t{0} + ... + (std::is_same_v<E, long long> ? 1 : 0));

  [[no_unique_address]] detail::DynamicValues<dynamic_count> dynamic;

  template <std::size_t I>
  using element = std::tuple_element_t<I, std::tuple<E...>>;

  template <std::size_t I>
  static constexpr bool is_static = is_ct_v<element<I>>;

  // Entry I as a number; a Ct entry folds to its constant.
  template <std::size_t I>
  constexpr long long get() const {
    if constexpr (is_static<I>) {
      return static_cast<long long>(element<I>::value);
    } else {
      return dynamic[detail::dynamic_index<I, E...>()];
    }
  }

  template <std::size_t I>
  constexpr void set(long long v) requires(!is_static<I>) {
    dynamic[detail::dynamic_index<I, E...>()] = v;
  }
};

template <class T>
inline constexpr bool is_tuple_v = false;
template <class... E>
inline constexpr bool is_tuple_v<Tuple<E...>> = true;

}  // namespace vorn
