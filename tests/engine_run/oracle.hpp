// An independent reference for power cells: the starting box clipped by the
// bisector of the seed with every other seed, in long double, with no tree
// and no pruning.
#pragma once

#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

#include "engine_support.hpp"
#include "support/seed_tree.hpp"

namespace vorn::test {

struct RefPolygon {
  std::vector<long double> x, y;
  std::vector<std::int32_t> id;  // id[i]: edge from vertex i to vertex i + 1
};

// Keeps a·x + b·y <= c of a convex polygon; new edges on the line get `id`.
inline RefPolygon clip(RefPolygon const& p, long double a, long double b, long double c, std::int32_t id) {
  RefPolygon out;
  std::size_t const n = p.x.size();
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t const j = (i + 1) % n;
    long double const vi = a * p.x[i] + b * p.y[i] - c, vj = a * p.x[j] + b * p.y[j] - c;
    if (vi <= 0) {
      out.x.push_back(p.x[i]), out.y.push_back(p.y[i]), out.id.push_back(p.id[i]);
    }
    if ((vi <= 0) != (vj <= 0)) {
      long double const t = vi / (vi - vj);
      out.x.push_back(p.x[i] + t * (p.x[j] - p.x[i]));
      out.y.push_back(p.y[i] + t * (p.y[j] - p.y[i]));
      out.id.push_back(vi <= 0 ? id : p.id[i]);
    }
  }
  return out;
}

inline long double area(RefPolygon const& p) {
  long double a = 0;
  for (std::size_t i = 0; i < p.x.size(); ++i) {
    std::size_t const j = (i + 1) % p.x.size();
    a += p.x[i] * p.y[j] - p.x[j] * p.y[i];
  }
  return a / 2;
}

// Ids of the edges longer than `min_length`.
inline std::set<std::int32_t> neighbours(RefPolygon const& p, long double min_length) {
  std::set<std::int32_t> ids;
  for (std::size_t i = 0; i < p.x.size(); ++i) {
    std::size_t const j = (i + 1) % p.x.size();
    if (std::hypot(p.x[j] - p.x[i], p.y[j] - p.y[i]) > min_length) ids.insert(p.id[i]);
  }
  return ids;
}

inline RefPolygon box_polygon(long double x0, long double y0, long double x1, long double y1) {
  return {{x0, x1, x1, x0}, {y0, y0, y1, y1}, {-1, -2, -3, -4}};
}

// Box [x0, x1] x [y0, y1] clipped to the power cell of tree point `seed`.
inline RefPolygon reference_cell(SeedTree const& tree, long long seed, RefPolygon const& box) {
  WeightedPoint const a = tree.point(seed);
  RefPolygon cell = box;
  for (long long k = 0; k < tree.size() && !cell.x.empty(); ++k) {
    if (k == seed) continue;
    WeightedPoint const b = tree.point(k);
    long double const nx = static_cast<long double>(b.x) - a.x, ny = static_cast<long double>(b.y) - a.y;
    long double const c = ((static_cast<long double>(a.w) - b.w) + nx * (static_cast<long double>(b.x) + a.x) +
                           ny * (static_cast<long double>(b.y) + a.y)) / 2;
    cell = clip(cell, nx, ny, c, static_cast<std::int32_t>(k));
  }
  return cell;
}

// The engine's cell in long double, clipped to `box` (the identity for a
// cell that started as the box; an unbounded start reaches beyond it).
template <class T>
RefPolygon engine_cell(Local2<T> const& cell, RefPolygon const& box) {
  RefPolygon p;
  for (int i = 0; i < cell.vertex_count; ++i) {
    p.x.push_back(cell.xs[i]), p.y.push_back(cell.ys[i]), p.id.push_back(cell.cut_ids[i]);
  }
  if (p.x.empty()) return p;
  long double const x0 = box.x[0], y0 = box.y[0], x1 = box.x[2], y1 = box.y[2];
  p = clip(p, 0, -1, -y0, -1);
  p = clip(p, 1, 0, x1, -2);
  p = clip(p, 0, 1, y1, -3);
  return clip(p, -1, 0, -x0, -4);
}

}  // namespace vorn::test
