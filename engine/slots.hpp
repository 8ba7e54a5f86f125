// Raw slot helpers shared by the engine's passes: overlap tests that decide
// whether a vector loop may run, and block moves of array slots.
#pragma once

#include <cstdint>
#include <cstring>

namespace vorn::detail {

// True when [a, a + a_count) and [b, b + b_count) share a byte. Compared as
// integers, since the two may belong to unrelated objects.
template <class A, class B>
inline bool ranges_overlap(A const* a, int a_count, B const* b, int b_count) {
  auto a_begin = reinterpret_cast<std::uintptr_t>(a);
  auto b_begin = reinterpret_cast<std::uintptr_t>(b);
  auto a_end = a_begin + static_cast<std::uintptr_t>(a_count) * sizeof(A);
  auto b_end = b_begin + static_cast<std::uintptr_t>(b_count) * sizeof(B);
  return a_begin < b_end && b_begin < a_end;
}

// Below this many slots an inline loop beats the call into the library's
// vectorised memmove.
inline constexpr int long_move = 16;

// Moves slots [from, from + count) to [to, to + count) of one array; the two
// ranges may overlap. Short moves copy from the front when moving left and
// from the back when moving right, so no slot is read after being overwritten.
template <class U>
inline void move_slots(U* a, int from, int to, int count) {
  if (count <= 0 || from == to) return;
  if (count >= long_move) {
    std::memmove(a + to, a + from, static_cast<std::size_t>(count) * sizeof(U));
  } else if (to < from) {
    for (int i = 0; i < count; ++i) a[to + i] = a[from + i];
  } else {
    for (int i = count - 1; i >= 0; --i) a[to + i] = a[from + i];
  }
}

}  // namespace vorn::detail
