#include "vorn/host/image_mass.hpp"

#include <stdexcept>
#include <string>

#include "per_level.hpp"
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

}  // namespace

double image_mass(std::span<const double> values, const std::array<long long, 3>& extents,
                  const std::array<double, 9>& axes, IsaLevel level) {
  unsigned long long count = 1;
  for (int d = 0; d < 3; ++d) {
    if (extents[static_cast<std::size_t>(d)] < 0) {
      throw std::invalid_argument("image extent " + std::to_string(d) + " is negative: " +
                                  std::to_string(extents[static_cast<std::size_t>(d)]));
    }
    if (__builtin_mul_overflow(count, static_cast<unsigned long long>(extents[static_cast<std::size_t>(d)]), &count)) {
      throw std::invalid_argument("image extents overflow 64 bits");
    }
  }
  if (count != values.size()) {
    throw std::invalid_argument("image extents " + std::to_string(extents[0]) + " x " + std::to_string(extents[1]) +
                                " x " + std::to_string(extents[2]) + " need " + std::to_string(count) +
                                " values, got " + std::to_string(values.size()));
  }
  double scalar_in = 0.0;
  int shape_storage = 0;
  const long long shape_extent = 1;
  const std::array<double, 3> origin{};
  double mass = 0.0;
  int status = 0;
  const long long status_extent = 1;

  ArgumentRecord record;
  record.add(&scalar_in);
  record.add(&shape_storage, &shape_extent);
  record.add(values.data(), extents.data());
  record.add(origin.data());
  record.add(axes.data());
  record.add(&mass);
  record.add(&status, &status_extent);
  const long long shape_values[1] = {0};
  mass_unit(level).call(record.data(), shape_values);
  return mass;
}

}  // namespace vorn::host
