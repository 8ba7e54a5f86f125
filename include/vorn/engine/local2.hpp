// The cell polygon of one seed, the cutting plane, and the cut id of an edge
// at infinity. The record crosses the engine library's boundary by reference,
// so its layout is fixed and checked below.
//
// Member definitions live in grow_for.hpp and cut.hpp; include cell.hpp to get
// the record together with its operations.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace vorn {

// Cut id of an edge that stands for an edge at infinity. Seed indices stay
// below 2^31, so no neighbour's id can collide with it.
inline constexpr std::int32_t infinite_cut_id = std::numeric_limits<std::int32_t>::min();

// Results of a cut.
namespace cut_result {
inline constexpr int unchanged = 0;     // no vertex outside, or no vertex at all
inline constexpr int cut = 1;           // run of outside vertices replaced by two new ones
inline constexpr int emptied = 2;       // every vertex outside
inline constexpr int out_of_slots = 3;  // the result would exceed vertex_capacity; nothing changed
}  // namespace cut_result

// Half-plane normal·p <= offset. The normal points from the kept side to the
// removed side and need not have unit length.
template <class T, int dim>
struct Plane {
  std::array<T, dim> normal;
  T offset;
  std::int32_t cut_id;  // stored on the edge this plane creates
};

namespace detail {
template <class T>
struct CellTolerances;
template <>
struct CellTolerances<double> {
  static constexpr double parallel = 1e-9;
  static constexpr double margin = 1e-6;
};
// The parallel tolerance sits about twenty float roundings above zero: a
// direction that is parallel to the plane in exact arithmetic (grid-aligned or
// coincident seeds give exactly parallel bisectors) comes out of float
// arithmetic with |a*dx + b*dy| near 1e-7 relative, and a tolerance below that
// would take it for a crossing and push the cell's vertices out to ~1e6, where
// float spacing ruins every later cut. The margin is ten times the double one.
template <>
struct CellTolerances<float> {
  static constexpr float parallel = 1e-6f;
  static constexpr float margin = 1e-5f;
};
}  // namespace detail

// Convex polygon in counter-clockwise order, held as parallel arrays of
// vertex_capacity slots owned by the caller. Edge i runs from vertex i to
// vertex (i + 1) mod vertex_count; per-edge arrays are indexed by the edge's
// first vertex. Slots at vertex_count and above hold nothing of meaning.
//
//   offset  field              meaning
//   0       vertex_count       n; 0 means the cell is empty
//   4       vertex_capacity    slots in each array
//   8       unbounded          1 exactly when some cut_ids[i] == infinite_cut_id
//   9       edge_lines_valid   1 when edge_nx/edge_ny/edge_offset hold every edge's line
//   16      xs, ys             vertex coordinates
//   32      cut_ids            id of the plane that made edge i
//   40      edge_nx, edge_ny   outward, unnormalised normal of edge i
//   56      edge_offset        inside of edge i: nx·x + ny·y <= offset
//   64      plane_dists        scratch: signed value of vertex i in the cut in progress
//   72      grow_dx, grow_dy   scratch: growth direction of vertex i (grow_for)
template <class T>
struct Local2 {
  static_assert(std::is_same_v<T, float> || std::is_same_v<T, double>);

  std::int32_t vertex_count;
  std::int32_t vertex_capacity;
  bool unbounded;
  bool edge_lines_valid;
  T* xs;
  T* ys;
  std::int32_t* cut_ids;
  T* edge_nx;
  T* edge_ny;
  T* edge_offset;
  T* plane_dists;
  T* grow_dx;
  T* grow_dy;

  static constexpr T parallel_tolerance = detail::CellTolerances<T>::parallel;
  static constexpr T growth_margin = detail::CellTolerances<T>::margin;

  // Pushes the infinite edges outward until every receding vertex lies on the
  // side of `plane` that its point at infinity lies on; establishes the edge lines.
  void grow_for(Plane<T, 2> const& plane);

  // Intersects the polygon with the half-plane `plane` keeps. With
  // carry_lines the edge-line arrays move with the vertices and stay valid.
  template <bool carry_lines>
  int cut_impl(Plane<T, 2> const& plane);

  // grow_for then the line-carrying cut while unbounded; otherwise the cut
  // that matches edge_lines_valid.
  int cut(Plane<T, 2> const& plane);
};

namespace detail {
template <class T>
constexpr bool has_fixed_layout() {
  using L = Local2<T>;
  return std::is_standard_layout_v<L> && std::is_trivially_copyable_v<L> && sizeof(L) == 88 &&
         offsetof(L, vertex_capacity) == 4 && offsetof(L, unbounded) == 8 &&
         offsetof(L, edge_lines_valid) == 9 && offsetof(L, xs) == 16 && offsetof(L, cut_ids) == 32 &&
         offsetof(L, edge_offset) == 56 && offsetof(L, plane_dists) == 64 && offsetof(L, grow_dy) == 80;
}
template <class T>
constexpr bool plane_has_fixed_layout() {
  using P = Plane<T, 2>;
  return std::is_standard_layout_v<P> && offsetof(P, offset) == 2 * sizeof(T) &&
         offsetof(P, cut_id) == 3 * sizeof(T);
}
}  // namespace detail

static_assert(detail::has_fixed_layout<float>() && detail::has_fixed_layout<double>());
static_assert(detail::plane_has_fixed_layout<float>() && detail::plane_has_fixed_layout<double>());

}  // namespace vorn
