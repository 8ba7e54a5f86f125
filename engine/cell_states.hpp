// The two views of a cell that the plane provider prunes against: the cell's
// own arrays (memory mode) or eight lanes held by value (register mode).
#pragma once

#include <cstdint>

#include "simd/lane8.hpp"

namespace vorn {

// The cell as it lies in its arrays. Pruning applies only when `bounded`;
// an unbounded cell's finite vertices do not stand for its extent.
template <class T, class Lanes = lane8::native::Backend>
struct StateMem {
  std::int32_t vertex_count;
  T const* xs;
  T const* ys;
  std::int32_t const* cut_ids;  // carried for the driver; the provider reads no ids
  bool bounded;
};

// A bounded cell of N vertices (3 to 8) in lanes 0 to N - 1, in the cell's
// order: edge i runs from lane i to lane (i + 1) mod N and carries
// cut_ids lane i. Lanes N to 7 hold nothing of meaning.
template <class T, int N, class Lanes = lane8::native::Backend>
struct StateReg {
  static_assert(N >= 3 && N <= 8);
  static constexpr int size = N;
  static constexpr unsigned lane_mask = (1u << N) - 1u;

  typename Lanes::template Vec<T> xs;
  typename Lanes::template Vec<T> ys;
  typename Lanes::Ids cut_ids;
};

}  // namespace vorn
