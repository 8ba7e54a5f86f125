// The vectorised signed-value and edge-line passes against plain scalar
// loops written here, over every remainder of the block sizes and over
// buffers that overlap.
#include <cmath>
#include <random>

#include "cell_fixture.hpp"

namespace vorn::test {
namespace {

template <class T>
int reference_signed_values(int n, T const* xs, T const* ys, Plane<T, 2> const& p, T* dists) {
  int outside = 0;
  for (int i = 0; i < n; ++i) {
    T const v = std::fma(p.normal[0], xs[i], p.normal[1] * ys[i]) - p.offset;
    dists[i] = v;
    if (v > 0) ++outside;
  }
  return outside;
}

template <class T>
void reference_edge_lines(int n, T const* xs, T const* ys, T* nx, T* ny, T* offset) {
  for (int i = 0; i < n; ++i) {
    int const j = (i + 1) % n;
    nx[i] = ys[j] - ys[i];
    ny[i] = xs[i] - xs[j];
    offset[i] = std::fma(nx[i], xs[i], ny[i] * ys[i]);
  }
}

// Mostly ordinary values, with exact zeros, signed zeros and NaNs mixed in
// so that boundary classifications are exercised in every lane.
template <class T>
std::vector<T> random_values(std::mt19937_64& rng, std::size_t count) {
  std::uniform_real_distribution<T> value(-4, 4);
  std::uniform_int_distribution<int> kind(0, 19);
  std::vector<T> v(count);
  for (T& x : v) {
    int const k = kind(rng);
    x = k == 0 ? T(0) : k == 1 ? -T(0) : k == 2 ? std::numeric_limits<T>::quiet_NaN() : value(rng);
  }
  return v;
}

template <class T>
::testing::AssertionResult same_prefix(std::vector<T> const& got, std::vector<T> const& want, int count,
                                       char const* lanes) {
  for (int i = 0; i < count; ++i) {
    if (bits(got[i]) != bits(want[i])) {
      return ::testing::AssertionFailure() << lanes << " lanes differ at slot " << i << ": 0x" << std::hex
                                           << bits(got[i]) << " vs 0x" << bits(want[i]);
    }
  }
  return ::testing::AssertionSuccess();
}

class VectorPassTest : public BackendTest {
 protected:
  // One buffer holds xs, ys and the output; `shift` places the output
  // relative to xs (0 means disjoint, past both inputs).
  template <class T>
  void compare_signed_values(std::mt19937_64& rng, int n, int shift) {
    std::vector<T> buffer = random_values<T>(rng, 4 * 128);
    std::vector<T> const params = random_values<T>(rng, 3);
    Plane<T, 2> const p{{params[0], params[1]}, params[2], 1};
    std::size_t const xs = 128, ys = 256, out = shift == 0 ? 384 : xs + shift;
    std::vector<T> want = buffer;
    int const want_k = reference_signed_values(n, &want[xs], &want[ys], p, &want[out]);
    int const got_k = ops<T>().signed_values(n, &buffer[xs], &buffer[ys], p, &buffer[out]);
    SCOPED_TRACE(::testing::Message() << precision_name<T>() << ", n " << n << ", shift " << shift);
    EXPECT_EQ(got_k, want_k);
    EXPECT_TRUE(same_prefix(buffer, want, static_cast<int>(buffer.size()), backend().lanes));
  }

  // The output is written into the plane record itself and on past it.
  template <class T>
  void compare_signed_values_over_plane(std::mt19937_64& rng, int n) {
    struct Arena {
      Plane<T, 2> plane;
      T after[64];
    };
    std::vector<T> const xs = random_values<T>(rng, n), ys = random_values<T>(rng, n);
    Arena got;
    std::memset(&got, 0, sizeof got);
    got.plane = {{T(0.5), T(-1)}, T(0.25), 3};
    Arena want;
    std::memcpy(&want, &got, sizeof got);
    int const want_k = reference_signed_values(n, xs.data(), ys.data(), want.plane, want.plane.normal.data());
    int const got_k = ops<T>().signed_values(n, xs.data(), ys.data(), got.plane, got.plane.normal.data());
    SCOPED_TRACE(::testing::Message() << precision_name<T>() << ", n " << n);
    EXPECT_EQ(got_k, want_k);
    EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << backend().lanes << " lanes";
  }

  // Lines of a polygon in one buffer; the three outputs sit apart, or start
  // `shift` slots after xs so that they overwrite vertices still to be read.
  template <class T>
  void compare_edge_lines(std::mt19937_64& rng, int n, int shift) {
    std::vector<T> buffer = random_values<T>(rng, 6 * 128);
    std::size_t const xs = 128, ys = 256;
    std::size_t const nx = shift == 0 ? 384 : xs + shift, ny = shift == 0 ? 512 : ys + shift, off = 640;
    std::vector<T> want = buffer;
    reference_edge_lines(n, &want[xs], &want[ys], &want[nx], &want[ny], &want[off]);
    ops<T>().edge_lines(n, &buffer[xs], &buffer[ys], &buffer[nx], &buffer[ny], &buffer[off]);
    SCOPED_TRACE(::testing::Message() << precision_name<T>() << ", n " << n << ", shift " << shift);
    EXPECT_TRUE(same_prefix(buffer, want, static_cast<int>(buffer.size()), backend().lanes));
  }
};

TEST_P(VectorPassTest, SignedValuesMatchTheScalarLoop) {
  std::mt19937_64 rng(20240611);
  for (int n = 0; n <= 100; ++n) {
    for (int shift : {0, -3, -1, 1, 2, 5, 128}) {
      compare_signed_values<double>(rng, n, shift);
      compare_signed_values<float>(rng, n, shift);
    }
  }
}

TEST_P(VectorPassTest, SignedValuesWrittenOverThePlaneMatchTheScalarLoop) {
  std::mt19937_64 rng(7);
  for (int n = 0; n <= 40; ++n) {
    compare_signed_values_over_plane<double>(rng, n);
    compare_signed_values_over_plane<float>(rng, n);
  }
}

TEST_P(VectorPassTest, EdgeLinesMatchTheScalarLoop) {
  std::mt19937_64 rng(99);
  for (int n = 0; n <= 100; ++n) {
    for (int shift : {0, -2, 1, 3, 128}) {
      compare_edge_lines<double>(rng, n, shift);
      compare_edge_lines<float>(rng, n, shift);
    }
  }
}

VORN_INSTANTIATE_FOR_BACKENDS(VectorPassTest);

}  // namespace
}  // namespace vorn::test
