// Calls the image mass unit the way a host does: the record encoded from the
// unit's declaration over buffers the test owns.
#pragma once

#include <array>
#include <tuple>
#include <vector>

#include "units/frame/record_encoder.hpp"
#include "units/mass/image_mass_unit.hpp"
#include "vorn/host/unit_library.hpp"
#include "vorn/unit_entries.hpp"

namespace vorn::testing {

struct MassCall {
  std::array<long long, 3> extents{};
  std::vector<double> values;
  std::array<double, 9> axes{1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::array<double, 3> origin{};
  double scalar_in = 0.0;
  std::vector<int> shape_var_storage{0};
  long long shape_var_value = 0;
  std::vector<int> status = std::vector<int>(2, -1);
  double mass = -1.0;  // garbage the entry must overwrite

  MassCall(long long n0, long long n1, long long n2, double fill = 1.0)
      : extents{n0, n1, n2}, values(static_cast<std::size_t>(n0 * n1 * n2), fill) {}

  frame::EncodedRecord<records::unit_image_mass_3d> record() {
    records::unit_image_mass_3d::bundles_type bundles{};
    auto& image = std::get<0>(bundles).image;
    frame::point_at(image.scalar_in, &scalar_in, {});
    frame::point_at(image.shape_var.source, shape_var_storage.data(), {length(shape_var_storage)});
    frame::set_shape_value(image.shape_var, shape_var_value);
    frame::point_at(image.values, values.data(), extents);
    frame::point_at(image.origin, origin.data(), {3});
    frame::point_at(image.axes, axes.data(), {3, 3});
    frame::point_at(image.mass, &mass, {});
    frame::StatusView status_view{};
    frame::point_at(status_view, status.data(), {length(status)});
    return {bundles, status_view, {}};
  }

  int run(const host::UnitLibrary& unit) {
    const auto r = record();
    return unit.call(r.record(), r.shape_values());
  }

 private:
  template <class T>
  static long long length(const std::vector<T>& v) {
    return static_cast<long long>(v.size());
  }
};

}  // namespace vorn::testing
