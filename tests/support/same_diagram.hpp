// Bit-for-bit comparison of host results, naming the first difference.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "vorn/host/power_diagram.hpp"

namespace vorn::test {

template <class T>
::testing::AssertionResult same_bits(std::vector<T> const& a, std::vector<T> const& b, char const* what) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << what << ": " << a.size() << " vs " << b.size();
  for (std::size_t k = 0; k < a.size(); ++k) {
    bool same;
    if constexpr (std::is_same_v<T, double>) {
      same = std::bit_cast<std::uint64_t>(a[k]) == std::bit_cast<std::uint64_t>(b[k]);
    } else {
      same = a[k] == b[k];
    }
    if (!same) return ::testing::AssertionFailure() << what << "[" << k << "]: " << a[k] << " vs " << b[k];
  }
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult same_diagram(host::PowerDiagram const& a, host::PowerDiagram const& b) {
  for (auto r : {same_bits(a.cell_begin, b.cell_begin, "cell_begin"), same_bits(a.xs, b.xs, "xs"),
                 same_bits(a.ys, b.ys, "ys"), same_bits(a.neighbours, b.neighbours, "neighbours"),
                 same_bits(a.neighbour_shifts, b.neighbour_shifts, "neighbour_shifts"),
                 same_bits(a.areas, b.areas, "areas"), same_bits(a.centroid_x, b.centroid_x, "centroid_x"),
                 same_bits(a.centroid_y, b.centroid_y, "centroid_y"), same_bits(a.empty, b.empty, "empty"),
                 same_bits(a.unbounded, b.unbounded, "unbounded")}) {
    if (!r) return r;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace vorn::test
