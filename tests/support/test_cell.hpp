// A cell record whose arrays the test owns, and the bit-level comparisons
// the engine tests make of its values.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "vorn/engine/local2.hpp"

namespace vorn::test {

template <class T>
using Bits = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>;

template <class T>
Bits<T> bits(T x) {
  return std::bit_cast<Bits<T>>(x);
}

template <class T>
char const* precision_name() {
  return sizeof(T) == 8 ? "double" : "float";
}

// A cell whose nine arrays hold `capacity` slots each. Slots beyond the
// polygon start as sentinels (-infinity, id 0x5a5a5a5a), so that a stray
// read or write shows up in a result.
template <class T>
struct TestCell {
  std::vector<T> xs, ys, nx, ny, offset, dists, gdx, gdy;
  std::vector<std::int32_t> ids;
  Local2<T> cell{};

  explicit TestCell(int capacity) { resize(capacity); }

  // New arrays of `capacity` slots holding the current polygon.
  void resize(int capacity) {
    T const junk = -std::numeric_limits<T>::infinity();
    for (auto* a : {&xs, &ys, &nx, &ny, &offset, &dists, &gdx, &gdy}) a->resize(capacity, junk);
    ids.resize(capacity, 0x5a5a5a5a);
    cell.vertex_capacity = capacity;
    cell.xs = xs.data(), cell.ys = ys.data(), cell.cut_ids = ids.data();
    cell.edge_nx = nx.data(), cell.edge_ny = ny.data(), cell.edge_offset = offset.data();
    cell.plane_dists = dists.data(), cell.grow_dx = gdx.data(), cell.grow_dy = gdy.data();
  }

  // The polygon's vertices and edge ids; the cell's flags stay as they are.
  void set_polygon(std::vector<T> const& x, std::vector<T> const& y, std::vector<std::int32_t> const& id) {
    cell.vertex_count = static_cast<std::int32_t>(x.size());
    std::copy(x.begin(), x.end(), xs.begin());
    std::copy(y.begin(), y.end(), ys.begin());
    std::copy(id.begin(), id.end(), ids.begin());
  }

  // A counter-clockwise polygon, bounded, without edge lines; `unbounded`
  // marks every edge infinite.
  void set(std::vector<T> const& x, std::vector<T> const& y, std::vector<std::int32_t> const& id,
           bool unbounded = false) {
    set_polygon(x, y, unbounded ? std::vector<std::int32_t>(x.size(), infinite_cut_id) : id);
    cell.unbounded = unbounded;
    cell.edge_lines_valid = false;
  }

  // The axis-aligned box [x0, x1] x [y0, y1], edge ids -1 to -4 (bottom,
  // right, top, left), or all infinite.
  void set_box(T x0, T y0, T x1, T y1, bool unbounded = false) {
    set({x0, x1, x1, x0}, {y0, y0, y1, y1}, {-1, -2, -3, -4}, unbounded);
  }

  // The edges' lines (normal x, normal y, offset), marked valid.
  void set_lines(std::vector<T> const& a, std::vector<T> const& b, std::vector<T> const& c) {
    std::copy(a.begin(), a.end(), nx.begin());
    std::copy(b.begin(), b.end(), ny.begin());
    std::copy(c.begin(), c.end(), offset.begin());
    cell.edge_lines_valid = true;
  }
};

}  // namespace vorn::test
