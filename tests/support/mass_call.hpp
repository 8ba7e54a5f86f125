// Calls the image mass unit the way a host does: one triple per tensor in the
// unit's order, extents arrays only where the unit reads them.
#pragma once

#include <array>
#include <vector>

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

  // Triples: scalar_in, shape_var's int tensor, values, origin, axes, mass, status.
  // The extents of the 0-D and all-static tensors are passed as null: never read.
  host::ArgumentRecord record() {
    host::ArgumentRecord r;
    r.add(&scalar_in);
    status_extent = static_cast<long long>(status.size());
    shape_var_extent = static_cast<long long>(shape_var_storage.size());
    r.add(shape_var_storage.data(), &shape_var_extent);
    r.add(values.data(), extents.data());
    r.add(origin.data());
    r.add(axes.data());
    r.add(&mass);
    r.add(status.data(), &status_extent);
    return r;
  }

  int run(const host::UnitLibrary& unit) {
    auto r = record();
    const long long shape_values[1] = {shape_var_value};
    return unit.call(r.data(), shape_values);
  }

  long long status_extent = 0;
  long long shape_var_extent = 0;
};

}  // namespace vorn::testing
