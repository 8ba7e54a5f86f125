// Growth of an unbounded cell toward a plane. Infinite edges sit at finite
// positions; before a cut they are pushed outward far enough that every
// receding vertex lies on the side of the plane its point at infinity lies on.
#pragma once

#include <cmath>
#include <optional>

#include "edge_lines.hpp"
#include "vorn/engine/local2.hpp"
#include "vorn/fused_multiply_add.hpp"

namespace vorn::detail {

template <class T>
inline T infinite_flag(std::int32_t cut_id) {
  return cut_id == infinite_cut_id ? T(1) : T(0);
}

// Direction d_j of every vertex solving normal_p·d = fp, normal_j·d = fj for
// the edges p (ending at j) and j (starting at j), f being 1 for an infinite
// edge: moving all vertices by s·d_j moves each infinite line out by s offset
// units and keeps each finite edge on its line. Vertices between two finite
// edges, and singular systems, get (0, 0).
template <class T>
void growth_directions(Local2<T>& cell) {
  int const n = cell.vertex_count;
  for (int j = 0, p = n - 1; j < n; p = j, ++j) {
    T const fp = infinite_flag<T>(cell.cut_ids[p]);
    T const fj = infinite_flag<T>(cell.cut_ids[j]);
    T dx = T(0);
    T dy = T(0);
    if (fp != T(0) || fj != T(0)) {
      T const det = fused_multiply_add(cell.edge_nx[p], cell.edge_ny[j], -(cell.edge_ny[p] * cell.edge_nx[j]));
      if (det != T(0)) {  // a NaN det falls through and yields NaN directions
        dx = fused_multiply_add(fp, cell.edge_ny[j], -(cell.edge_ny[p] * fj)) / det;
        dy = fused_multiply_add(fj, cell.edge_nx[p], -(cell.edge_nx[j] * fp)) / det;
      }
    }
    cell.grow_dx[j] = dx;
    cell.grow_dy[j] = dy;
  }
}

// Largest further growth t >= 0 at which a receding vertex, already moved by
// s, reaches the plane; nullopt when no vertex reaches it. Directions
// parallel to the plane within eps·|d| are ignored.
template <class T>
std::optional<T> farthest_crossing(Local2<T> const& cell, Plane<T, 2> const& plane, T eps, T s) {
  T const a = plane.normal[0];
  T const b = plane.normal[1];
  bool found = false;
  T h = T(0);
  for (int j = 0; j < cell.vertex_count; ++j) {
    T const dx = cell.grow_dx[j];
    T const dy = cell.grow_dy[j];
    T const q = fused_multiply_add(dx, dx, dy * dy);
    if (q == T(0)) continue;
    T const l = fused_multiply_add(a, dx, b * dy);
    if (eps * std::sqrt(q) >= std::fabs(l)) continue;  // NaN does not skip
    T const px = fused_multiply_add(dx, s, cell.xs[j]);
    T const py = fused_multiply_add(dy, s, cell.ys[j]);
    T const t = -(fused_multiply_add(a, px, b * py) - plane.offset) / l;
    if (t >= T(0)) {  // NaN t never counts
      found = true;
      if (t > h) h = t;
    }
  }
  return found ? std::optional<T>(h) : std::nullopt;
}

// Total growth s after up to four passes, each adding the farthest crossing
// plus a relative and an absolute margin; nullopt when the first pass finds
// no crossing. Later passes only repair what rounding left on or short of
// the plane.
template <class T>
std::optional<T> total_growth(Local2<T> const& cell, Plane<T, 2> const& plane) {
  T const a = plane.normal[0];
  T const b = plane.normal[1];
  T const eps = std::sqrt(fused_multiply_add(a, a, b * b)) * Local2<T>::parallel_tolerance;
  T s = T(0);
  for (int pass = 0; pass < 4; ++pass) {
    std::optional<T> const h = farthest_crossing(cell, plane, eps, s);
    if (!h) return pass == 0 ? std::nullopt : std::optional<T>(s);
    s = s + fused_multiply_add(*h + T(1), Local2<T>::growth_margin, *h);
  }
  return s;
}

// Moves the infinite lines out by s and every vertex by s along its direction.
template <class T>
void apply_growth(Local2<T>& cell, T s) {
  for (int i = 0; i < cell.vertex_count; ++i) {
    if (cell.cut_ids[i] == infinite_cut_id) cell.edge_offset[i] = s + cell.edge_offset[i];
    cell.xs[i] = fused_multiply_add(cell.grow_dx[i], s, cell.xs[i]);
    cell.ys[i] = fused_multiply_add(cell.grow_dy[i], s, cell.ys[i]);
  }
}

}  // namespace vorn

namespace vorn {

template <class T>
void Local2<T>::grow_for(Plane<T, 2> const& plane) {
  if (!edge_lines_valid) {
    detail::edge_lines(vertex_count, xs, ys, edge_nx, edge_ny, edge_offset);
    edge_lines_valid = true;
  }
  if (vertex_count <= 0) return;
  detail::growth_directions(*this);
  if (std::optional<T> const s = detail::total_growth(*this, plane)) detail::apply_growth(*this, *s);
}

}  // namespace vorn
