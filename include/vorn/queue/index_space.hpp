// Index spaces of launches and fills, and the coordinates of one work item.
#pragma once

#include <cstdint>

#include "vorn/tensor/tuple.hpp"

namespace vorn {

// The product of one index range [0, e) per axis.
template <class Extents, class Axes>
struct CartesianIndices {
  static_assert(Extents::size == Axes::size, "one extent per axis tag");
  static_assert(Extents::size <= 1, "launches run over at most one axis");
  [[no_unique_address]] Extents extents;
};

// A flat range [0, count).
template <class Index, class Size>
struct Range {
  Size count{};
};

// The coordinates of one work item, as a kernel functor receives them.
template <class Tup>
struct Coords {
  [[no_unique_address]] Tup values;
  template <std::size_t I>
  constexpr long long get() const {
    return values.template get<I>();
  }
};

// Number of work items, 64-bit; the launch narrows it to 32 bits.
template <class Extents, class Axes>
constexpr long long work_item_count(const CartesianIndices<Extents, Axes>& space) {
  if constexpr (Extents::size == 0) {
    return 1;
  } else {
    return space.extents.template get<0>();
  }
}

template <class Extents, class Axes>
constexpr auto coords_of(const CartesianIndices<Extents, Axes>&, long long j) {
  if constexpr (Extents::size == 0) {
    return Coords<Tuple<>>{};
  } else {
    Coords<Tuple<long long>> c{};
    c.values.template set<0>(j);
    return c;
  }
}

template <class Index, class Size>
constexpr auto coords_of(const Range<Index, Size>&, long long j) {
  Coords<Tuple<long long>> c{};
  c.values.template set<0>(j);
  return c;
}

}  // namespace vorn
