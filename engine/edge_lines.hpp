// Line of every edge from the vertices: with j = (i + 1) mod n,
//   nx[i] = ys[j] − ys[i],  ny[i] = xs[i] − xs[j],
//   offset[i] = fma(nx[i], xs[i], ny[i]·ys[i]).
// The normal points outward for a counter-clockwise polygon.
#pragma once

#include <cmath>

#include "simd/lanes.hpp"
#include "slots.hpp"
#include "vorn/fused_multiply_add.hpp"

namespace vorn::detail {

// Shortest polygon for which the vector loop pays off.
template <class T>
inline constexpr int edge_lines_vector_min = sizeof(T) == 8 ? 36 : 40;

// Reference order: each edge's normal is stored before its offset is formed
// from the stored values, so the result is defined for any overlap.
template <class T>
void edge_lines_scalar_range(int begin, int n, T const* xs, T const* ys, T* nx, T* ny, T* offset) {
  for (int i = begin; i < n; ++i) {
    int const j = i + 1 == n ? 0 : i + 1;
    nx[i] = ys[j] - ys[i];
    ny[i] = xs[i] - xs[j];
    offset[i] = fused_multiply_add(nx[i], xs[i], ny[i] * ys[i]);
  }
}

// Edges 0.. in whole vectors while vertex i + lanes exists; returns the first
// edge left for the scalar loop (at least the closing edge n − 1).
template <class T>
int edge_lines_vector_prefix(int n, T const* xs, T const* ys, T* nx, T* ny, T* offset) {
  constexpr int w = simd::lanes<T>;
  int i = 0;
  for (; i + w < n; i += w) {
    auto const x0 = simd::load(xs + i);
    auto const y0 = simd::load(ys + i);
    auto const lnx = simd::sub(simd::load(ys + i + 1), y0);
    auto const lny = simd::sub(x0, simd::load(xs + i + 1));
    simd::store(nx + i, lnx);
    simd::store(ny + i, lny);
    simd::store(offset + i, simd::fma(lnx, x0, simd::mul(lny, y0)));
  }
  return i;
}

template <class T>
bool edge_lines_disjoint(int n, T const* xs, T const* ys, T const* nx, T const* ny, T const* offset) {
  for (T const* out : {nx, ny, offset}) {
    if (ranges_overlap(out, n, xs, n) || ranges_overlap(out, n, ys, n)) return false;
  }
  return !ranges_overlap(nx, n, ny, n) && !ranges_overlap(nx, n, offset, n) &&
         !ranges_overlap(ny, n, offset, n);
}

// Writes the lines of edges 0..n−1; nothing for n <= 0.
template <class T>
void edge_lines(int n, T const* xs, T const* ys, T* nx, T* ny, T* offset) {
  int begin = 0;
  if (n >= edge_lines_vector_min<T> && edge_lines_disjoint(n, xs, ys, nx, ny, offset)) {
    begin = edge_lines_vector_prefix(n, xs, ys, nx, ny, offset);
  }
  edge_lines_scalar_range(begin, n, xs, ys, nx, ny, offset);
}

}  // namespace vorn::detail
