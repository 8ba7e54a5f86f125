#include "seed_sets.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>

namespace vorn::bench {

namespace {

using Random = std::mt19937_64;

double uniform(Random& random, double low, double high) {
  return std::uniform_real_distribution<double>(low, high)(random);
}

void uniform_set(SeedSet& set, long long n, Random& random) {
  const double weight_scale = 0.5 / static_cast<double>(n);
  for (long long i = 0; i < n; ++i) {
    set.positions.push_back(uniform(random, 0.0, 1.0));
    set.positions.push_back(uniform(random, 0.0, 1.0));
    set.weights.push_back(uniform(random, 0.0, weight_scale));
  }
}

struct Cluster {
  double x, y, spread;
  double share;  // fraction of the seeds
};

std::vector<Cluster> make_clusters(Random& random) {
  constexpr int count = 64;
  std::vector<Cluster> clusters(count);
  double total = 0.0;
  for (int c = 0; c < count; ++c) {
    const double spread = 0.002 * std::pow(25.0, uniform(random, 0.0, 1.0));  // 0.002 to 0.05
    clusters[c] = {uniform(random, 0.1, 0.9), uniform(random, 0.1, 0.9), spread, 1.0 / (c + 1)};
    total += clusters[c].share;
  }
  for (auto& c : clusters) c.share /= total;
  return clusters;
}

void clustered_set(SeedSet& set, long long n, Random& random) {
  const std::vector<Cluster> clusters = make_clusters(random);
  std::vector<double> shares;
  for (const auto& c : clusters) shares.push_back(c.share);
  std::discrete_distribution<int> pick(shares.begin(), shares.end());
  std::normal_distribution<double> normal;
  for (long long i = 0; i < n;) {
    const Cluster& c = clusters[static_cast<std::size_t>(pick(random))];
    const double x = c.x + c.spread * normal(random);
    const double y = c.y + c.spread * normal(random);
    if (x < 0.0 || x >= 1.0 || y < 0.0 || y >= 1.0) continue;  // keep the square's seeds only
    // Half the area per seed of the cluster's core (the disc of one spread).
    const double weight_scale = 0.5 * std::numbers::pi * c.spread * c.spread / (c.share * static_cast<double>(n));
    set.positions.push_back(x);
    set.positions.push_back(y);
    set.weights.push_back(uniform(random, 0.0, weight_scale));
    ++i;
  }
}

void degenerate_set(SeedSet& set, long long n, Random& random) {
  const long long side = static_cast<long long>(std::ceil(std::sqrt(static_cast<double>(n))));
  const double h = 1.0 / static_cast<double>(side);
  const double jitter = 1e-10 * h;
  std::vector<long long> slots(static_cast<std::size_t>(side * side));
  for (std::size_t k = 0; k < slots.size(); ++k) slots[k] = static_cast<long long>(k);
  std::shuffle(slots.begin(), slots.end(), random);
  for (long long i = 0; i < n; ++i) {
    const long long slot = slots[static_cast<std::size_t>(i)];
    const double x = (static_cast<double>(slot % side) + 0.5) * h;
    const double y = (static_cast<double>(slot / side) + 0.5) * h;
    set.positions.push_back(x + uniform(random, -jitter, jitter));
    set.positions.push_back(y + uniform(random, -jitter, jitter));
    set.weights.push_back(0.0);
  }
}

}  // namespace

SeedSet make_seed_set(std::string_view kind, long long n, std::uint64_t random_seed) {
  SeedSet set{std::string(kind), {}, {}};
  set.positions.reserve(static_cast<std::size_t>(2 * n));
  set.weights.reserve(static_cast<std::size_t>(n));
  Random random(random_seed);
  if (kind == "uniform") {
    uniform_set(set, n, random);
  } else if (kind == "clustered") {
    clustered_set(set, n, random);
  } else if (kind == "degenerate") {
    degenerate_set(set, n, random);
  } else {
    throw std::invalid_argument("unknown seed set '" + std::string(kind) + "' (uniform, clustered, degenerate)");
  }
  return set;
}

}  // namespace vorn::bench
