// bsp_select: deterministic quickselect of a node's median on an index array.
//
// The exact permutation it leaves is part of the contract (the output cloud's
// order depends on it), so the pivot rule and the partition must not change.
#pragma once

#include <utility>

namespace vorn {

namespace detail {

// Median of the three sampled coordinates, decided by strict comparisons in
// this order; with equal samples the tie rules below fix which value is taken.
inline double median_of_three(double first, double middle, double last) {
  if (middle > first) {
    if (last > middle) return middle;
    return last > first ? last : first;
  }
  if (last > first) return first;
  return last > middle ? last : middle;
}

// Hoare partition of entries [lo, hi) around `pivot`, entry i having key
// key(i) and swap(i, j) exchanging two entries. Returns s with key <= pivot
// on [lo, s) and key >= pivot on [s, hi). Both scans stop on keys equal to
// the pivot: a run of equal keys is then shared between the sides, and since
// the pivot is the median of three keys sampled from the range, an entry at
// or above it and one at or below it stop the scans inside the range, which
// gives lo < s < hi: every pass of the selection shrinks its range.
template <class Key, class Swap>
long long hoare_partition(const Key& key, const Swap& swap, long long lo, long long hi, double pivot) {
  long long i = lo - 1;
  long long j = hi;
  for (;;) {
    do {
      ++i;
    } while (key(i) < pivot);
    do {
      --j;
    } while (key(j) > pivot);
    if (i >= j) return j + 1;
    swap(i, j);
  }
}

// Quickselect of rank target - lo among entries [lo, hi), lo <= target < hi;
// touches no entry outside [lo, hi).
template <class Key, class Swap>
void select_entries(const Key& key, const Swap& swap, long long lo, long long hi, long long target) {
  long long n = hi - lo;
  while (n >= 3) {
    const double pivot = median_of_three(key(lo), key(lo + n / 2), key(hi - 1));
    const long long s = hoare_partition(key, swap, lo, hi, pivot);
    if (target < s) {
      hi = s;
    } else {
      lo = s;
    }
    n = hi - lo;
  }
  if (n == 2 && key(lo) > key(lo + 1)) swap(lo, lo + 1);
}

// bsp_select with the keys held next to the indices: keys[i - lo] is the
// coordinate of point order[i] and moves with it, so the passes read
// contiguous memory instead of one point row per comparison. The same
// comparisons on the same values give the same permutation of `order`.
template <class Order>
void select_with_keys(const Order& order, double* keys, long long lo, long long hi, long long target) {
  const auto key = [&](long long i) { return keys[i - lo]; };
  const auto swap = [&](long long i, long long j) {
    std::swap(order(i), order(j));
    std::swap(keys[i - lo], keys[j - lo]);
  };
  select_entries(key, swap, lo, hi, target);
}

}  // namespace detail

// Reorders order[lo, hi) so that order[target] is the point whose coordinate
// `axis` has rank target - lo among them, entries before it have coordinates
// no larger and entries after it no smaller. Requires lo <= target < hi.
// Reads and writes no entry of `order` outside [lo, hi).
template <class Order, class Positions>
void bsp_select(const Order& order, const Positions& positions, long long lo, long long hi, long long target,
                int axis) {
  const auto key = [&](long long i) { return positions(order(i), axis); };
  const auto swap = [&](long long i, long long j) { std::swap(order(i), order(j)); };
  detail::select_entries(key, swap, lo, hi, target);
}

}  // namespace vorn
