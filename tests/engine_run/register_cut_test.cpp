// The eight-lane cut of a cell of 3 to 8 vertices, on this build's lanes.
#include <array>
#include <vector>

#include "engine/register_cut.hpp"
#include "engine_support.hpp"
#include "support/precisions.hpp"

namespace vorn::test {
namespace {

using Lanes = lane8::native::Backend;

template <class T, int N>
StateReg<T, N> lanes_of(std::vector<T> const& x, std::vector<T> const& y, std::vector<std::int32_t> const& id) {
  std::array<T, 8> xs{}, ys{};
  std::array<std::int32_t, 8> ids{};
  for (std::size_t i = 0; i < x.size(); ++i) xs[i] = x[i], ys[i] = y[i], ids[i] = id[i];
  return {Lanes::load(xs.data()), Lanes::load(ys.data()), Lanes::load_ids(ids.data())};
}

template <class T>
struct LaneValues {
  std::array<T, 8> x, y;
  std::array<std::int32_t, 8> id;
};

template <class T, int N>
LaneValues<T> values_of(StateReg<T, N> const& s) {
  LaneValues<T> v;
  store(v.x.data(), s.xs);
  store(v.y.data(), s.ys);
  store(v.id.data(), s.cut_ids);
  return v;
}

// Exact comparison of the first lanes with a polygon.
template <class T>
::testing::AssertionResult lanes_hold(LaneValues<T> const& v, std::vector<T> const& x, std::vector<T> const& y,
                                      std::vector<std::int32_t> const& id) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (bits(v.x[i]) != bits(x[i]) || bits(v.y[i]) != bits(y[i]) || v.id[i] != id[i]) {
      return ::testing::AssertionFailure() << "lane " << i << ": got (" << v.x[i] << ", " << v.y[i] << ") id "
                                           << v.id[i] << ", want (" << x[i] << ", " << y[i] << ") id " << id[i];
    }
  }
  return ::testing::AssertionSuccess();
}

class RegisterCut : public EngineTest {};

template <class T>
void square_worked_example() {
  auto s = lanes_of<T, 4>({0, 1, 1, 0}, {0, 0, 1, 1}, {10, 11, 12, 13});
  ASSERT_EQ(detail::cut_registers(s, Plane<T, 2>{{1, 0}, T(0.5), 7}), 4);
  EXPECT_TRUE(lanes_hold(values_of(s), {0, 0, T(0.5), T(0.5)}, {1, 0, 0, 1}, {13, 10, 7, 12}));
}

TEST_P(RegisterCut, SquareLosingTwoVerticesKeepsSizeFourStartingAfterTheRun) {
  for_each_precision([]<class T> { square_worked_example<T>(); });
}

template <class T>
void triangle_cases() {
  std::vector<T> const x{0, 2, 0}, y{0, 0, 2};
  std::vector<std::int32_t> const id{1, 2, 3};
  auto one_out = lanes_of<T, 3>(x, y, id);
  ASSERT_EQ(detail::cut_registers(one_out, Plane<T, 2>{{1, 0}, 1, 9}), 4);
  EXPECT_TRUE(lanes_hold(values_of(one_out), {0, 0, 1, 1}, {2, 0, 0, 1}, {3, 1, 9, 2}));

  // Vertices 1 and 2 outside x + y <= 1: the run wraps to neither end, q = 0.
  auto two_out = lanes_of<T, 3>(x, y, id);
  ASSERT_EQ(detail::cut_registers(two_out, Plane<T, 2>{{1, 1}, 1, 9}), 3);
  EXPECT_TRUE(lanes_hold(values_of(two_out), {0, 1, 0}, {0, 0, 1}, {1, 9, 3}));

  auto all_out = lanes_of<T, 3>(x, y, id);
  EXPECT_EQ(detail::cut_registers(all_out, Plane<T, 2>{{-1, 0}, -3, 9}), detail::register_emptied);
}

TEST_P(RegisterCut, TriangleBecomesQuadrilateralStaysTriangleOrEmpties) {
  for_each_precision([]<class T> { triangle_cases<T>(); });
}

