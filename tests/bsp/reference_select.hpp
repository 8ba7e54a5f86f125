// A quickselect written separately from the kernel, to check its exact
// permutation against, and keys with many repeats to run it on.
#pragma once

#include <algorithm>
#include <array>
#include <random>
#include <utility>
#include <vector>

namespace vorn::testing {

// Quickselect: pivot = the middle value of the first, middle and last keys;
// Hoare scans that stop on keys equal to the pivot; recurse on the side that
// holds the target; two keys are ordered by one comparison.
inline void reference_select(std::vector<long long>& idx, const std::vector<double>& key, long long lo, long long hi,
                             long long target) {
  const auto k = [&](long long i) { return key[static_cast<std::size_t>(idx[static_cast<std::size_t>(i)])]; };
  const long long n = hi - lo;
  if (n <= 1) return;
  if (n == 2) {
    if (k(lo) > k(lo + 1)) std::swap(idx[lo], idx[lo + 1]);
    return;
  }
  std::array<double, 3> sample{k(lo), k(lo + n / 2), k(hi - 1)};
  std::sort(sample.begin(), sample.end());
  const double pivot = sample[1];
  long long i = lo, j = hi - 1;
  for (;;) {
    while (k(i) < pivot) ++i;
    while (k(j) > pivot) --j;
    if (i >= j) break;
    std::swap(idx[i], idx[j]);
    ++i;
    --j;
  }
  const long long s = j + 1;
  if (target < s) {
    reference_select(idx, key, lo, s, target);
  } else {
    reference_select(idx, key, s, hi, target);
  }
}

// Keys with many repeats: integers in [0, spread).
inline std::vector<double> repeated_keys(std::size_t count, int spread, std::mt19937_64& rng) {
  std::uniform_int_distribution<int> value(0, spread - 1);
  std::vector<double> keys(count);
  for (auto& v : keys) v = value(rng);
  return keys;
}

}  // namespace vorn::testing
