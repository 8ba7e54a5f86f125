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
// Throws std::invalid_argument when the extents are negative or do not match
// the number of values. `level` chooses the unit's build.
double image_mass(std::span<const double> values, const std::array<long long, 3>& extents,
                  const std::array<double, 9>& axes, IsaLevel level = default_isa_level());

}  // namespace vorn::host
