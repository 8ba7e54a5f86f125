// bsp_select: deterministic quickselect of a node's median on an index array.
//
// The exact permutation it leaves is part of the contract (the output cloud's
// order depends on it), so the pivot rule and the partition must not change.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>
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
// hoare_partition_from resumes the loop with any i < j such that the left
// scan's next stop is its first after i and the right scan's its last before
// j, as after a swap of entries i and j; hoare_partition starts it.
template <class Up, class Down, class Swap>
long long hoare_partition_from(const Up& up, const Down& down, const Swap& swap, long long i, long long j) {
  for (;;) {
    i = up(i + 1);
    j = down(j - 1);
    if (i >= j) return j + 1;
    swap(i, j);
  }
}

template <class Up, class Down, class Swap>
long long hoare_partition(const Up& up, const Down& down, const Swap& swap, long long lo, long long hi) {
  return hoare_partition_from(up, down, swap, lo - 1, hi);
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

// Block partition: the Hoare loop's swaps without a branch per stop.
//
// Up to the point where the scans cross, the k-th swap exchanges the k-th key
// from the left that is not below the pivot with the k-th key from the right
// that is not above it: the keys between the last swapped pair are untouched,
// so each scan stops at the next such key of the input. The stops of a block
// of keys are found as a bit mask (bit b: key base + b), and stops taken from
// the left block in increasing and from the right block in decreasing order
// are paired and swapped. The swaps are disjoint pairs, so they leave what the
// scalar loop leaves. Blocks are taken only from the keys neither side has
// examined, so every left stop lies before every right stop and no pair
// crosses; when fewer than a block's keys remain, the scalar loop resumes
// at the first unpaired stop of either side and handles the crossing.

// One bit per key of a block.
using StopMask = std::uint32_t;
constexpr int stop_block = std::numeric_limits<StopMask>::digits;

// Stop masks of keys[0, stop_block): bit b set when keys[b] stops the left
// scan (!(key < pivot)), resp. the right scan (!(key > pivot)). The ordered
// compares are false with a NaN on either side, so a NaN stops both scans, as
// in the scalar scans.
#if defined(__AVX2__)
template <int Predicate>
StopMask stop_mask(const double* keys, double pivot) {
  const __m256d p = _mm256_set1_pd(pivot);
  StopMask passes = 0;  // bit b: keys[b] lets the scan pass
  for (int q = 0; q < stop_block / 4; ++q) {
    const __m256d c = _mm256_cmp_pd(_mm256_loadu_pd(keys + 4 * q), p, Predicate);
    passes |= static_cast<StopMask>(_mm256_movemask_pd(c)) << (4 * q);
  }
  return ~passes;
}
inline StopMask left_stops(const double* keys, double pivot) { return stop_mask<_CMP_LT_OQ>(keys, pivot); }
inline StopMask right_stops(const double* keys, double pivot) { return stop_mask<_CMP_GT_OQ>(keys, pivot); }
#else
inline StopMask left_stops(const double* keys, double pivot) {
  StopMask passes = 0;
  for (int b = 0; b < stop_block; ++b) passes |= static_cast<StopMask>(keys[b] < pivot) << b;
  return ~passes;
}
inline StopMask right_stops(const double* keys, double pivot) {
  StopMask passes = 0;
  for (int b = 0; b < stop_block; ++b) passes |= static_cast<StopMask>(keys[b] > pivot) << b;
  return ~passes;
}
#endif

// The examined ends of a block partition. Keys [left, right) are unexamined;
// left_mask holds the unpaired left stops (bit b: key left_base + b), all
// after the last swapped left entry, right_mask the unpaired right stops
// (bit b: key right_base + b), all before the last swapped right entry.
struct StopBlocks {
  long long left, right;
  long long left_base = 0, right_base = 0;
  StopMask left_mask = 0, right_mask = 0;

  // Refills an exhausted side from the unexamined keys; false when fewer than
  // a block of them remain.
  bool refill(const double* keys, double pivot) {
    if (left_mask == 0) {
      if (right - left < stop_block) return false;
      left_base = left;
      left_mask = left_stops(keys + left, pivot);
      left += stop_block;
    }
    if (right_mask == 0) {
      if (right - left < stop_block) return false;
      right -= stop_block;
      right_base = right;
      right_mask = right_stops(keys + right, pivot);
    }
    return true;
  }

  // Swaps the next left stop with the next right stop until one side has none.
  template <class Swap>
  void swap_pairs(const Swap& swap) {
    while (left_mask != 0 && right_mask != 0) {
      const int r = stop_block - 1 - std::countl_zero(right_mask);
      swap(left_base + std::countr_zero(left_mask), right_base + r);
      left_mask &= left_mask - 1;
      right_mask ^= StopMask{1} << r;
    }
  }

  // The Hoare loop's i and j after the swaps made so far: its left scan's next
  // stop is the first unpaired left stop, or else lies at or after `left`;
  // its right scan's the last unpaired right stop, or else before `right`.
  long long scalar_i() const { return (left_mask != 0 ? left_base + std::countr_zero(left_mask) : left) - 1; }
  long long scalar_j() const {
    return right_mask != 0 ? right_base + stop_block - std::countl_zero(right_mask) : right;
  }
};

template <class Up, class Down, class Swap>
long long block_partition(const double* keys, const Up& up, const Down& down, const Swap& swap, long long lo,
                          long long hi, double pivot) {
  StopBlocks blocks{lo, hi};
  while (blocks.refill(keys, pivot)) blocks.swap_pairs(swap);
  return hoare_partition_from(up, down, swap, blocks.scalar_i(), blocks.scalar_j());
}

// One pass of the selection on contiguous keys: the Hoare partition of keys
// [lo, hi) (relative to the node), swap(i, j) exchanging two entries; the
// scans finish what the blocks leave.
template <class Swap>
long long partition_keys(const double* keys, const Swap& swap, long long lo, long long hi, double pivot) {
#if defined(__AVX2__)
  const auto up = [&](long long k) { return scan_up_vector(keys, k, hi, pivot); };
  const auto down = [&](long long k) { return scan_down_vector(keys, k, lo, pivot); };
#else
  const auto up = [&](long long k) { return scan_up_scalar(keys, k, pivot); };
  const auto down = [&](long long k) { return scan_down_scalar(keys, k, pivot); };
#endif
  return block_partition(keys, up, down, swap, lo, hi, pivot);
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
