// The records one BSP level exchanges with the host: the point cloud, the node
// record of the level, and the argument bundles of the level-build kernel.
//
// Every tensor is dense row-major over host memory; strides are in bytes.
// n = points (_num_point), m = nodes of the level (_batch_0), p = parameters.
//
//   _BspCloud                     element     shape        strides
//     positions                   double      (n, D)       (8·D, 8)
//     weights  (may be absent)    double      (n)          (8)
//     ids                         long long   (n)          (8)
//     num_points                  shape variable (value from the host, or absent)
//     dim                         Ct<long long, D>
//
//   _BspLevel
//     node_begin                  long long   (m)          (8)         first point of node b
//     node_end                    long long   (m)          (8)         one past its last point
//     node_split                  long long   (m)          (8)         first point of the upper child
//     node_box                    double      (m, 2, D)    (16·D, 8·D, 8)   low corner, then high
//     majorant_gradient (absent?) double      (m, D)       (8·D, 8)
//     majorant_offset   (absent?) double      (m)          (8)
//     num_lohi, dim               Ct<long long, 2>, Ct<long long, D>
//
// Node b owns the points [node_begin[b], node_end[b]); its lower child is
// [node_begin, node_split) and its upper child [node_split, node_end), so
// node_split == node_end means "not split". Each bundle template takes its
// member types in member order, which is what host-to-kernel conversion needs.
#pragma once

#include <tuple>

#include "vorn/queue/io.hpp"
#include "vorn/tensor/tensor.hpp"

namespace vorn {

template <class Positions, class Weights, class Ids, class NumPoints, class Dim>
struct _BspCloud {
  Positions positions;
  Weights weights;
  Ids ids;
  NumPoints num_points;  // never read by the kernel: extents come from the views
  Dim dim;

  constexpr auto members() { return std::tie(positions, weights, ids, num_points, dim); }
  constexpr auto members() const { return std::tie(positions, weights, ids, num_points, dim); }
};

template <class Positions, class Weights, class Ids, class NumPoints, class Dim>
struct _BspCloud_io {};

template <class NodeBegin, class NodeEnd, class NodeSplit, class NodeBox, class MajorantGradient,
          class MajorantOffset, class NumLohi, class Dim>
struct _BspLevel {
  NodeBegin node_begin;  // written by the host before the call, hence an input
  NodeEnd node_end;
  NodeSplit node_split;
  NodeBox node_box;
  MajorantGradient majorant_gradient;
  MajorantOffset majorant_offset;
  NumLohi num_lohi;
  Dim dim;

  constexpr auto members() {
    return std::tie(node_begin, node_end, node_split, node_box, majorant_gradient, majorant_offset, num_lohi, dim);
  }
  constexpr auto members() const {
    return std::tie(node_begin, node_end, node_split, node_box, majorant_gradient, majorant_offset, num_lohi, dim);
  }
};

template <class NodeBegin, class NodeEnd, class NodeSplit, class NodeBox, class MajorantGradient,
          class MajorantOffset, class NumLohi, class Dim>
struct _BspLevel_io {};

template <class Cloud, class Params>
struct bsp_build_level_inputs {
  Cloud cloud;
  Params params;  // params[0] = leaf_size; later entries are not read

  constexpr auto members() { return std::tie(cloud, params); }
  constexpr auto members() const { return std::tie(cloud, params); }
};

template <class CloudIo, class ParamsIo>
struct bsp_build_level_inputs_io {};

template <class Cloud, class Level>
struct bsp_build_level_outputs {
  Cloud cloud;
  Level level;

  constexpr auto members() { return std::tie(cloud, level); }
  constexpr auto members() const { return std::tie(cloud, level); }
};

template <class CloudIo, class LevelIo>
struct bsp_build_level_outputs_io {};

// order[k], for k inside a node's range: the input index of the point written
// to output index k. Restricted to one node's range it is a permutation of it.
template <class Order>
struct bsp_build_level_scratch {
  Order order;

  constexpr auto members() { return std::tie(order); }
  constexpr auto members() const { return std::tie(order); }
};

template <class OrderIo>
struct bsp_build_level_scratch_io {};

}  // namespace vorn
