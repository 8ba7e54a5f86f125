// Seed sets of the distributed diagram tests, the same on every rank and
// every run (fixed generator seeds), all in the unit square.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace vorn::test {

struct SeedSet {
  std::string name;
  std::vector<double> positions;  // x then y per seed
  std::vector<double> weights;
};

// Test names show the set's name, not its bytes.
inline void PrintTo(const SeedSet& s, std::ostream* os) { *os << s.name; }

inline double unit(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * 0x1.0p-53; }

// Uniform positions; weights uniform up to `weight_scale` times the mean
// squared spacing (about 1: some cells empty; far more: many empty, large
// cells around the heavy seeds).
inline SeedSet uniform_set(std::string name, int n, double weight_scale, std::uint64_t rng_seed) {
  std::mt19937_64 rng(rng_seed);
  SeedSet s{std::move(name), {}, {}};
  for (int i = 0; i < n; ++i) {
    s.positions.push_back(unit(rng)), s.positions.push_back(unit(rng));
    s.weights.push_back(weight_scale / n * unit(rng));
  }
  return s;
}

// Five tight clusters (a few per cent of the square across) and a sparse background.
inline SeedSet clustered_set(int n) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> spread(0.0, 0.02);
  SeedSet s{"clustered", {}, {}};
  const double centres[5][2] = {{0.2, 0.2}, {0.8, 0.25}, {0.5, 0.5}, {0.15, 0.85}, {0.9, 0.9}};
  for (int i = 0; i < n; ++i) {
    double x = unit(rng), y = unit(rng);
    if (i % 10 != 0) {
      x = std::clamp(centres[i % 5][0] + spread(rng), 0.0, 1.0);
      y = std::clamp(centres[i % 5][1] + spread(rng), 0.0, 1.0);
    }
    s.positions.push_back(x), s.positions.push_back(y), s.weights.push_back(0.0);
  }
  return s;
}

// A k x k grid of unweighted seeds: four seeds on every circle of the grid,
// whose cells meet at points.
inline SeedSet grid_set(int k) {
  SeedSet s{"grid", {}, {}};
  for (int i = 0; i < k; ++i) {
    for (int j = 0; j < k; ++j) {
      s.positions.push_back((i + 0.5) / k), s.positions.push_back((j + 0.5) / k), s.weights.push_back(0.0);
    }
  }
  return s;
}

// Every position three times: with weights 0, 0 and a third that is the
// heaviest at every third position, so that both the weight rule and the
// lowest-number rule decide.
inline SeedSet duplicates_set(int positions) {
  std::mt19937_64 rng(11);
  SeedSet s{"duplicates", {}, {}};
  for (int i = 0; i < positions; ++i) {
    const double x = unit(rng), y = unit(rng);
    for (int copy = 0; copy < 3; ++copy) {
      s.positions.push_back(x), s.positions.push_back(y);
      s.weights.push_back(copy == 2 && i % 3 == 0 ? 0.1 / positions : 0.0);
    }
  }
  return s;
}

// Most seeds at one position, so that the sample puts every cut there: one
// region holds them all.
inline SeedSet one_region_set() {
  SeedSet s{"one_region", {}, {}};
  for (int i = 0; i < 200; ++i) s.positions.push_back(0.3), s.positions.push_back(0.6), s.weights.push_back(0.0);
  const double others[3][2] = {{0.9, 0.1}, {0.1, 0.1}, {0.7, 0.8}};
  for (const auto& p : others) s.positions.push_back(p[0]), s.positions.push_back(p[1]), s.weights.push_back(0.0);
  return s;
}

}  // namespace vorn::test
