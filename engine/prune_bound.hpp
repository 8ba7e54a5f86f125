// Can any seed of a BSP node take a vertex away from the cell?
//
// For a vertex v and a node with box [lx, hx] x [ly, hy] and weight majorant
// w_b <= g·b + W for its seeds b, the clamped point c = clamp(v + g/2, box)
// minimises |c - v|^2 - g·c over the box, one axis at a time, so
//   |c - v|^2 - (W + g·c)  <=  |v - b|^2 - w_b   for every seed b of the node.
// The vertex passes when that lower bound does not exceed the cell seed's own
// power distance |v - a|^2 - w_a (a tie passes). When no vertex of the convex
// cell passes, no seed of the node can cut it. Everything runs in T, on
// eight lanes at once; NaN never passes.
#pragma once

#include "simd/lane8.hpp"

namespace vorn::detail {

// One node's box and majorant, and the cell's seed, converted to T.
template <class T>
struct PruneBound {
  T lx, ly, hx, hy;
  T gx, gy;
  T w;
  T seed_x, seed_y, seed_weight;
};

template <class Lanes, class T>
struct ClampedPoint {
  typename Lanes::template Vec<T> x, y;
};

template <class Lanes, class T, class V>
[[gnu::always_inline]] inline ClampedPoint<Lanes, T> clamped_point(PruneBound<T> const& b, V const& x, V const& y) {
  auto const half_gx = Lanes::broadcast(T(b.gx * T(0.5)));
  auto const half_gy = Lanes::broadcast(T(b.gy * T(0.5)));
  return {min(max(add(x, half_gx), Lanes::broadcast(b.lx)), Lanes::broadcast(b.hx)),
          min(max(add(y, half_gy), Lanes::broadcast(b.ly)), Lanes::broadcast(b.hy))};
}

// Lanes that pass, evaluated axis by axis:
//   part  = fma(cx - x, cx - x, w_a - W) - (x - x_a)^2 - gx·cx
//   value = fma(cy - y, cy - y, part) - (y - y_a)^2 - gy·cy.
template <class Lanes, class T, class V>
[[gnu::always_inline]] inline unsigned passing_lanes_chained(PruneBound<T> const& b, V const& x, V const& y) {
  auto const c = clamped_point<Lanes>(b, x, y);
  auto const dx = sub(c.x, x);
  auto const dy = sub(c.y, y);
  auto const ex = sub(x, Lanes::broadcast(b.seed_x));
  auto const ey = sub(y, Lanes::broadcast(b.seed_y));
  auto const part = sub(sub(fma(dx, dx, Lanes::broadcast(T(b.seed_weight - b.w))), mul(ex, ex)),
                        mul(Lanes::broadcast(b.gx), c.x));
  auto const value = sub(sub(fma(dy, dy, part), mul(ey, ey)), mul(Lanes::broadcast(b.gy), c.y));
  return at_most_zero(value);
}

// Lanes that pass, evaluated in groups:
//   value = ((w_a - W) + (fma(dx, dx, dy·dy) - fma(ex, ex, ey·ey))) - fma(gx, cx, gy·cy).
template <class Lanes, class T, class V>
[[gnu::always_inline]] inline unsigned passing_lanes_grouped(PruneBound<T> const& b, V const& x, V const& y) {
  auto const c = clamped_point<Lanes>(b, x, y);
  auto const dx = sub(c.x, x);
  auto const dy = sub(c.y, y);
  auto const ex = sub(x, Lanes::broadcast(b.seed_x));
  auto const ey = sub(y, Lanes::broadcast(b.seed_y));
  auto const to_node = fma(dx, dx, mul(dy, dy));
  auto const to_seed = fma(ex, ex, mul(ey, ey));
  auto const bound = fma(Lanes::broadcast(b.gx), c.x, mul(Lanes::broadcast(b.gy), c.y));
  auto const value = sub(add(Lanes::broadcast(T(b.seed_weight - b.w)), sub(to_node, to_seed)), bound);
  return at_most_zero(value);
}

}  // namespace vorn::detail
