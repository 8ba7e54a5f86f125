// The mass of a 3-D image, computed by the image mass unit.
#pragma once

#include <array>
#include <span>

#include "vorn/host/isa_level.hpp"

namespace vorn::host {

// Integral of the piecewise-constant density `values` (extents[0] x extents[1] x
// extents[2], row-major, last index fastest) over voxels whose edges are the rows
// of the 3x3 matrix `axes` (row d: one step along image axis d). Summed
// sequentially in row-major order, so the result is the same on every run.
// `level` chooses the unit's build.
//
// Throws std::invalid_argument, before the unit runs, when
//   - an extent is negative, or the byte strides of the dense image overflow
//     signed 64 bits: 8·n2, 8·n2·n1 and 8·n2·n1·n0 must each fit, so
//     (0, 2^32, 2^32) is refused although it holds no voxel, while
//     (2^32, 2^32, 0) is an empty image;
//   - the extents do not match the number of values;
//   - an entry of `axes` is NaN or infinite, or the voxel volume |det axes|
//     overflows.
// An image without voxels that passes these checks has mass 0.
// A mass that is not finite is never returned: std::invalid_argument names
// the first value that is NaN or infinite, and std::range_error reports a sum
// of finite values that overflows the double range (an infinite mass would
// say nothing about the image, and a NaN even less).
double image_mass(std::span<const double> values, const std::array<long long, 3>& extents,
                  const std::array<double, 9>& axes, IsaLevel level = default_isa_level());

}  // namespace vorn::host
