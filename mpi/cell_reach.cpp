#include "cell_reach.hpp"

#include <algorithm>
#include <cmath>

namespace vorn::mpi {

std::optional<host::Box> cut_reach(double x, double y, double w, const double* xs, const double* ys, std::size_t n,
                                   double heaviest, double rounding) {
  if (n == 0) return std::nullopt;
  host::Box bounds{xs[0], ys[0], xs[0], ys[0]};
  double farthest = 0.0;  // the largest |v - p|^2 + (heaviest - w)
  for (std::size_t k = 0; k < n; ++k) {
    bounds = {std::min(bounds.x_min, xs[k]), std::min(bounds.y_min, ys[k]), std::max(bounds.x_max, xs[k]),
              std::max(bounds.y_max, ys[k])};
    const double dx = xs[k] - x, dy = ys[k] - y;
    farthest = std::max(farthest, (dx * dx + dy * dy) + (heaviest - w));
  }
  // The factor covers the rounding of the power distance's own terms, as in
  // the test of completeness.
  return widened(bounds, std::sqrt(farthest * (1.0 + 0x1p-40)) + rounding);
}

bool holds(const host::Box& outer, const host::Box& inner) {
  return outer.x_min <= inner.x_min && outer.y_min <= inner.y_min && inner.x_max <= outer.x_max &&
         inner.y_max <= outer.y_max;
}

host::Box widened(const host::Box& box, double margin) {
  return {box.x_min - margin, box.y_min - margin, box.x_max + margin, box.y_max + margin};
}

}  // namespace vorn::mpi
