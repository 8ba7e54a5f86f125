// Signed value of every vertex against a plane: v = fma(nx, x, ny·y) − offset,
// the product ny·y rounded first. A vertex is outside when v > 0; a vertex on
// the plane and a NaN value count as inside.
#pragma once

#include <cmath>

#include "vorn/engine/local2.hpp"
#include "simd/lanes.hpp"
#include "slots.hpp"
#include "vorn/fused_multiply_add.hpp"

namespace vorn::detail {

template <class T>
inline T signed_value(Plane<T, 2> const& plane, T x, T y) {
  return fused_multiply_add(plane.normal[0], x, plane.normal[1] * y) - plane.offset;
}

// Reference order: each iteration reads the plane and vertex i before storing
// dists[i], so the result is defined even when dists overlaps an input.
template <class T>
int signed_values_scalar(int n, T const* xs, T const* ys, Plane<T, 2> const& plane, T* dists) {
  int outside = 0;
  for (int i = 0; i < n; ++i) {
    T v = signed_value(plane, xs[i], ys[i]);
    dists[i] = v;
    outside += v > T(0) ? 1 : 0;
  }
  return outside;
}

// Blocks of four vectors, then single vectors, then scalar; outside counts
// are kept per lane and summed once. Requires dists disjoint from the inputs.
template <class T>
int signed_values_vector(int n, T const* xs, T const* ys, Plane<T, 2> const& plane, T* dists) {
  constexpr int w = simd::lanes<T>;
  auto const nx = simd::broadcast(plane.normal[0]);
  auto const ny = simd::broadcast(plane.normal[1]);
  auto const offset = simd::broadcast(plane.offset);
  simd::LaneCounts<T> counts;
  auto group = [&](int i) {
    auto v = simd::sub(simd::fma(nx, simd::load(xs + i), simd::mul(ny, simd::load(ys + i))), offset);
    simd::store(dists + i, v);
    simd::count_positive(counts, v);
  };
  int i = 0;
  for (; i + 4 * w <= n; i += 4 * w) {
    group(i);
    group(i + w);
    group(i + 2 * w);
    group(i + 3 * w);
  }
  for (; i + w <= n; i += w) group(i);
  int const tail = signed_values_scalar(n - i, xs + i, ys + i, plane, dists + i);
  return simd::total(counts) + tail;
}

// Writes dists[0..n) and returns the number of outside vertices.
template <class T>
int signed_values(int n, T const* xs, T const* ys, Plane<T, 2> const& plane, T* dists) {
  bool const aliased = ranges_overlap(dists, n, xs, n) || ranges_overlap(dists, n, ys, n) ||
                       ranges_overlap(dists, n, &plane, 1);
  if (aliased) return signed_values_scalar(n, xs, ys, plane, dists);
  return signed_values_vector(n, xs, ys, plane, dists);
}

}  // namespace vorn::detail
