// Narrowing of element and work-item counts to the pool's 32-bit slot counts.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace vorn::detail {

inline constexpr long long max_slot_count = 2147483647;  // 2^31 - 1

// A count at or above 2^31 cannot be split into int slots: refuse it rather than
// run only its low 32 bits and report success. A count <= 0 runs nothing.
inline int narrow_work_count(long long count, const char* what) {
  if (count > max_slot_count) {
    throw std::length_error(std::string(what) + " count " + std::to_string(count) +
                            " is at or above 2^31, the most one submission can split");
  }
  return count <= 0 ? 0 : static_cast<int>(count);
}

// Product of a view's extents, refusing one that overflows 64 bits.
template <class View>
long long checked_element_count(const View& view) {
  long long count = 1;
  [&]<std::size_t... K>(std::index_sequence<K...>) {
    ((__builtin_mul_overflow(count, view.template extent<K>(), &count)
          ? throw std::length_error("tensor element count overflows 64 bits")
          : void()),
     ...);
  }(std::make_index_sequence<View::rank>{});
  return count;
}

}  // namespace vorn::detail
