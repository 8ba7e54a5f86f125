// Seed sets for whole-diagram tests: positions and weights drawn uniformly.
#pragma once

#include <cstddef>
#include <random>
#include <vector>

namespace vorn::test {

struct Seeds {
  std::vector<double> positions, weights;  // x then y per seed; one weight per seed
};

// n seeds uniform in [offset, offset + side]^2, weights uniform in
// [0, weight_scale); x, y and weight drawn in that order, seed after seed.
inline Seeds uniform_seeds(std::size_t n, double side, double offset, double weight_scale, unsigned rng_seed) {
  std::mt19937_64 rng(rng_seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Seeds s;
  for (std::size_t i = 0; i < n; ++i) {
    s.positions.push_back(offset + side * unit(rng));
    s.positions.push_back(offset + side * unit(rng));
    s.weights.push_back(weight_scale * unit(rng));
  }
  return s;
}

}  // namespace vorn::test
