// mass_kernel: the integral of a piecewise-constant density over a 3-D image.
#pragma once

#include <cmath>
#include <cstdint>
#include <string_view>

namespace vorn {

namespace detail {

// |det A| by expansion along the first column, every product and sum rounded
// separately, in this grouping.
template <class Axes>
double parallelepiped_volume(const Axes& a) {
  const double c0 = a(1, 1) * a(2, 2) - a(2, 1) * a(1, 2);
  const double c1 = a(0, 1) * a(2, 2) - a(2, 1) * a(0, 2);
  const double c2 = a(0, 1) * a(1, 2) - a(1, 1) * a(0, 2);
  const double det = a(2, 0) * c2 + (a(0, 0) * c0 - a(1, 0) * c1);
  return std::fabs(det);
}

// Width of voxel interval [i, i+1) in index space: exactly 1 while i + 1 is a
// double without rounding (below 2^53), else what the rounded ends give.
inline double index_width(std::uint64_t i) {
  constexpr std::uint64_t exact_limit = std::uint64_t{1} << 53;
  if (i < exact_limit) return 1.0;
  return static_cast<double>(i + 1) - static_cast<double>(i);
}

}  // namespace detail

struct mass_kernel {
  static constexpr std::string_view name = "mass_kernel";

  // Sums (((w1·w0)·w2)·value)·|det A| over the voxels in row-major order, one
  // dependent addition per voxel, so the result is the same on every run.
  template <class C, class Outputs>
  void operator()(const C&, Outputs& outputs) const {
    const auto& image = outputs.image;
    const auto& values = image.values;
    const std::uint64_t n0 = static_cast<std::uint64_t>(values.template extent<0>());
    const std::uint64_t n1 = static_cast<std::uint64_t>(values.template extent<1>());
    const std::uint64_t n2 = static_cast<std::uint64_t>(values.template extent<2>());
    if (n0 * (n1 * n2) == 0) {
      image.mass() = 0.0;
      return;
    }
    const double volume = detail::parallelepiped_volume(image.axes);
    double sum = 0.0;
    for (std::uint64_t i0 = 0; i0 < n0; ++i0) {
      const double w0 = detail::index_width(i0);
      for (std::uint64_t i1 = 0; i1 < n1; ++i1) {
        const double w10 = detail::index_width(i1) * w0;
        const double* row = &values(i0, i1, std::uint64_t{0});
        for (std::uint64_t i2 = 0; i2 < n2; ++i2) {
          sum += ((w10 * detail::index_width(i2)) * row[i2]) * volume;
        }
      }
    }
    image.mass() = sum;
  }
};

}  // namespace vorn