template <class T>
void touching_planes() {
  std::vector<T> const x{0, 1, 1, 0}, y{0, 0, 1, 1};
  std::vector<std::int32_t> const id{10, 11, 12, 13};
  // Along the right edge: every J <= 0, nothing moves.
  auto edge = lanes_of<T, 4>(x, y, id);
  ASSERT_EQ(detail::cut_registers(edge, Plane<T, 2>{{1, 0}, 1, 7}), 4);
  EXPECT_TRUE(lanes_hold(values_of(edge), x, y, id));
  // Through vertices 1 and 3: only vertex 2 is outside, both neighbours lie
  // on the plane, so A and B repeat them (two zero-length edges).
  auto corner = lanes_of<T, 4>(x, y, id);
  ASSERT_EQ(detail::cut_registers(corner, Plane<T, 2>{{1, 1}, 1, 7}), 5);
  EXPECT_TRUE(lanes_hold(values_of(corner), {0, 0, 1, 1, 0}, {1, 0, 0, 0, 1}, {13, 10, 11, 7, 12}));
}

TEST_P(RegisterCut, PlanesThatTouchLeaveTheCellOrRepeatTheTouchedVertex) {
  for_each_precision([]<class T> { touching_planes<T>(); });
}

template <class T>
std::vector<T> octagon_coordinate(int axis) {
  std::vector<T> v;
  for (int i = 0; i < 8; ++i) {
    double const angle = 2 * M_PI * i / 8;
    v.push_back(T(axis == 0 ? std::cos(angle) : std::sin(angle)));
  }
  return v;
}

template <class T>
void octagon_cases() {
  std::vector<T> const x = octagon_coordinate<T>(0), y = octagon_coordinate<T>(1);
  std::vector<std::int32_t> const id{0, 1, 2, 3, 4, 5, 6, 7};
  // One vertex outside would need a ninth lane: the lanes stay as they were.
  auto one = lanes_of<T, 8>(x, y, id);
  ASSERT_EQ(detail::cut_registers(one, Plane<T, 2>{{1, 0}, T(0.9), 9}), detail::register_spill);
  EXPECT_TRUE(lanes_hold(values_of(one), x, y, id));
  // Two vertices outside (0 and 1): the size stays 8, vertex 2 comes first.
  auto two = lanes_of<T, 8>(x, y, id);
  ASSERT_EQ(detail::cut_registers(two, Plane<T, 2>{{T(0.92), T(0.38)}, T(0.9), 9}), 8);
  auto const v = values_of(two);
  EXPECT_TRUE(lanes_hold(v, {x[2], x[3], x[4], x[5], x[6], x[7]}, {y[2], y[3], y[4], y[5], y[6], y[7]},
                         {2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(v.id[6], 9);
  EXPECT_EQ(v.id[7], 1);
}

TEST_P(RegisterCut, OctagonSpillsForANinthVertexAndKeepsItsSizeForTwo) {
  for_each_precision([]<class T> { octagon_cases<T>(); });
}

// Rounding can leave outside vertices in two runs; the lanes cannot express
// that cut, so it goes to the general cut untouched.
template <class T>
void two_runs() {
  std::vector<T> const x{0, 1, 2, 1}, y{0, -1, 0, 1};
  std::vector<std::int32_t> const id{1, 2, 3, 4};
  auto s = lanes_of<T, 4>(x, y, id);
  ASSERT_EQ(detail::cut_registers(s, Plane<T, 2>{{0, -1}, T(0.5), 9}), 5);  // vertex 1 only
  auto split = lanes_of<T, 4>({0, 1, 2, 1}, {0, 1, 0, 1}, id);              // not convex: 1 and 3 outside
  ASSERT_EQ(detail::cut_registers(split, Plane<T, 2>{{0, 1}, T(0.5), 9}), detail::register_spill);
  EXPECT_TRUE(lanes_hold(values_of(split), {0, 1, 2, 1}, {0, 1, 0, 1}, id));
}

TEST_P(RegisterCut, SeparateOutsideRunsSpillWithTheLanesUnchanged) {
  for_each_precision([]<class T> { two_runs<T>(); });
}

VORN_ENGINE_TEST_SUITE(RegisterCut);

}  // namespace
}  // namespace vorn::test
