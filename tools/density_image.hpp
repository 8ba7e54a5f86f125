// Density images for vorn-power's --density: pixels spanning the domain box.
#pragma once

#include <filesystem>

#include "vorn/host/pixel_density.hpp"

namespace vorn::tools {

// A .npy float64 array of shape (ny, nx), row 0 at the box's bottom, values
// as they are; or a PGM image (P2 or P5, any maxval) whose darkness,
// 1 − value / maxval, is the density (dark regions weigh most, as
// stippling wants), its top row at the box's top. Throws ToolError naming
// the file and the problem; the values themselves are checked by the fit.
host::PixelDensity read_density_image(const std::filesystem::path& path);

}  // namespace vorn::tools
