// Eight-lane vectors of float or double and of 32-bit ids, with 8-bit lane
// masks, written as plain loops. This is the reference for the AVX-512 twin in
// lane8_avx512.hpp: every operation is the same IEEE operation per lane, and
// min/max, compares and index wrapping follow the x86 instructions exactly, so
// the two give the same bits in every lane, including lanes of no meaning.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "vorn/fused_multiply_add.hpp"

namespace vorn::lane8::portable {

inline constexpr char name[] = "portable";

using Mask = unsigned;  // bit i stands for lane i

template <class T>
struct Vec {
  std::array<T, 8> v;
};

struct Ids {
  std::array<std::int32_t, 8> v;
};

// Lane indices 0 to 15: a one-source permute uses the low three bits, a
// two-source permute takes 8 to 15 from its second source.
struct Index {
  std::array<int, 8> i;
};

template <class T, class F>
inline Vec<T> map(F f) {
  Vec<T> r;
  for (int l = 0; l < 8; ++l) r.v[l] = f(l);
  return r;
}

template <class T>
inline Vec<T> broadcast(T x) {
  return map<T>([&](int) { return x; });
}
template <class T>
inline Vec<T> load(T const* p) {
  return map<T>([&](int l) { return p[l]; });
}
// Lanes below `count` from p, the others 0; reads only the first `count` slots.
template <class T>
inline Vec<T> load_first(T const* p, int count) {
  return map<T>([&](int l) { return l < count ? p[l] : T(0); });
}
template <class T>
inline void store(T* p, Vec<T> const& a) {
  for (int l = 0; l < 8; ++l) p[l] = a.v[l];
}
inline Ids load(std::int32_t const* p) {
  Ids r;
  for (int l = 0; l < 8; ++l) r.v[l] = p[l];
  return r;
}
inline void store(std::int32_t* p, Ids const& a) {
  for (int l = 0; l < 8; ++l) p[l] = a.v[l];
}

template <class T>
inline Vec<T> add(Vec<T> const& a, Vec<T> const& b) {
  return map<T>([&](int l) { return a.v[l] + b.v[l]; });
}
template <class T>
inline Vec<T> sub(Vec<T> const& a, Vec<T> const& b) {
  return map<T>([&](int l) { return a.v[l] - b.v[l]; });
}
template <class T>
inline Vec<T> mul(Vec<T> const& a, Vec<T> const& b) {
  return map<T>([&](int l) { return a.v[l] * b.v[l]; });
}
template <class T>
inline Vec<T> div(Vec<T> const& a, Vec<T> const& b) {
  return map<T>([&](int l) { return a.v[l] / b.v[l]; });
}
// a·b + c with one rounding.
template <class T>
inline Vec<T> fma(Vec<T> const& a, Vec<T> const& b, Vec<T> const& c) {
  return {fused_multiply_add(a.v, b.v, c.v)};
}
// a·b − c with one rounding.
template <class T>
inline Vec<T> fms(Vec<T> const& a, Vec<T> const& b, Vec<T> const& c) {
  return {fused_multiply_add(a.v, b.v, map<T>([&](int l) { return -c.v[l]; }).v)};
}
// As the x86 instructions: the second operand when the compare is false,
// which covers NaN and equal zeros of either sign.
template <class T>
inline Vec<T> max(Vec<T> const& a, Vec<T> const& b) {
  return map<T>([&](int l) { return a.v[l] > b.v[l] ? a.v[l] : b.v[l]; });
}
template <class T>
inline Vec<T> min(Vec<T> const& a, Vec<T> const& b) {
  return map<T>([&](int l) { return a.v[l] < b.v[l] ? a.v[l] : b.v[l]; });
}

// Lanes with 0 < a; NaN is not counted.
template <class T>
inline Mask above_zero(Vec<T> const& a) {
  Mask m = 0;
  for (int l = 0; l < 8; ++l) m |= (a.v[l] > T(0) ? 1u : 0u) << l;
  return m;
}
// Lanes with a <= 0; NaN is not counted.
template <class T>
inline Mask at_most_zero(Vec<T> const& a) {
  Mask m = 0;
  for (int l = 0; l < 8; ++l) m |= (a.v[l] <= T(0) ? 1u : 0u) << l;
  return m;
}

// Lane j < keep takes lane (first + j) mod n; lane keep + k takes lane k of
// a second source. Requires 0 <= first < n, 1 <= keep < n <= 8.
inline Index rotation_then_pair(int first, int n, int keep) {
  Index r;
  for (int j = 0; j < 8; ++j) {
    int const k = first + j;
    r.i[j] = j < keep ? (k >= n ? k - n : k) : 8 + j - keep;
  }
  return r;
}
// Even lanes take lane a, odd lanes lane b (so that both halves of eight
// lanes agree, which a backend of four-lane registers computes once).
inline Index pair(int a, int b) { return {{a, b, a, b, a, b, a, b}}; }

template <class T>
inline Vec<T> permute(Vec<T> const& a, Index const& index) {
  return map<T>([&](int l) { return a.v[index.i[l] & 7]; });
}
template <class T>
inline Vec<T> permute2(Vec<T> const& a, Vec<T> const& b, Index const& index) {
  return map<T>([&](int l) {
    int const i = index.i[l] & 15;
    return i < 8 ? a.v[i] : b.v[i - 8];
  });
}
inline Ids permute2(Ids const& a, Ids const& b, Index const& index) {
  Ids r;
  for (int l = 0; l < 8; ++l) {
    int const i = index.i[l] & 15;
    r.v[l] = i < 8 ? a.v[i] : b.v[i - 8];
  }
  return r;
}
// Lane 0 holds a, lane 1 holds lane `at` of ids, the others 0.
inline Ids pair_ids(std::int32_t a, Ids const& ids, int at) { return {{a, ids.v[at], 0, 0, 0, 0, 0, 0}}; }


// The backend as one type, for code templated on it: vector types and the
// operations that take no vector argument (those with one are found by
// argument-dependent lookup).
struct Backend {
  static constexpr char const* name = vorn::lane8::portable::name;
  template <class T>
  using Vec = vorn::lane8::portable::Vec<T>;
  using Ids = vorn::lane8::portable::Ids;
  using Index = vorn::lane8::portable::Index;

  template <class T>
  static Vec<T> broadcast(T x) {
    return vorn::lane8::portable::broadcast(x);
  }
  template <class T>
  static Vec<T> load(T const* p) {
    return vorn::lane8::portable::load(p);
  }
  template <class T>
  static Vec<T> load_first(T const* p, int count) {
    return vorn::lane8::portable::load_first(p, count);
  }
  static Ids load_ids(std::int32_t const* p) { return vorn::lane8::portable::load(p); }
  static Index rotation_then_pair(int first, int n, int keep) {
    return vorn::lane8::portable::rotation_then_pair(first, n, keep);
  }
  static Index pair(int a, int b) { return vorn::lane8::portable::pair(a, b); }
};

}  // namespace vorn::lane8::portable
