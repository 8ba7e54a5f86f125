// The weight majorant of a node, through the weighted unit's real entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "level_call.hpp"

namespace vorn {
namespace {

using host::BspUnit;

struct Majorant {
  double gx, gy, offset;
};

// The root node's majorant over the given points and weights (never split).
Majorant majorant_of(const std::vector<double>& xy, const std::vector<double>& w) {
  const long long n = static_cast<long long>(w.size());
  testing::LevelCall call(BspUnit::weighted_2d, xy, {0}, {n}, n);
  call.weights = w;
  call.run();
  EXPECT_EQ(call.node_split, (std::vector<long long>{n}));
  for (long long k = 0; k < n; ++k) {
    const double bound = (call.majorant_gradient[0] * xy[2 * k] + call.majorant_gradient[1] * xy[2 * k + 1]) +
                         call.majorant_offset[0];
    EXPECT_LE(w[k], bound) << "point " << k;
  }
  return {call.majorant_gradient[0], call.majorant_gradient[1], call.majorant_offset[0]};
}

// The flat bound: wmax + 1e-6·(wr + |wmax|), the margin's product and sum fused.
double flat_offset(const std::vector<double>& w) {
  const double wmax = *std::max_element(w.begin(), w.end());
  const double wr = wmax - *std::min_element(w.begin(), w.end());
  return std::fma(1.0e-6, wr + std::fabs(wmax), wmax);
}

void expect_flat(const Majorant& m, const std::vector<double>& w) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(m.gx), 0u);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(m.gy), 0u);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(m.offset), std::bit_cast<std::uint64_t>(flat_offset(w)));
}

std::vector<double> random_points(int count, unsigned seed, double shift = 0.0) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> xy;
  for (int k = 0; k < 2 * count; ++k) xy.push_back(shift + unit(rng));
  return xy;
}

std::vector<double> affine_weights(const std::vector<double>& xy, double a, double b, double c) {
  std::vector<double> w;
  for (std::size_t k = 0; k + 1 < xy.size(); k += 2) w.push_back(a * xy[k] + b * xy[k + 1] + c);
  return w;
}

TEST(BspMajorant, FiveOrFewerPointsGetTheFlatBound) {
  for (int count = 1; count <= 5; ++count) {
    const auto xy = random_points(count, 10 + count);
    const auto w = affine_weights(xy, 3.0, -2.0, 5.0);
    expect_flat(majorant_of(xy, w), w);
  }
}

TEST(BspMajorant, EqualWeightsGetTheFlatBound) {
  const auto xy = random_points(40, 3);
  for (const double value : {-3.5, 0.0, 2.0e5}) {
    const std::vector<double> w(40, value);
    const Majorant m = majorant_of(xy, w);
    expect_flat(m, w);
    EXPECT_EQ(m.offset, std::fma(1.0e-6, std::fabs(value), value));
  }
}

TEST(BspMajorant, ExactAffineWeightsRecoverTheirSlope) {
  const auto xy = random_points(30, 7);
  const auto w = affine_weights(xy, 3.0, -2.0, 5.0);
  const Majorant m = majorant_of(xy, w);
  EXPECT_NEAR(m.gx, 3.0, 1e-12);
  EXPECT_NEAR(m.gy, -2.0, 1e-12);
  // Only the margin, about 1e-6 of (|g·x| + range + |T|) <= 1e-6·(5 + 5 + 5), lies above 5.
  EXPECT_GT(m.offset, 5.0);
  EXPECT_LT(m.offset, 5.0 + 1.5e-5);
}

TEST(BspMajorant, SingularFitsFallBackToTheFlatBound) {
  std::vector<double> diagonal, vertical;
  // Eight points: the means are exact, so the centred x of a vertical line are exactly 0.
  for (int k = 0; k < 8; ++k) {
    diagonal.insert(diagonal.end(), {0.125 * k, 0.125 * k});
    vertical.insert(vertical.end(), {0.5, 0.25 * k});
  }
  for (const auto& xy : {diagonal, vertical}) {
    const auto w = affine_weights(xy, 1.0, 2.0, 0.0);
    expect_flat(majorant_of(xy, w), w);
  }
}

TEST(BspMajorant, SlopeFarFromTheOriginIsRejected) {
  const auto near = random_points(30, 11);
  const auto w = affine_weights(near, 3.0, -2.0, 5.0);
  EXPECT_NE(majorant_of(near, w).gx, 0.0);  // the same weights near the origin keep their slope
  const auto far = random_points(30, 11, 1.0e6);
  expect_flat(majorant_of(far, w), w);
}

TEST(BspMajorant, CheckerboardFailsTheSpreadTest) {
  std::vector<double> xy, w;
  for (int x = 0; x < 3; ++x) {
    for (int y = 0; y < 3; ++y) {
      xy.insert(xy.end(), {double(x), double(y)});
      w.push_back((x + y) % 2 == 1 ? 1.0 : 0.0);
    }
  }
  const Majorant m = majorant_of(xy, w);
  expect_flat(m, w);
  EXPECT_EQ(m.offset, std::fma(1.0e-6, 2.0, 1.0));
}

}  // namespace
}  // namespace vorn
