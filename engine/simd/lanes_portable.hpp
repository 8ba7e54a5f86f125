// Portable twin of lanes_avx512.hpp: the same operations on plain arrays.
// fused_multiply_add is the correctly rounded fused multiply-add whatever the
// target.
#pragma once

#include <array>
#include <cmath>

#include "vorn/fused_multiply_add.hpp"

namespace vorn::simd {

inline constexpr char backend_name[] = "portable";

template <class T>
inline constexpr int lanes = static_cast<int>(32 / sizeof(T));

template <class T>
struct Vec {
  std::array<T, lanes<T>> v;
};

template <class T>
inline Vec<T> load(T const* p) {
  Vec<T> r;
  for (int l = 0; l < lanes<T>; ++l) r.v[l] = p[l];
  return r;
}

template <class T>
inline void store(T* p, Vec<T> const& a) {
  for (int l = 0; l < lanes<T>; ++l) p[l] = a.v[l];
}

template <class T>
inline Vec<T> broadcast(T x) {
  Vec<T> r;
  r.v.fill(x);
  return r;
}

template <class T>
inline Vec<T> sub(Vec<T> const& a, Vec<T> const& b) {
  Vec<T> r;
  for (int l = 0; l < lanes<T>; ++l) r.v[l] = a.v[l] - b.v[l];
  return r;
}

template <class T>
inline Vec<T> mul(Vec<T> const& a, Vec<T> const& b) {
  Vec<T> r;
  for (int l = 0; l < lanes<T>; ++l) r.v[l] = a.v[l] * b.v[l];
  return r;
}

template <class T>
inline Vec<T> fma(Vec<T> const& a, Vec<T> const& b, Vec<T> const& c) {
  return {fused_multiply_add(a.v, b.v, c.v)};
}

template <class T>
struct LaneCounts {
  std::array<int, lanes<T>> n{};
};

template <class T>
inline void count_positive(LaneCounts<T>& counts, Vec<T> const& a) {
  for (int l = 0; l < lanes<T>; ++l) counts.n[l] += a.v[l] > T(0) ? 1 : 0;
}

template <class T>
inline int total(LaneCounts<T> const& counts) {
  int sum = 0;
  for (int c : counts.n) sum += c;
  return sum;
}

}  // namespace vorn::simd
