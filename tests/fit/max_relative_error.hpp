// The fit's measure of how far cells are from their targets.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vorn::test {

inline double max_relative_error(const std::vector<double>& masses, const std::vector<double>& targets) {
  double worst = 0.0;
  for (std::size_t i = 0; i < masses.size(); ++i) worst = std::max(worst, std::fabs(masses[i] / targets[i] - 1));
  return worst;
}

}  // namespace vorn::test
