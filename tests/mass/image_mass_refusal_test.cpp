// What vorn::host::image_mass refuses, or answers, without running the unit.
// Every test here runs with VORN_LIB_DIR naming a directory that holds no
// unit, and no test of this program ever loads one: a call that reached the
// unit would throw std::runtime_error ("cannot load") instead of giving the
// answer expected. A separate program for that reason.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
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
constexpr long long two_to_32 = 4294967296LL;

class WithoutUnits : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("VORN_LIB_DIR", "/nonexistent/vorn-without-units", 1); }
};

struct Refused {
  const char* name;
  std::array<long long, 3> extents;
  std::array<double, 9> axes;
  std::size_t values;  // how many values are passed
  const char* message;  // a part of what() that names the problem
};

// Rows refused with std::invalid_argument. The stride rows are regressions:
// the unit multiplied 8·n2·n1 out in signed 64 bits (undefined behaviour)
// before it looked at the 0 in front.
const Refused refused[] = {
    {"negative extent", {2, -1, 2}, identity, 0, "image extent 1 is negative: -1"},
    {"element count past 2^63 in front of a 0", {0, 3037000500, 3037000500}, identity, 0,
     "image extents 0 x 3037000500 x 3037000500 overflow the signed 64-bit byte strides of the image (at axis 1)"},
    {"byte stride past 2^63, element count within", {0, 1LL << 31, 1LL << 31}, identity, 0,
     "overflow the signed 64-bit byte strides of the image (at axis 1)"},
    {"last axis alone past 2^60 elements", {1, 1, (1LL << 60) + 1}, identity, 0,
     "overflow the signed 64-bit byte strides of the image (at axis 2)"},
    {"whole image past 2^63 bytes", {1LL << 20, 1LL << 20, 1LL << 20}, identity, 0,
     "overflow the signed 64-bit byte strides of the image (at axis 0)"},
    {"too few values", {2, 2, 2}, identity, 7, "image extents 2 x 2 x 2 need 8 values, got 7"},
    {"values for an empty image", {2, 0, 2}, identity, 1, "need 0 values, got 1"},
    {"NaN axis entry", {1, 1, 1}, {1, 0, 0, 0, nan, 0, 0, 0, 1}, 1, "image axes entry (1, 1) is not a finite number"},
    {"infinite axis entry", {1, 1, 1}, {1, 0, 0, 0, 1, 0, -inf, 0, 1}, 1,
     "image axes entry (2, 0) is not a finite number"},
    {"NaN axes of an empty image", {0, 4, 5}, {nan, nan, nan, nan, nan, nan, nan, nan, nan}, 0,
     "image axes entry (0, 0) is not a finite number"},
    {"voxel volume past the double range", {1, 1, 1}, {1e103, 0, 0, 0, 1e103, 0, 0, 0, 1e103}, 1,
     "image axes span a voxel volume |det| that is not a finite number"},
    // Every entry finite, but a minor is inf - inf.
    {"voxel volume NaN from overflowing minors", {1, 1, 1}, {1, 0, 0, 0, 1e200, 1e200, 0, 1e200, 1e200}, 1,
     "voxel volume |det| that is not a finite number"},
};

TEST_F(WithoutUnits, BadExtentsAndAxesAreRefusedBeforeTheUnit) {
  for (const Refused& row : refused) {
    const std::vector<double> values(row.values, 1.0);
    try {
      const double mass = host::image_mass(values, row.extents, row.axes);
      ADD_FAILURE() << row.name << ": accepted, mass " << mass;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << row.name << ": " << e.what();
    } catch (const std::exception& e) {
      ADD_FAILURE() << row.name << ": not std::invalid_argument: " << e.what();
    }
  }
}

// An empty image whose strides fit has mass 0 without the unit; (2^32, 2^32,
// 0) is one: the unit's running stride product is 0 from the last axis on.
TEST_F(WithoutUnits, EmptyImagesWhoseStridesFitHaveNoMass) {
  for (const auto& extents : {std::array<long long, 3>{0, 4, 5}, {3, 0, 5}, {3, 4, 0}, {0, 0, 0},
                              {two_to_32, two_to_32, 0}, {3037000500, 3037000500, 0}, {0, 1LL << 29, 1LL << 30}}) {
    EXPECT_EQ(host::image_mass({}, extents, identity), 0.0) << extents[0] << " x " << extents[1] << " x " << extents[2];
  }
  // Degenerate axes are finite: the empty image still has mass 0.
  EXPECT_EQ(host::image_mass({}, {0, 2, 2}, {1, 2, 3, 1, 2, 3, 0, 0, 0}), 0.0);
}

// The check above is only worth something if the unit is really out of reach.
TEST_F(WithoutUnits, AnImageWithVoxelsReachesForTheUnitAndFails) {
  const std::vector<double> values(8, 1.0);
  EXPECT_THROW(host::image_mass(values, {2, 2, 2}, identity), std::runtime_error);
}

}  // namespace
}  // namespace vorn
