// The image bundle of the image mass unit: a 3-D voxel grid of densities placed
// in space by a 3x3 matrix of voxel edge vectors.
#pragma once

#include <tuple>

#include "vorn/queue/io.hpp"
#include "vorn/tensor/tensor.hpp"

namespace vorn {

template <class ScalarIn, class Dim, class ShapeVar, class Values, class Origin, class Axes, class Knots, class Mass,
          class AuxShapeVar, class CellCum>
struct Image {
  ScalarIn scalar_in;         // 0-D; carried, not read by the mass kernel
  Dim dim;                    // Ct<long long, 3>
  ShapeVar shape_var;         // int32-tensor shape variable, host value in aux0; not read
  Values values;              // densities, N0 x N1 x N2, dense row-major
  Origin origin;              // (3): where voxel (0,0,0) lies; the mass does not depend on it
  Axes axes;                  // (3 _dir, 3 _dim): row d = edge vector of one step along image axis d
  Knots knots;                // absent: grid lines at the integer indices
  Mass mass;                  // 0-D result
  AuxShapeVar aux_shape_var;  // absent
  CellCum cell_cum;           // absent

  constexpr auto members() {
    return std::tie(scalar_in, dim, shape_var, values, origin, axes, knots, mass, aux_shape_var, cell_cum);
  }
  constexpr auto members() const {
    return std::tie(scalar_in, dim, shape_var, values, origin, axes, knots, mass, aux_shape_var, cell_cum);
  }
};

template <class ScalarIn, class Dim, class ShapeVar, class Values, class Origin, class Axes, class Knots, class Mass,
          class AuxShapeVar, class CellCum>
struct Image_io {};

template <class ImageT>
struct mass_outputs {
  ImageT image;
  constexpr auto members() { return std::tie(image); }
  constexpr auto members() const { return std::tie(image); }
};

template <class ImageIo>
struct mass_outputs_io {};

// The one instantiation the unit is generated for, in a given memory space.
template <class Space>
using Image3d = Image<TensorView<double, Tuple<>, Space, Tuple<>, Tuple<>>,                                   //
                      Ct<long long, 3>,                                                                       //
                      ShapeVarView<TensorView<int, Tuple<long long>, Space, Tuple<UnnamedAxis>, Tuple<Ct<int, 4>>>,
                                   NoErrorBuffer>,
                      TensorView<double, Tuple<long long, long long, long long>, Space,
                                 Tuple<_img_pos_0, _img_pos_1, _img_pos_2>, Tuple<long long, long long, Ct<int, 8>>>,
                      TensorView<double, Tuple<Ct<long long, 3>>, Space, Tuple<_dim>, Tuple<Ct<int, 8>>>,
                      TensorView<double, Tuple<Ct<long long, 3>, Ct<long long, 3>>, Space, Tuple<_dir, _dim>,
                                 Tuple<Ct<long long, 24>, Ct<int, 8>>>,
                      NoneTensor<double, Tuple<Ct<long long, 3>, long long>, Tuple<_dim, _num_knot>>,
                      TensorView<double, Tuple<>, Space, Tuple<>, Tuple<>>,
                      ShapeVarView<NoneTensor<int, Tuple<>, Tuple<>>, NoErrorBuffer>,
                      NoneTensor<double, Tuple<long long>, Tuple<_num_cell_cum>>>;

using Image3dIo = mass_outputs_io<
    Image_io<InpList, InpList, InpList, InpList, InpList, InpList, UndefList, OutList, UndefList, UndefList>>;

}  // namespace vorn
