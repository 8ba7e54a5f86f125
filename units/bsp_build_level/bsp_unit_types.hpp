// The argument bundles of the three BSP units, in one memory space.
//
//   unit                        D   weights   input num_points   majorant
//   unit_bsp_level_2d_weighted  2   yes       from the host      yes
//   unit_bsp_level_3d           3   no        from the host      no
//   unit_bsp_level_2d           2   no        absent             no
//
// An absent member is a NoneTensor (or a shape variable over one) marked UndefList.
#pragma once

#include <type_traits>

#include "bsp_records.hpp"
#include "vorn/queue/io.hpp"
#include "vorn/tensor/tensor.hpp"

namespace vorn::bsp {

template <class T, class Space, class Axis>
using Vector = TensorView<T, Tuple<long long>, Space, Tuple<Axis>, Tuple<Ct<int, 8>>>;

template <long long D, class Space>
using Positions = TensorView<double, Tuple<long long, Ct<long long, D>>, Space, Tuple<_num_point, _dim>,
                             Tuple<Ct<long long, 8 * D>, Ct<int, 8>>>;

template <long long D, class Space>
using NodeBox = TensorView<double, Tuple<long long, Ct<long long, 2>, Ct<long long, D>>, Space,
                           Tuple<_batch_0, _num_lohi, _dim>,
                           Tuple<Ct<long long, 16 * D>, Ct<long long, 8 * D>, Ct<int, 8>>>;

template <long long D, class Space>
using Gradients = TensorView<double, Tuple<long long, Ct<long long, D>>, Space, Tuple<_batch_0, _dim>,
                             Tuple<Ct<long long, 8 * D>, Ct<int, 8>>>;

using AbsentCount = ShapeVarView<NoneTensor<int, Tuple<>, Tuple<>>, NoErrorBuffer>;
using HostCount = ShapeVarView<ScalarValue<long long>, NoErrorBuffer>;

template <bool Present>
using MarkIf = std::conditional_t<Present, InpList, UndefList>;
template <bool Present>
using WriteIf = std::conditional_t<Present, OutList, UndefList>;

// Bundles and io twins of one BSP unit.
template <long long D, bool Weighted, bool InputCount, class Space>
struct Unit {
  using Weights = std::conditional_t<Weighted, Vector<double, Space, _num_point>,
                                     NoneTensor<double, Tuple<long long>, Tuple<_num_point>>>;
  using Gradient = std::conditional_t<Weighted, Gradients<D, Space>,
                                      NoneTensor<double, Tuple<long long, Ct<long long, D>>, Tuple<_batch_0, _dim>>>;
  using Offset = std::conditional_t<Weighted, Vector<double, Space, _batch_0>,
                                    NoneTensor<double, Tuple<long long>, Tuple<_batch_0>>>;
  template <class Count>
  using Cloud = _BspCloud<Positions<D, Space>, Weights, Vector<long long, Space, _num_point>, Count, Ct<long long, D>>;
  using Level = _BspLevel<Vector<long long, Space, _batch_0>, Vector<long long, Space, _batch_0>,
                          Vector<long long, Space, _batch_0>, NodeBox<D, Space>, Gradient, Offset, Ct<long long, 2>,
                          Ct<long long, D>>;

  using inputs = bsp_build_level_inputs<Cloud<std::conditional_t<InputCount, HostCount, AbsentCount>>,
                                        Vector<long long, Space, _num_bsp_param>>;
  using outputs = bsp_build_level_outputs<Cloud<AbsentCount>, Level>;
  using scratch = bsp_build_level_scratch<Vector<long long, Space, _num_point>>;

  using inputs_io =
      bsp_build_level_inputs_io<_BspCloud_io<InpList, MarkIf<Weighted>, InpList, MarkIf<InputCount>, InpList>, InpList>;
  using outputs_io =
      bsp_build_level_outputs_io<_BspCloud_io<OutList, WriteIf<Weighted>, OutList, UndefList, InpList>,
                                 _BspLevel_io<InpList, InpList, OutList, OutList, WriteIf<Weighted>,
                                              WriteIf<Weighted>, InpList, InpList>>;
  using scratch_io = bsp_build_level_scratch_io<OutList>;
};

}  // namespace vorn::bsp
