#include "vorn/host/image_mass.hpp"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <tuple>

#include "per_level.hpp"
#include "units/frame/record_encoder.hpp"
#include "units/mass/image_mass_unit.hpp"
#include "units/mass/mass_kernel.hpp"
#include "vorn/host/unit_library.hpp"
#include "vorn/unit_entries.hpp"

namespace vorn::host {

namespace {

// Each build is loaded on first use and kept.
const UnitLibrary& mass_unit(IsaLevel level) {
  static PerLevel<UnitLibrary> loaded;
  return loaded.get(level, [&] {
    return UnitLibrary(units::unit_image_mass_3d.library, units::unit_image_mass_3d.symbol, level);
  });
}

std::string extents_text(const std::array<long long, 3>& extents) {
  return std::to_string(extents[0]) + " x " + std::to_string(extents[1]) + " x " + std::to_string(extents[2]);
}

// The number of voxels, after checking that the unit can form the image's
// strides. The unit computes dense byte strides from the last axis up, in
// signed 64 bits: 8·n2, 8·n2·n1 and then 8·n2·n1·n0. Each of these running
// products must fit, so an extent of 0 only makes the image safe when no
// product before it overflows: (2^32, 2^32, 0) is empty and harmless, while
// (0, 2^32, 2^32) overflows at 8·n2·n1 before the 0 is reached.
unsigned long long voxel_count(const std::array<long long, 3>& extents) {
  for (std::size_t d = 0; d < 3; ++d) {
    if (extents[d] < 0) {
      throw std::invalid_argument("image extent " + std::to_string(d) + " is negative: " +
                                  std::to_string(extents[d]));
    }
  }
  long long bytes = static_cast<long long>(sizeof(double));
  for (std::size_t d = 3; d-- > 0;) {
    if (__builtin_mul_overflow(bytes, extents[d], &bytes)) {
      throw std::invalid_argument("image extents " + extents_text(extents) +
                                  " overflow the signed 64-bit byte strides of the image (at axis " +
                                  std::to_string(d) + ")");
    }
  }
  return static_cast<unsigned long long>(bytes) / sizeof(double);
}

// Refuses axes the unit would turn into a NaN or infinite mass: a non-finite
// entry, or a voxel volume |det| that overflows. The volume is computed by the
// unit's own function, so the test and the unit agree to the bit.
void check_axes(const std::array<double, 9>& axes) {
  for (std::size_t k = 0; k < 9; ++k) {
    if (!std::isfinite(axes[k])) {
      throw std::invalid_argument("image axes entry (" + std::to_string(k / 3) + ", " + std::to_string(k % 3) +
                                  ") is not a finite number");
    }
  }
  const double volume = detail::parallelepiped_volume([&](int row, int column) {
    return axes[static_cast<std::size_t>(3 * row + column)];
  });
  if (!std::isfinite(volume)) {
    throw std::invalid_argument("image axes span a voxel volume |det| that is not a finite number");
  }
}

// Why a mass came out NaN or infinite, given finite axes and volume: a value
// that is not finite, else the sum that overflows. Only searched on failure,
// so a good image is read once, by the unit.
[[noreturn]] void refuse_mass(std::span<const double> values, const std::array<long long, 3>& extents) {
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (std::isfinite(values[k])) continue;
    const auto n1 = static_cast<std::size_t>(extents[1]), n2 = static_cast<std::size_t>(extents[2]);
    throw std::invalid_argument("image value at voxel (" + std::to_string(k / (n1 * n2)) + ", " +
                                std::to_string(k / n2 % n1) + ", " + std::to_string(k % n2) +
                                ") is not a finite number");
  }
  throw std::range_error("image mass overflows: the sum of values times voxel volume is beyond the double range");
}

}  // namespace

double image_mass(std::span<const double> values, const std::array<long long, 3>& extents,
                  const std::array<double, 9>& axes, IsaLevel level) {
  const unsigned long long count = voxel_count(extents);
  if (count != values.size()) {
    throw std::invalid_argument("image extents " + extents_text(extents) + " need " + std::to_string(count) +
                                " values, got " + std::to_string(values.size()));
  }
  check_axes(axes);
  // No voxels, no mass; the strides are known to fit, so the unit would say the same.
  if (count == 0) return 0.0;

  // The unit reads neither the scalar, the origin nor the shape variable: each gets a valid placeholder.
  double scalar_in = 0.0;
  int shape_storage = 0;
  const std::array<double, 3> origin{};
  double mass = 0.0;
  int status = 0;

  records::unit_image_mass_3d::bundles_type bundles{};
  auto& image = std::get<0>(bundles).image;
  frame::point_at(image.scalar_in, &scalar_in, {});
  frame::point_at(image.shape_var.source, &shape_storage, {1});
  frame::set_shape_value(image.shape_var, 0);
  frame::point_at(image.values, values.data(), extents);
  frame::point_at(image.origin, origin.data(), {3});
  frame::point_at(image.axes, axes.data(), {3, 3});
  frame::point_at(image.mass, &mass, {});
  frame::StatusView status_view{};
  frame::point_at(status_view, &status, {1});
  const frame::EncodedRecord<records::unit_image_mass_3d> record(bundles, status_view, {});
  mass_unit(level).call(record.record(), record.shape_values());
  if (!std::isfinite(mass)) refuse_mass(values, extents);
  return mass;
}

}  // namespace vorn::host
