// The drivers' state machine, fed by a scripted provider that hands out a
// fixed list of planes and records which state each request came from.
#include <cmath>
#include <vector>

#include "engine/drivers.hpp"
#include "engine_support.hpp"
#include "support/precisions.hpp"

namespace vorn::test {
namespace {

// Recorded states: N for a register state of size N, 0 for a bounded cell in
// memory, -1 for an unbounded one.
constexpr int memory_bounded = 0;
constexpr int memory_unbounded = -1;

template <class T>
struct ScriptedProvider {
  struct Local {
    std::size_t taken;
  };
  std::vector<Plane<T, 2>> planes;
  std::vector<int> states;

  bool hand_out(Local& local, Plane<T, 2>& plane) {
    if (local.taken == planes.size()) return false;
    plane = planes[local.taken++];
    return true;
  }
  bool next(StateMem<T> const& s, Local& local, Plane<T, 2>& plane) {
    states.push_back(s.bounded ? memory_bounded : memory_unbounded);
    return hand_out(local, plane);
  }
  template <int N>
  bool next(StateReg<T, N> const&, Local& local, Plane<T, 2>& plane) {
    states.push_back(N);
    return hand_out(local, plane);
  }
};

// Regular n-gon of radius 1, vertex i at angle 2πi/n, edge ids 100 + i.
template <class T>
void set_regular(TestCell<T>& c, int n) {
  std::vector<T> x, y;
  std::vector<std::int32_t> id;
  for (int i = 0; i < n; ++i) {
    x.push_back(T(std::cos(2 * M_PI * i / n)));
    y.push_back(T(std::sin(2 * M_PI * i / n)));
    id.push_back(100 + i);
  }
  c.set(x, y, id);
}

// The half-plane normal·p <= depth with its normal toward vertex position
// `at` (fractional between vertices) of the regular n-gon.
template <class T>
Plane<T, 2> cap(int n, double at, double depth, std::int32_t id) {
  double const angle = 2 * M_PI * at / n;
  return {{T(std::cos(angle)), T(std::sin(angle))}, T(depth), id};
}

template <class T>
double area(TestCell<T> const& c) {
  double a = 0;
  int const n = c.cell.vertex_count;
  for (int i = 0; i < n; ++i) {
    int const j = (i + 1) % n;
    a += double(c.xs[i]) * c.ys[j] - double(c.xs[j]) * c.ys[i];
  }
  return a / 2;
}

// The same planes applied one by one with the general cut, as a reference.
template <class T>
TestCell<T> cut_in_memory(TestCell<T> const& start, std::vector<Plane<T, 2>> const& planes) {
  TestCell<T> c = start;
  c.resize(start.cell.vertex_capacity);
  for (auto const& p : planes) c.cell.cut(p);
  return c;
}

class Drivers : public EngineTest {};

template <class T>
void spill_and_return() {
  TestCell<T> c(16);
  set_regular(c, 8);
  // One vertex off the octagon (9 vertices, memory), then three off the
  // 9-gon (8 vertices, registers again).
  std::vector<Plane<T, 2>> const planes{cap<T>(8, 0, 0.95, 1), cap<T>(8, 4, 0.3, 2)};
  TestCell<T> const want = cut_in_memory(c, {planes[0], planes[1]});
  TestCell<T> const nine = cut_in_memory(c, {planes[0]});
  ASSERT_EQ(nine.cell.vertex_count, 9);
  ASSERT_LE(want.cell.vertex_count, 8);
  ScriptedProvider<T> provider{planes, {}};
  typename ScriptedProvider<T>::Local local{};
  ASSERT_EQ(run_2d_registers<T>(c.cell, provider, local), 0);
  EXPECT_EQ(provider.states, (std::vector<int>{8, memory_bounded, want.cell.vertex_count}));
  EXPECT_EQ(c.cell.vertex_count, want.cell.vertex_count);
  EXPECT_NEAR(area(c), area(want), 1e-5);
}

TEST_P(Drivers, EightVerticesSpillToMemoryForANinthAndReturnAtEight) {
  for_each_precision([]<class T> { spill_and_return<T>(); });
}

template <class T>
void memory_until_small() {
  TestCell<T> c(16);
  set_regular(c, 10);
  // Two vertices off (still 10), five off (7: registers), then one far away.
  std::vector<Plane<T, 2>> const planes{cap<T>(10, 0.5, 0.9, 1), cap<T>(10, 5, 0.2, 2), {{1, 0}, 5, 3}};
  ScriptedProvider<T> provider{planes, {}};
  typename ScriptedProvider<T>::Local local{};
  ASSERT_EQ(run_2d_registers<T>(c.cell, provider, local), 0);
  TestCell<T> const want = cut_in_memory(c, planes);
  EXPECT_EQ(provider.states, (std::vector<int>{memory_bounded, memory_bounded, 7, 7}));
  EXPECT_EQ(c.cell.vertex_count, 7);
  EXPECT_NEAR(area(c), area(want), 1e-5);
}

TEST_P(Drivers, CellOfTenVerticesIsCutInMemoryUntilItFitsTheLanes) {
  for_each_precision([]<class T> { memory_until_small<T>(); });
}

template <class T>
void register_sizes_follow_the_cuts() {
  TestCell<T> c(8);
  c.set({0, 2, 0}, {0, 0, 2}, {1, 2, 3});
  // Triangle: one vertex off (4), a touching plane (4), two off (4), all
  // off; the fifth plane is never asked for.
  std::vector<Plane<T, 2>> const planes{
      {{1, 0}, 1, 9}, {{-1, 0}, 0, 8}, {{1, 0}, T(0.5), 7}, {{1, 1}, -1, 6}, {{1, 0}, 5, 5}};
  ScriptedProvider<T> provider{planes, {}};
  typename ScriptedProvider<T>::Local local{};
  ASSERT_EQ(run_2d_registers<T>(c.cell, provider, local), 0);
  EXPECT_EQ(provider.states, (std::vector<int>{3, 4, 4, 4}));
  EXPECT_EQ(c.cell.vertex_count, 0);
  EXPECT_EQ(local.taken, 4u) << "the run ends at the emptying plane";
}

TEST_P(Drivers, RegisterSizeFollowsEachCutAndAnEmptyCellEndsTheRun) {
  for_each_precision([]<class T> { register_sizes_follow_the_cuts<T>(); });
}

template <class T>
void exhausted_in_registers_stores_the_lanes() {
  TestCell<T> c(8);
  c.set({0, 2, 0}, {0, 0, 2}, {1, 2, 3});
  ScriptedProvider<T> provider{{{{1, 0}, 1, 9}}, {}};
  typename ScriptedProvider<T>::Local local{};
  ASSERT_EQ(run_2d_registers<T>(c.cell, provider, local), 0);
  ASSERT_EQ(c.cell.vertex_count, 4);
  std::vector<T> const x{0, 0, 1, 1}, y{2, 0, 0, 1};
  std::vector<std::int32_t> const id{3, 1, 9, 2};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(bits(c.xs[i]), bits(x[i])) << i;
    EXPECT_EQ(bits(c.ys[i]), bits(y[i])) << i;
    EXPECT_EQ(c.ids[i], id[i]) << i;
  }
}

TEST_P(Drivers, ExhaustedProviderLeavesTheRegisterPolygonInTheArrays) {
  for_each_precision([]<class T> { exhausted_in_registers_stores_the_lanes<T>(); });
}

template <class T>
void capacity_failures() {
  TestCell<T> small(7);
  small.set_box(0, 0, 1, 1);
  std::vector<T> const xs = small.xs;
  ScriptedProvider<T> provider{{{{1, 0}, T(0.5), 9}}, {}};
  typename ScriptedProvider<T>::Local local{};
  EXPECT_EQ(run_2d_registers<T>(small.cell, provider, local), 3);
  EXPECT_TRUE(provider.states.empty()) << "no plane may be taken";
  EXPECT_EQ(small.cell.vertex_count, 4);
  EXPECT_EQ(small.xs, xs);

  // The octagon spills for a ninth vertex that eight slots cannot hold: the
  // cell keeps the octagon; with larger arrays the same plane then cuts it.
  TestCell<T> c(8);
  set_regular(c, 8);
  std::vector<Plane<T, 2>> const planes{cap<T>(8, 0, 0.95, 1)};
  ScriptedProvider<T> first{planes, {}};
  typename ScriptedProvider<T>::Local first_local{};
  EXPECT_EQ(run_2d_registers<T>(c.cell, first, first_local), 3);
  EXPECT_EQ(c.cell.vertex_count, 8);
  c.resize(12);
  ScriptedProvider<T> again{planes, {}};
  typename ScriptedProvider<T>::Local again_local{};
  EXPECT_EQ(run_2d_registers<T>(c.cell, again, again_local), 0);
  EXPECT_EQ(c.cell.vertex_count, 9);
}

TEST_P(Drivers, TooFewSlotsReturnThreeAndLargerArraysFinishTheCell) {
  for_each_precision([]<class T> { capacity_failures<T>(); });
}

template <class T>
void unbounded_then_bounded() {
  TestCell<T> c(16);
  c.set_box(-1, -1, 1, 1, true);
  // Four planes close the cell; the fifth is for the bounded phase.
  std::vector<Plane<T, 2>> const planes{{{1, 0}, 2, 1}, {{0, 1}, 2, 2}, {{-1, 0}, 2, 3}, {{0, -1}, 2, 4},
                                        {{1, 1}, 3, 5}};
  ScriptedProvider<T> provider{planes, {}};
  typename ScriptedProvider<T>::Local local{};
  ASSERT_EQ(run_memory_while_unbounded(c.cell, provider, local), 0);
  EXPECT_FALSE(c.cell.unbounded);
  EXPECT_EQ(local.taken, 4u) << "the unbounded phase stops once the cell is bounded";
  ASSERT_EQ(run_2d_registers<T>(c.cell, provider, local), 0);
  EXPECT_EQ(provider.states, (std::vector<int>{memory_unbounded, memory_unbounded, memory_unbounded,
                                               memory_unbounded, 4, 5}));
  EXPECT_EQ(c.cell.vertex_count, 5);
  EXPECT_NEAR(area(c), 16 - 0.5, 1e-4);
}

TEST_P(Drivers, CellBoundedDuringTheUnboundedPhaseContinuesTheSameTraversalInRegisters) {
  for_each_precision([]<class T> { unbounded_then_bounded<T>(); });
}

template <class T>
void two_vertex_cell_stays_in_memory() {
  TestCell<T> c(8);
  c.set({0, 1}, {0, 0}, {1, 2});
  ScriptedProvider<T> provider{{{{1, 0}, T(0.5), 9}}, {}};
  typename ScriptedProvider<T>::Local local{};
  ASSERT_EQ(run_2d_registers<T>(c.cell, provider, local), 0);
  EXPECT_EQ(provider.states, (std::vector<int>{memory_bounded, 3}));
  EXPECT_EQ(c.cell.vertex_count, 3);
}

TEST_P(Drivers, CellOfTwoVerticesIsCutInMemoryNotInLanes) {
  for_each_precision([]<class T> { two_vertex_cell_stays_in_memory<T>(); });
}

VORN_ENGINE_TEST_SUITE(Drivers);

}  // namespace
}  // namespace vorn::test
