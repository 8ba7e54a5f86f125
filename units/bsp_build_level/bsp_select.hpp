// bsp_select: deterministic quickselect of a node's median on an index array.
//
// The exact permutation it leaves is part of the contract (the output cloud's
// order depends on it), so the pivot rule and the partition must not change.
#pragma once

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

// Hoare partition of order[lo, hi) around `pivot`. Returns s with
// v <= pivot on [lo, s) and v >= pivot on [s, hi). Both scans stop on entries
// equal to the pivot: a run of equal keys is then shared between the sides,
// and since the pivot is the median of three keys sampled from the range, an
// entry at or above it and one at or below it stop the scans inside the range,
// which gives lo < s < hi: every pass of the selection shrinks its range.
template <class Order, class Key>
long long hoare_partition(const Order& order, const Key& v, long long lo, long long hi, double pivot) {
  long long i = lo - 1;
  long long j = hi;
  for (;;) {
    do {
      ++i;
    } while (v(order(i)) < pivot);
    do {
      --j;
    } while (v(order(j)) > pivot);
    if (i >= j) return j + 1;
    const long long swapped = order(i);
    order(i) = order(j);
    order(j) = swapped;
  }
}

}  // namespace detail

// Reorders order[lo, hi) so that order[target] is the point whose coordinate
// `axis` has rank target - lo among them, entries before it have coordinates
// no larger and entries after it no smaller. Requires lo <= target < hi.
// Reads and writes no entry of `order` outside [lo, hi).
template <class Order, class Positions>
void bsp_select(const Order& order, const Positions& positions, long long lo, long long hi, long long target,
                int axis) {
  const auto v = [&](long long i) { return positions(i, axis); };
  long long n = hi - lo;
  while (n >= 3) {
    const double pivot = detail::median_of_three(v(order(lo)), v(order(lo + n / 2)), v(order(hi - 1)));
    const long long s = detail::hoare_partition(order, v, lo, hi, pivot);
    if (target < s) {
      hi = s;
    } else {
      lo = s;
    }
    n = hi - lo;
  }
  if (n == 2 && v(order(lo)) > v(order(lo + 1))) {
    const long long swapped = order(lo);
    order(lo) = order(lo + 1);
    order(lo + 1) = swapped;
  }
}

}  // namespace vorn
