// vorn::host::image_mass with the real unit: a mass that comes out NaN or
// infinite is refused, with the value to blame or as an overflow, and large
// but finite images are still answered.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "vorn/host/image_mass.hpp"

namespace vorn {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr std::array<double, 9> identity{1, 0, 0, 0, 1, 0, 0, 0, 1};

double mass_of(const std::vector<double>& values, const std::array<long long, 3>& extents,
               const std::array<double, 9>& axes) {
  return host::image_mass(values, extents, axes);
}

// what() of the Error that image_mass throws, or a note saying what it did instead.
template <class Error>
std::string refusal(const std::vector<double>& values, const std::array<long long, 3>& extents,
                    const std::array<double, 9>& axes) {
  try {
    return "accepted, mass " + std::to_string(mass_of(values, extents, axes));
  } catch (const Error& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("another exception: ") + e.what();
  }
}

// Regression: a sum past the double range used to come back as inf.
TEST(ImageMassResult, AnOverflowingSumIsARangeError) {
  const std::string overflow =
      "image mass overflows: the sum of values times voxel volume is beyond the double range";
  EXPECT_EQ(refusal<std::range_error>({1e308, 1e308}, {1, 1, 2}, identity), overflow);
  EXPECT_EQ(refusal<std::range_error>({-1e308, 0.0, -1e308}, {1, 3, 1}, identity), overflow);
  // One term alone: a finite value times a finite volume.
  EXPECT_EQ(refusal<std::range_error>({1e300}, {1, 1, 1}, {1e4, 0, 0, 0, 1e4, 0, 0, 0, 1e4}), overflow);
  // inf - inf in the running sum: NaN, from finite values only.
  EXPECT_EQ(refusal<std::range_error>({1e308, 1e308, -1e308, -1e308, -1e308}, {5, 1, 1}, identity), overflow);
}

TEST(ImageMassResult, ANonFiniteValueIsNamedByItsVoxel) {
  std::vector<double> values(2 * 3 * 4, 1.0);
  values[1 * 12 + 2 * 4 + 3] = nan;
  EXPECT_EQ(refusal<std::invalid_argument>(values, {2, 3, 4}, identity),
            "image value at voxel (1, 2, 3) is not a finite number");
  values.assign(values.size(), 1.0);
  values[5] = inf;
  values[7] = -inf;  // the sum is NaN; the first culprit is named
  EXPECT_EQ(refusal<std::invalid_argument>(values, {2, 3, 4}, identity),
            "image value at voxel (0, 1, 1) is not a finite number");
  // inf times a volume of 0 is NaN: still the value's fault.
  EXPECT_EQ(refusal<std::invalid_argument>({inf, 1.0}, {1, 1, 2}, {1, 2, 3, 1, 2, 3, 0, 1, 0}),
            "image value at voxel (0, 0, 0) is not a finite number");
}

// Near the limits, but every partial sum and the volume finite: answered.
TEST(ImageMassResult, LargeFiniteMassesAreReturned) {
  EXPECT_EQ(mass_of({1e308, -1e308, 1e308}, {3, 1, 1}, identity), 1e308);
  EXPECT_EQ(mass_of({1.0}, {1, 1, 1}, {1e102, 0, 0, 0, 1e102, 0, 0, 0, 1e102}), 1e102 * 1e102 * 1e102);
  EXPECT_EQ(mass_of({std::numeric_limits<double>::max()}, {1, 1, 1}, identity),
            std::numeric_limits<double>::max());
}

// A minor near 1e308 times a tiny entry: the volume is moderate and the axes
// are accepted, with the unit's answer to the bit.
TEST(ImageMassResult, AxesWithHugeButFiniteMinorsAreAccepted) {
  const std::array<double, 9> axes{1e-200, 0, 0, 0, 1e154, 1e154, 0, 0, 1e154};
  const double volume = 1e-200 * (1e154 * 1e154);
  const double mass = mass_of({2.0, 2.0}, {1, 1, 2}, axes);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(mass), std::bit_cast<std::uint64_t>(2.0 * volume + 2.0 * volume));
}

}  // namespace
}  // namespace vorn
