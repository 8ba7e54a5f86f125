// Cut of the cell polygon by a half-plane, and the cut dispatch.
//
// The outside vertices normally form one cyclic run c, c+1, …, c+d−1; the cut
// replaces that run by two new vertices A (on edge V→c) and B (on edge X→E),
// V and E being the inside vertices around it and X the run's last vertex.
// The new edge A→B lies on the plane; B→E is what remains of edge X.
#pragma once

#include <cstdint>

#include "grow_for.hpp"
#include "vorn/engine/local2.hpp"
#include "signed_values.hpp"
#include "slots.hpp"
#include "vorn/fused_multiply_add.hpp"

namespace vorn::detail {

template <class T>
inline bool is_outside(T v) {
  return v > T(0);
}

// A cyclic run of `length` vertices starting at `first`, 0 < length < n.
struct OutsideRun {
  int first;
  int length;
};

// Start of an outside run: 0 when vertex 0 starts one, else the lowest i
// whose vertex is outside and whose predecessor is inside. Requires 0 < k < n,
// so such a vertex exists.
template <class T>
int run_start(T const* v, int n) {
  if (is_outside(v[0]) && !is_outside(v[n - 1])) return 0;
  for (int i = 1; i < n; ++i) {
    if (is_outside(v[i]) && !is_outside(v[i - 1])) return i;
  }
  return 0;
}

// Whether the k − 1 vertices after c, cyclically, are all outside.
template <class T>
bool run_holds_all_outside(T const* v, int n, int c, int k) {
  for (int step = 1, i = c + 1; step < k; ++step, ++i) {
    if (i == n) i = 0;
    if (!is_outside(v[i])) return false;
  }
  return true;
}

// The maximal outside run through the farthest vertex: the first index of
// the largest value, extended backward and forward while outside. Only
// values above 0 compete, so a NaN can never be taken as the farthest vertex
// and the run is never empty. Requires 0 < k < n.
template <class T>
OutsideRun farthest_run(T const* v, int n) {
  int e = 0;
  T largest = T(0);
  for (int i = 0; i < n; ++i) {
    if (v[i] > largest) {
      largest = v[i];
      e = i;
    }
  }
  int c = e;
  for (int p = c == 0 ? n - 1 : c - 1; is_outside(v[p]); p = c == 0 ? n - 1 : c - 1) c = p;
  int f = 0;
  for (int i = e; is_outside(v[i]); i = i + 1 == n ? 0 : i + 1) ++f;
  return {c, (e >= c ? e - c : e - c + n) + f};
}

// The run to remove, given k outside vertices with 0 < k < n. Outside
// vertices that do not form one run (rounding on a nearly degenerate
// polygon) leave every run but the farthest in the polygon.
template <class T>
OutsideRun outside_run(T const* v, int n, int k) {
  int const c = run_start(v, n);
  if (k == 1 || run_holds_all_outside(v, n, c, k)) return {c, k};
  return farthest_run(v, n);
}

// Contents of one slot: a vertex and the edge that starts at it.
template <class T>
struct SlotRecord {
  T x;
  T y;
  std::int32_t cut_id;
  T nx;
  T ny;
  T offset;
};

template <bool carry_lines, class T, class F>
void for_each_slot_array(Local2<T>& cell, F&& f) {
  f(cell.xs);
  f(cell.ys);
  f(cell.cut_ids);
  if constexpr (carry_lines) {
    f(cell.edge_nx);
    f(cell.edge_ny);
    f(cell.edge_offset);
  }
}

template <bool carry_lines, class T>
void write_slot(Local2<T>& cell, int slot, SlotRecord<T> const& r) {
  cell.xs[slot] = r.x;
  cell.ys[slot] = r.y;
  cell.cut_ids[slot] = r.cut_id;
  if constexpr (carry_lines) {
    cell.edge_nx[slot] = r.nx;
    cell.edge_ny[slot] = r.ny;
    cell.edge_offset[slot] = r.offset;
  }
}

// Neighbours of a run: V before it, X its last vertex, E after it.
struct RunEnds {
  int first;
  int before;
  int last;
  int after;
};

// Index i (0 <= i < 2n) reduced mod n without a division.
inline int wrap_index(int i, int n) { return i >= n ? i - n : i; }

inline RunEnds run_ends(OutsideRun run, int n) {
  int const last = wrap_index(run.first + run.length - 1, n);
  return {run.first, wrap_index(run.first + n - 1, n), last, wrap_index(last + 1, n)};
}

template <class T>
SlotRecord<T> point_a(Local2<T> const& cell, Plane<T, 2> const& plane, RunEnds r) {
  T const* v = cell.plane_dists;
  int const c = r.first;
  int const V = r.before;
  T const t = v[V] / (v[V] - v[c]);
  return {fused_multiply_add(cell.xs[c] - cell.xs[V], t, cell.xs[V]), fused_multiply_add(cell.ys[c] - cell.ys[V], t, cell.ys[V]),
          plane.cut_id, plane.normal[0], plane.normal[1], plane.offset};
}

// B carries the id (and line) of edge X, read before any slot moves.
template <bool carry_lines, class T>
SlotRecord<T> point_b(Local2<T> const& cell, RunEnds r) {
  T const* v = cell.plane_dists;
  int const X = r.last;
  int const E = r.after;
  T const t = v[E] / (v[E] - v[X]);
  SlotRecord<T> b{fused_multiply_add(cell.xs[X] - cell.xs[E], t, cell.xs[E]),
                  fused_multiply_add(cell.ys[X] - cell.ys[E], t, cell.ys[E]), cell.cut_ids[X], T(0), T(0), T(0)};
  if constexpr (carry_lines) {
    b.nx = cell.edge_nx[X];
    b.ny = cell.edge_ny[X];
    b.offset = cell.edge_offset[X];
  }
  return b;
}

// Replaces the run by A, B. Without wrap the vertices after the run close up
// behind slot c + 1; with wrap (the run holds n − 1 and 0) the survivors
// E..V move down behind slots 0 and 1. Either way the result is the old
// cyclic order with the run replaced, still counter-clockwise.
template <bool carry_lines, class T>
void splice_run(Local2<T>& cell, RunEnds r, SlotRecord<T> const& a, SlotRecord<T> const& b) {
  int const n = cell.vertex_count;
  bool const wraps = r.first > r.last;
  int const from = wraps ? r.after : r.last + 1;
  int const to = wraps ? 2 : r.first + 2;
  int const count = wraps ? r.first - r.after : n - 1 - r.last;
  for_each_slot_array<carry_lines>(cell, [&](auto* slots) { move_slots(slots, from, to, count); });
  int const slot_a = wraps ? 0 : r.first;
  write_slot<carry_lines>(cell, slot_a, a);
  write_slot<carry_lines>(cell, slot_a + 1, b);
}

// An unbounded cell stays so only while some edge is still infinite; the
// lines are only promised while it is.
template <class T>
void update_boundedness(Local2<T>& cell) {
  if (!cell.unbounded) return;
  bool infinite = false;
  for (int i = 0; i < cell.vertex_count; ++i) infinite = infinite || cell.cut_ids[i] == infinite_cut_id;
  cell.unbounded = infinite;
  if (!infinite) cell.edge_lines_valid = false;
}

template <bool carry_lines, class T>
int cut_polygon(Local2<T>& cell, Plane<T, 2> const& plane) {
  int const n = cell.vertex_count;
  if (n <= 0) return cut_result::unchanged;
  int const k = signed_values(n, cell.xs, cell.ys, plane, cell.plane_dists);
  if (k == 0) return cut_result::unchanged;
  if (k == n) {
    cell.vertex_count = 0;
    cell.unbounded = false;
    return cut_result::emptied;
  }
  OutsideRun const run = outside_run(cell.plane_dists, n, k);
  int const m = n - run.length + 2;
  if (m > cell.vertex_capacity) return cut_result::out_of_slots;
  RunEnds const ends = run_ends(run, n);
  SlotRecord<T> const a = point_a(cell, plane, ends);
  SlotRecord<T> const b = point_b<carry_lines>(cell, ends);
  splice_run<carry_lines>(cell, ends, a, b);
  cell.vertex_count = m;
  update_boundedness(cell);
  return cut_result::cut;
}

}  // namespace vorn::detail

namespace vorn {

template <class T>
template <bool carry_lines>
int Local2<T>::cut_impl(Plane<T, 2> const& plane) {
  return detail::cut_polygon<carry_lines>(*this, plane);
}

template <class T>
int Local2<T>::cut(Plane<T, 2> const& plane) {
  if (unbounded) {
    grow_for(plane);
    return cut_impl<true>(plane);
  }
  return edge_lines_valid ? cut_impl<true>(plane) : cut_impl<false>(plane);
}

}  // namespace vorn
