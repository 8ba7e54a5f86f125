// The selection on contiguous keys, as the units run it, compiled once per
// backend: the portable build compares one key at a time, the AVX2 build four
// keys per compare. Suite names end in the backend (VORN_SELECT_SUITE).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstddef>
#include <random>
#include <utility>
#include <vector>

#include "bsp_select.hpp"
#include "bsp_unit_types.hpp"
#include "reference_select.hpp"

namespace vorn {
namespace {

using Order = bsp::Vector<long long, CpuKernelMemorySpace, _num_point>;

// select_with_keys on order[lo, hi) of an n-point index array, the keys of
// order[lo, hi) copied next to them as the level kernel does.
std::vector<long long> keyed_select(const std::vector<double>& key, std::vector<long long> order, long long lo,
                                    long long hi, long long target) {
  std::vector<double> keys;
  for (long long i = lo; i < hi; ++i) keys.push_back(key[static_cast<std::size_t>(order[i])]);
  Order view{};
  view.shape.set<0>(static_cast<long long>(order.size()));
  view.data = order.data();
  detail::select_with_keys(view, keys.data(), lo, hi, target);
  for (long long i = lo; i < hi; ++i) {
    EXPECT_EQ(keys[i - lo], key[static_cast<std::size_t>(order[i])]) << "key " << i << " left its entry";
  }
  return order;
}

TEST(VORN_SELECT_SUITE, KeyedSelectionMatchesTheReferenceForEveryTarget) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 400; ++round) {
    const std::size_t n = 1 + rng() % 90;
    const auto key = testing::repeated_keys(n, 1 + static_cast<int>(rng() % 12), rng);
    const long long lo = static_cast<long long>(rng() % n);
    const long long hi = lo + 1 + static_cast<long long>(rng() % (n - lo));
    const long long target = lo + static_cast<long long>(rng() % (hi - lo));
    std::vector<long long> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<long long>((i * 7) % n);
    std::vector<long long> expected = order;
    testing::reference_select(expected, key, lo, hi, target);
    ASSERT_EQ(keyed_select(key, order, lo, hi, target), expected)
        << "round " << round << " [" << lo << ", " << hi << ") target " << target;
  }
}

// One pass of the partition on keys[0, n), each key tagged with its input
// index so that the permutation is compared too: the partition's return value
// and the tagged keys it leaves.
struct PassResult {
  long long split;
  std::vector<double> keys;
  std::vector<long long> tags;
};

template <class Partition>
PassResult partition_pass(std::vector<double> keys, const Partition& partition, double pivot) {
  const long long n = static_cast<long long>(keys.size());
  std::vector<long long> tags(keys.size());
  for (long long i = 0; i < n; ++i) tags[i] = i;
  const auto swap = [&](long long i, long long j) {
    EXPECT_TRUE(0 <= i && i < j && j < n) << "swap of " << i << " and " << j << " in [0, " << n << ")";
    std::swap(keys[i], keys[j]);
    std::swap(tags[i], tags[j]);
  };
  const long long split = partition(keys.data(), swap, n, pivot);
  return {split, std::move(keys), std::move(tags)};
}

std::vector<std::uint64_t> bits_of(const std::vector<double>& keys) {
  std::vector<std::uint64_t> bits;
  for (double k : keys) bits.push_back(std::bit_cast<std::uint64_t>(k));
  return bits;
}

// Keys of lengths 1 to 300 (every remainder of the block of stop_block keys,
// several blocks from each side), with few distinct values, many, or NaN (which stops
// both scans); the pivot is a key of the range, as the median of three is.
// The buffers are exactly as long as the range, so a read outside it is an
// AddressSanitizer error in the sanitised build.
TEST(VORN_SELECT_SUITE, BlockPartitionSwapsAsTheScalarLoopDoes) {
  std::mt19937_64 rng(5);
  const auto scalar = [](const double* keys, const auto& swap, long long n, double pivot) {
    const auto up = [&](long long k) { return detail::scan_up_scalar(keys, k, pivot); };
    const auto down = [&](long long k) { return detail::scan_down_scalar(keys, k, pivot); };
    return detail::hoare_partition(up, down, swap, 0, n);
  };
  const auto blocked = [](const double* keys, const auto& swap, long long n, double pivot) {
    return detail::partition_keys(keys, swap, 0, n, pivot);
  };
  for (long long length = 1; length <= 300; ++length) {
    for (const int spread : {2, 3, 1000}) {
      for (const bool with_nan : {false, true}) {
        std::vector<double> keys = testing::repeated_keys(static_cast<std::size_t>(length), spread, rng);
        if (with_nan) {
          for (double& k : keys) k = rng() % 8 == 0 ? std::nan("") : k;
        }
        for (long long p : {0LL, length / 3, length / 2, length - 1, static_cast<long long>(rng() % length)}) {
          const PassResult want = partition_pass(keys, scalar, keys[p]);
          const PassResult got = partition_pass(keys, blocked, keys[p]);
          const auto where = ::testing::Message() << "length " << length << " spread " << spread << " nan "
                                                  << with_nan << " pivot at " << p;
          ASSERT_EQ(got.split, want.split) << where;
          ASSERT_EQ(got.tags, want.tags) << where;
          ASSERT_EQ(bits_of(got.keys), bits_of(want.keys)) << where;
        }
      }
    }
  }
}

#if defined(__AVX2__)
// Keys of lengths 0 to 40 (every remainder of four, several blocks), drawn
// from three values and NaN, which stops both scans. Each key in turn is the
// pivot, and every start index from which a stopping key is ahead is scanned;
// the buffers are exactly as long as the range, so a read outside it is an
// AddressSanitizer error in the sanitised build.
TEST(VORN_SELECT_SUITE, VectorScansStopWhereTheScalarScansStop) {
  std::mt19937_64 rng(11);
  std::uniform_int_distribution<int> value(0, 3);
  for (long long length = 0; length <= 40; ++length) {
    for (int draw = 0; draw < 8; ++draw) {
      std::vector<double> keys(static_cast<std::size_t>(length));
      for (double& k : keys) k = value(rng) == 3 ? std::nan("") : value(rng);
      for (long long p = 0; p < length; ++p) {
        const double pivot = keys[p];
        // Scanning up from k stops at or before p, scanning down from k at or after p.
        for (long long k = 0; k <= p; ++k) {
          ASSERT_EQ(detail::scan_up_vector(keys.data(), k, length, pivot), detail::scan_up_scalar(keys.data(), k, pivot))
              << "length " << length << " pivot at " << p << " up from " << k;
        }
        for (long long k = p; k < length; ++k) {
          ASSERT_EQ(detail::scan_down_vector(keys.data(), k, 0, pivot),
                    detail::scan_down_scalar(keys.data(), k, pivot))
              << "length " << length << " pivot at " << p << " down from " << k;
        }
      }
    }
  }
}
#else
TEST(VORN_SELECT_SUITE, VectorScansStopWhereTheScalarScansStop) {
  GTEST_SKIP() << "built without AVX2: this build has only the scalar scans";
}
#endif

}  // namespace
}  // namespace vorn
