// The image mass unit through its real exported entry and the real runtime.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "../support/mass_call.hpp"

namespace vorn {
namespace {

const host::UnitLibrary& mass_unit() {
  static const host::UnitLibrary unit(units::unit_image_mass_3d.library, units::unit_image_mass_3d.symbol);
  return unit;
}

double mass_of(testing::MassCall& call) {
  EXPECT_EQ(call.run(mass_unit()), 0);
  return call.mass;
}

// The sum written out independently: voxels in row-major order, widths of 1.
double sequential_mass(const testing::MassCall& call) {
  const auto& a = call.axes;
  const double c0 = a[4] * a[8] - a[7] * a[5];
  const double c1 = a[1] * a[8] - a[7] * a[2];
  const double c2 = a[1] * a[5] - a[4] * a[2];
  const double volume = std::fabs(a[6] * c2 + (a[0] * c0 - a[3] * c1));
  double sum = 0.0;
  for (const double v : call.values) sum = sum + (((1.0 * 1.0) * 1.0) * v) * volume;
  return sum;
}

TEST(ImageMass, OnesUnderIdentityAxesCountTheVoxels) {
  testing::MassCall call(3, 4, 5);
  EXPECT_EQ(mass_of(call), 60.0);
}

TEST(ImageMass, ZeroExtentGivesZeroWhateverTheAxes) {
  for (const auto& extents : {std::array<long long, 3>{0, 4, 5}, {3, 0, 5}, {3, 4, 0}}) {
    testing::MassCall call(extents[0], extents[1], extents[2]);
    call.axes.fill(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(std::bit_cast<std::uint64_t>(mass_of(call)), std::bit_cast<std::uint64_t>(0.0));
  }
}

TEST(ImageMass, OrientationOfTheAxesDoesNotMatter) {
  testing::MassCall call(2, 3, 2, 0.25);
  call.axes = {2, 0.5, 0, 0, 3, 1, 0.25, 0, 1.5};
  const double reference = mass_of(call);
  EXPECT_GT(reference, 0.0);

  auto swapped = call;
  std::swap_ranges(swapped.axes.begin(), swapped.axes.begin() + 3, swapped.axes.begin() + 3);
  EXPECT_DOUBLE_EQ(mass_of(swapped), reference);

  auto negated = call;
  for (int k = 6; k < 9; ++k) negated.axes[static_cast<std::size_t>(k)] = -negated.axes[static_cast<std::size_t>(k)];
  EXPECT_EQ(mass_of(negated), reference);
}

TEST(ImageMass, EqualRowsSpanNoVolume) {
  testing::MassCall call(2, 2, 2, 3.0);
  call.axes = {1, 2, 3, 1, 2, 3, 0, 1, 0};
  EXPECT_EQ(mass_of(call), 0.0);
}

TEST(ImageMass, NaNInValuesOrAxesPropagates) {
  testing::MassCall in_values(2, 2, 2);
  in_values.values[5] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(mass_of(in_values)));
  testing::MassCall in_axes(2, 2, 2);
  in_axes.axes[4] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(mass_of(in_axes)));
}

TEST(ImageMass, OriginScalarAndShapeVariableHaveNoInfluence) {
  testing::MassCall call(3, 2, 2, 0.5);
  call.axes = {0.5, 0, 0, 0, 0.25, 0, 0, 0, 2};
  const double reference = mass_of(call);
  call.origin = {1e300, -7, 3};
  call.scalar_in = std::numeric_limits<double>::quiet_NaN();
  call.shape_var_storage.assign(4, 123);
  call.shape_var_value = -99;
  EXPECT_EQ(mass_of(call), reference);
}

TEST(ImageMass, BitIdenticalToTheSequentialSum) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> value(-1e3, 1e3);
  for (const auto& extents : {std::array<long long, 3>{1, 1, 1}, {7, 5, 3}, {16, 17, 33}, {64, 1, 129}}) {
    testing::MassCall call(extents[0], extents[1], extents[2]);
    for (double& v : call.values) v = value(rng);
    for (double& a : call.axes) a = value(rng) * 1e-3;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(mass_of(call)), std::bit_cast<std::uint64_t>(sequential_mass(call)))
        << extents[0] << "x" << extents[1] << "x" << extents[2];
  }
}

TEST(ImageMass, EntryClearsStatusAndOverwritesGarbage) {
  testing::MassCall call(2, 2, 2);
  call.status.assign(5, -12345);
  call.mass = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(mass_of(call), 8.0);
  EXPECT_EQ(call.status, std::vector<int>(5, 0));
}

TEST(ImageMass, ConcurrentCallersGetTheirOwnResults) {
  std::vector<testing::MassCall> calls;
  for (int i = 0; i < 8; ++i) calls.emplace_back(4, 4, i + 1);
  std::vector<std::thread> threads;
  for (auto& call : calls) threads.emplace_back([&call] { call.run(mass_unit()); });
  for (auto& t : threads) t.join();
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].mass, 16.0 * static_cast<double>(i + 1));
}

}  // namespace
}  // namespace vorn
