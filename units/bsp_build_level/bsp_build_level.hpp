// bsp_build_level: one node of one BSP level, and the steps it is made of.
//
// Each step is a pass over the node's contiguous range [begin, end). The box
// scan works on whole rows, the identity fill and the gather are straight
// loops with static row strides, so all three vectorise; the selection is the
// only pass that reads points through the index array.
#pragma once

#include <array>
#include <cstring>
#include <type_traits>

#include "bsp_select.hpp"
#include "bsp_weight_majorant.hpp"
#include "vorn/tensor/tensor.hpp"

namespace vorn::bsp {

template <long long D>
struct Box {
  std::array<double, D> lo;
  std::array<double, D> hi;
};

namespace detail {

// Two coordinates of a row in one vector register (a compiler vector type,
// not an instruction set: plain x86-64 builds use SSE2). `r < lo ? r : lo`
// per lane is exactly the min instruction's rule, so the vector scan gives
// the scalar scan's results bit for bit.
using CoordinatePair = double __attribute__((vector_size(16)));

inline CoordinatePair load_pair(const double* p) {
  CoordinatePair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace detail

// Tight bounding box of points [begin, end), end > begin, scanned row by row
// from point begin's own coordinates in increasing k, coordinates in pairs.
// A bound is replaced only by a strictly smaller (larger) coordinate, so of
// equal values the first seen stays (which fixes the sign of a zero bound).
template <long long D, class Positions>
Box<D> node_box(const Positions& positions, long long begin, long long end) {
  constexpr long long pairs = D / 2;
  detail::CoordinatePair lo[pairs], hi[pairs];
  const double* first = &positions(begin, 0);
  for (long long p = 0; p < pairs; ++p) lo[p] = hi[p] = detail::load_pair(first + 2 * p);
  double lo_last = first[D - 1], hi_last = lo_last;  // the unpaired last coordinate of odd D
  for (long long k = begin + 1; k < end; ++k) {
    const double* row = &positions(k, 0);
    for (long long p = 0; p < pairs; ++p) {
      const detail::CoordinatePair r = detail::load_pair(row + 2 * p);
      lo[p] = r < lo[p] ? r : lo[p];
      hi[p] = r > hi[p] ? r : hi[p];
    }
    if constexpr (D % 2 == 1) {
      lo_last = row[D - 1] < lo_last ? row[D - 1] : lo_last;
      hi_last = row[D - 1] > hi_last ? row[D - 1] : hi_last;
    }
  }
  Box<D> box;
  std::memcpy(box.lo.data(), lo, sizeof lo);
  std::memcpy(box.hi.data(), hi, sizeof hi);
  if constexpr (D % 2 == 1) {
    box.lo[D - 1] = lo_last;
    box.hi[D - 1] = hi_last;
  }
  return box;
}

// The box of a weighted 2-D node, taken from the majorant's statistics pass:
// its position minima and maxima follow node_box's rule (start at point
// begin, replace only by a strictly smaller or larger value, increasing k),
// so they are node_box's values bit for bit, and the box scan is spared.
inline Box<2> box_of_stats(const vorn::detail::MajorantStats& s) { return {{s.xmin, s.ymin}, {s.xmax, s.ymax}}; }

template <long long D, class NodeBox>
void write_box(const NodeBox& node_box, const Box<D>& box) {
  for (long long j = 0; j < D; ++j) {
    node_box(0, j) = box.lo[j];
    node_box(1, j) = box.hi[j];
  }
}

// The axis of largest extent hi - lo; on equal extents the lower axis wins.
template <long long D>
int split_axis(const Box<D>& box) {
  int axis = 0;
  for (int j = 1; j < D; ++j) {
    if (box.hi[j] - box.lo[j] > box.hi[axis] - box.lo[axis]) axis = j;
  }
  return axis;
}

template <class Order>
void identity_order(const Order& order, long long begin, long long end) {
  for (long long k = begin; k < end; ++k) order(k) = k;
}

// out point k := in point order[k] for k in [begin, end): position, weight
// where the cloud has weights, and id, moved together.
template <long long D, class InCloud, class OutCloud, class Order>
void gather_points(const InCloud& in, const OutCloud& out, const Order& order, long long begin, long long end) {
  for (long long k = begin; k < end; ++k) {
    const long long i = order(k);
    for (long long j = 0; j < D; ++j) out.positions(k, j) = in.positions(i, j);
    if constexpr (is_tensor_view_v<std::remove_cvref_t<decltype(in.weights)>>) out.weights(k) = in.weights(i);
    out.ids(k) = in.ids(i);
  }
}

// bsp_select's permutation of order[begin, end) (the identity on entry),
// computed on a contiguous copy of the keys. The copy lives in the node's own
// rows of the output positions: c rows hold D·c >= c doubles, and nothing
// else reads or writes them before the gather overwrites them.
template <class InPositions, class OutPositions, class Order>
void select_median(const InPositions& in, const OutPositions& out, const Order& order, long long begin,
                   long long end, long long target, int axis) {
  double* keys = &out(begin, 0);
  for (long long k = begin; k < end; ++k) keys[k - begin] = in(k, axis);
  vorn::detail::select_with_keys(order, keys, begin, end, target);
}

template <long long D, class NodeBox, class Gradient, class Offset>
void clear_empty_node(const NodeBox& box, const Gradient& gradient, const Offset& offset) {
  for (long long j = 0; j < D; ++j) box(0, j) = box(1, j) = 0.0;
  if constexpr (is_tensor_view_v<Gradient>) {
    for (long long j = 0; j < D; ++j) gradient(j) = 0.0;
    offset() = 0.0;
  }
}

}  // namespace vorn::bsp

namespace vorn {

// Builds node [node_begin, node_end) of one level: writes its box (and, for a
// weighted cloud, its weight majorant, from the points before reordering),
// splits it at begin + floor(c/2) around the median along its widest axis
// when it holds more than leaf_size points spread along that axis, and copies
// its points to the output cloud in the new order. An empty node gets a zero
// box and majorant, node_split = node_end, and no other write.
template <class InCloud, class OutCloud, class Order, class Begin, class End, class NodeBox, class Gradient,
          class Offset, class Split>
void bsp_build_level(const InCloud& in, const OutCloud& out, const Order& order, const Begin& node_begin,
                     const End& node_end, const NodeBox& node_box, const Gradient& majorant_gradient,
                     const Offset& majorant_offset, const Split& node_split, long long leaf_size) {
  constexpr long long D = std::remove_cvref_t<decltype(in.dim)>::value;
  const long long begin = node_begin();
  const long long end = node_end();
  node_split() = end;
  if (begin >= end) {
    bsp::clear_empty_node<D>(node_box, majorant_gradient, majorant_offset);
    return;
  }
  bsp::Box<D> box;
  if constexpr (is_tensor_view_v<Gradient>) {
    // One pass over the points gives the box and the majorant's statistics.
    const detail::MajorantStats stats = detail::majorant_stats(in.positions, in.weights, begin, end);
    box = bsp::box_of_stats(stats);
    bsp::write_box<D>(node_box, box);
    detail::weight_majorant_from_stats(stats, in.positions, in.weights, begin, end, majorant_gradient,
                                       majorant_offset);
  } else {
    box = bsp::node_box<D>(in.positions, begin, end);
    bsp::write_box<D>(node_box, box);
  }
  const int axis = bsp::split_axis<D>(box);
  bsp::identity_order(order, begin, end);
  // A node whose points coincide along its widest axis coincide on every axis:
  // no median can separate them, so it stays whole whatever leaf_size says.
  if (end - begin > leaf_size && box.hi[axis] > box.lo[axis]) {
    const long long target = begin + (end - begin) / 2;
    bsp::select_median(in.positions, out.positions, order, begin, end, target, axis);
    node_split() = target;
  }
  bsp::gather_points<D>(in, out, order, begin, end);
}

}  // namespace vorn
