// Cut of a cell of N = 3 to 8 vertices held in eight lanes.
//
// Vertex i is outside when 0 < J(i), J = fma(x, nx, fms(y, ny, offset)). When
// the outside lanes form one cyclic run s..e, with p before it and q after it
// (both inside), the run is replaced by A on edge p->s and B on edge q->e, and
// the lanes are rotated so that q becomes lane 0:
//   lanes 0 .. N-m-1   q, q+1, ..., p (mod N), each with its own edge id
//   lane  N-m          A, edge A->B on the plane: the plane's cut id
//   lane  N-m+1        B, edge B->q, the rest of old edge e: old id of e
// giving N' = N - m + 2 vertices for m outside lanes.
#pragma once

#include <bit>
#include <cstdint>

#include "cell_states.hpp"
#include "vorn/engine/local2.hpp"

namespace vorn::detail {

// What a register cut did.
inline constexpr int register_emptied = 0;  // every vertex outside
inline constexpr int register_spill = -1;   // needs the general cut; lanes untouched
// Otherwise the result is the new vertex count N' (N when nothing changed).

// Cyclic run boundaries of an n-bit mask: bit i of `starts` is set when lane
// i is outside and lane i - 1 inside; bit i of `ends` when lane i is outside
// and lane i + 1 inside.
struct RunBounds {
  unsigned starts;
  unsigned ends;
};

[[gnu::always_inline]] inline RunBounds run_bounds(unsigned outside, int n) {
  unsigned const all = (1u << n) - 1u;
  unsigned const before_outside = ((outside << 1) | (outside >> (n - 1))) & all;
  unsigned const after_outside = ((outside >> 1) | (outside << (n - 1))) & all;
  return {outside & ~before_outside, outside & ~after_outside};
}

// A in the even lanes and B in the odd ones (only lanes 0 and 1 are used):
// each interpolated from its inside end, t = J_in / (J_in - J_out).
template <class V>
struct CutPoints {
  V x;
  V y;
};

template <class Lanes, class V>
[[gnu::always_inline]] inline CutPoints<V> cut_points(V const& J, V const& x, V const& y, int p, int s, int q, int e) {
  auto const inside = Lanes::pair(p, q);
  auto const outside = Lanes::pair(s, e);
  auto const j_in = permute(J, inside);
  auto const t = div(j_in, sub(j_in, permute(J, outside)));
  auto const x_in = permute(x, inside);
  auto const y_in = permute(y, inside);
  return {fma(t, sub(permute(x, outside), x_in), x_in), fma(t, sub(permute(y, outside), y_in), y_in)};
}

// Cuts the polygon in lanes 0 to n - 1 (3 <= n <= N: the state's size, or a
// smaller one held at run time) in place and returns the new size,
// register_emptied or register_spill (two or more outside runs, or a ninth
// vertex). Lanes n to 7 are computed and ignored.
template <int N, class T, class Lanes>
[[gnu::always_inline]] inline int cut_registers(StateReg<T, N, Lanes>& lanes, Plane<T, 2> const& plane, int n = N) {
  unsigned const all = (1u << n) - 1u;
  auto const J = fma(lanes.xs, Lanes::broadcast(plane.normal[0]),
                     fms(lanes.ys, Lanes::broadcast(plane.normal[1]), Lanes::broadcast(plane.offset)));
  unsigned const outside = above_zero(J) & all;
  if (outside == 0) return n;
  if (outside == all) return register_emptied;
  RunBounds const runs = run_bounds(outside, n);
  int const m = std::popcount(outside);
  if (std::popcount(runs.starts) > 1 || (n == 8 && m == 1)) return register_spill;
  int const s = std::countr_zero(runs.starts);
  int const e = std::countr_zero(runs.ends);
  int const p = s == 0 ? n - 1 : s - 1;
  int const q = e == n - 1 ? 0 : e + 1;
  auto const ab = cut_points<Lanes>(J, lanes.xs, lanes.ys, p, s, q, e);
  auto const order = Lanes::rotation_then_pair(q, n, n - m);
  lanes.cut_ids = permute2(lanes.cut_ids, pair_ids(plane.cut_id, lanes.cut_ids, e), order);
  lanes.xs = permute2(lanes.xs, ab.x, order);
  lanes.ys = permute2(lanes.ys, ab.y, order);
  return n - m + 2;
}

}  // namespace vorn::detail
