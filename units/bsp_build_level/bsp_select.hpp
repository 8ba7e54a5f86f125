// bsp_select: deterministic quickselect of a node's median on an index array.
//
// The exact permutation it leaves is part of the contract (the output cloud's
// order depends on it), so the pivot rule and the partition must not change.
#pragma once

#include <bit>
#include <utility>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

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

// Hoare partition of entries [lo, hi) around a pivot. up(k) is the first
// index >= k whose key is not below the pivot (!(key < pivot)), down(k) the
// last index <= k whose key is not above it (!(key > pivot)); swap(i, j)
// exchanges two entries. Returns s with key <= pivot on [lo, s) and
// key >= pivot on [s, hi). Both scans stop on keys equal to the pivot: a run
// of equal keys is then shared between the sides, and since the pivot is the
// median of three keys sampled from the range, an entry at or above it and
// one at or below it stop the scans inside the range, which gives
// lo < s < hi: every pass of the selection shrinks its range. After a swap
// the entries at i and j stop the next scans, so no scan leaves [lo, hi).
template <class Up, class Down, class Swap>
long long hoare_partition(const Up& up, const Down& down, const Swap& swap, long long lo, long long hi) {
  long long i = lo - 1;
  long long j = hi;
  for (;;) {
    i = up(i + 1);
    j = down(j - 1);
    if (i >= j) return j + 1;
    swap(i, j);
  }
}

// Quickselect of rank target - lo among entries [lo, hi), lo <= target < hi,
// entry i having key key(i); partition(lo, hi, pivot) is hoare_partition over
// those entries. Touches no entry outside [lo, hi).
template <class Key, class Partition, class Swap>
void select_entries(const Key& key, const Partition& partition, const Swap& swap, long long lo, long long hi,
                    long long target) {
  long long n = hi - lo;
  while (n >= 3) {
    const double pivot = median_of_three(key(lo), key(lo + n / 2), key(hi - 1));
    const long long s = partition(lo, hi, pivot);
    if (target < s) {
      hi = s;
    } else {
      lo = s;
    }
    n = hi - lo;
  }
  if (n == 2 && key(lo) > key(lo + 1)) swap(lo, lo + 1);
}

// The scans of the partition over contiguous keys, one key at a time.
// Precondition: a key that stops the scan lies at or after k (up), at or
// before k (down), inside the range being partitioned.
inline long long scan_up_scalar(const double* keys, long long k, double pivot) {
  while (keys[k] < pivot) ++k;
  return k;
}

inline long long scan_down_scalar(const double* keys, long long k, double pivot) {
  while (keys[k] > pivot) --k;
  return k;
}

#if defined(__AVX2__)
// The same scans four keys per compare. The compare predicates are those of
// the scalar `<` and `>` (ordered: false when either side is NaN), and the
// first stopping lane in scan direction is taken, so the index found is the
// scalar scan's. Blocks of four are loaded only while they lie inside
// [lo, hi), the range being partitioned; the last few keys go one at a time.
inline long long scan_up_vector(const double* keys, long long k, long long hi, double pivot) {
  const __m256d p = _mm256_set1_pd(pivot);
  for (; k + 4 <= hi; k += 4) {
    const unsigned below = static_cast<unsigned>(
        _mm256_movemask_pd(_mm256_cmp_pd(_mm256_loadu_pd(keys + k), p, _CMP_LT_OQ)));
    if (below != 0xFu) return k + std::countr_zero(~below);  // lowest lane not below
  }
  return scan_up_scalar(keys, k, pivot);
}

inline long long scan_down_vector(const double* keys, long long k, long long lo, double pivot) {
  const __m256d p = _mm256_set1_pd(pivot);
  for (; k - 3 >= lo; k -= 4) {
    const unsigned above = static_cast<unsigned>(
        _mm256_movemask_pd(_mm256_cmp_pd(_mm256_loadu_pd(keys + k - 3), p, _CMP_GT_OQ)));
    if (above != 0xFu) return k - 3 + (31 - std::countl_zero(~above & 0xFu));  // highest lane not above
  }
  return scan_down_scalar(keys, k, pivot);
}
#endif

// One pass of the selection on contiguous keys: hoare_partition of keys
// [lo, hi) (relative to the node), swap(i, j) exchanging two entries.
template <class Swap>
long long partition_keys(const double* keys, const Swap& swap, long long lo, long long hi, double pivot) {
#if defined(__AVX2__)
  const auto up = [&](long long k) { return scan_up_vector(keys, k, hi, pivot); };
  const auto down = [&](long long k) { return scan_down_vector(keys, k, lo, pivot); };
#else
  const auto up = [&](long long k) { return scan_up_scalar(keys, k, pivot); };
  const auto down = [&](long long k) { return scan_down_scalar(keys, k, pivot); };
#endif
  return hoare_partition(up, down, swap, lo, hi);
}

// bsp_select with the keys held next to the indices: keys[i - lo] is the
// coordinate of point order[i] and moves with it, so the passes read
// contiguous memory instead of one point row per comparison. The same
// comparisons on the same values give the same permutation of `order`.
template <class Order>
void select_with_keys(const Order& order, double* keys, long long lo, long long hi, long long target) {
  // Indices below are relative to lo: entry r is (order(lo + r), keys[r]).
  const auto key = [&](long long r) { return keys[r]; };
  const auto swap = [&](long long r, long long q) {
    std::swap(order(lo + r), order(lo + q));
    std::swap(keys[r], keys[q]);
  };
  const auto partition = [&](long long l, long long h, double pivot) {
    return partition_keys(keys, swap, l, h, pivot);
  };
  select_entries(key, partition, swap, 0, hi - lo, target - lo);
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
  const auto partition = [&](long long l, long long h, double pivot) {
    const auto up = [&](long long k) {
      while (key(k) < pivot) ++k;
      return k;
    };
    const auto down = [&](long long k) {
      while (key(k) > pivot) --k;
      return k;
    };
    return detail::hoare_partition(up, down, swap, l, h);
  };
  detail::select_entries(key, partition, swap, lo, hi, target);
}

}  // namespace vorn
