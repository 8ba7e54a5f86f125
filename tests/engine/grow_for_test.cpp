// Growth of unbounded cells toward a plane.
#include <cmath>

#include "cell_fixture.hpp"

namespace vorn::test {
namespace {

// The square (±1, ±1) with every edge infinite and no lines yet.
template <class T>
TestCell<T> infinite_square() {
  TestCell<T> c(8);
  c.set_polygon({-1, 1, 1, -1}, {-1, -1, 1, 1}, std::vector<std::int32_t>(4, infinite_cut_id));
  c.cell.unbounded = true;
  return c;
}

template <class T>
Plane<T, 2> plane(T nx, T ny, T offset) {
  return {{nx, ny}, offset, 99};
}

class GrowForTest : public BackendTest {};

// Lines from the vertices, directions along the diagonals, one crossing at
// t = 8 and the margin: s = 8 + 9·margin in the cell's precision.
template <class T>
void expect_worked_example(CellOps<T> const& ops, T far, T offset) {
  SCOPED_TRACE(precision_name<T>());
  TestCell<T> c = infinite_square<T>();
  ops.grow_for(c.cell, plane<T>(1, 0, 5));
  EXPECT_TRUE(c.cell.edge_lines_valid);
  EXPECT_TRUE(same_bits(c.cell.edge_nx, std::vector<T>{0, 2, 0, -2}));
  EXPECT_TRUE(same_bits(c.cell.edge_ny, std::vector<T>{-2, 0, 2, 0}));
  EXPECT_TRUE(same_bits(c.cell.grow_dx, std::vector<T>{-0.5, 0.5, 0.5, -0.5}));
  EXPECT_TRUE(same_bits(c.cell.grow_dy, std::vector<T>{-0.5, -0.5, 0.5, 0.5}));
  EXPECT_TRUE(same_bits(c.cell.xs, std::vector<T>{-far, far, far, -far}));
  EXPECT_TRUE(same_bits(c.cell.ys, std::vector<T>{-far, -far, far, far}));
  EXPECT_TRUE(same_bits(c.cell.edge_offset, std::vector<T>(4, offset)));
  EXPECT_EQ(c.cell.vertex_count, 4);
  EXPECT_TRUE(c.cell.unbounded);
}

TEST_P(GrowForTest, WorkedExampleIsBitExact) {
  expect_worked_example<double>(ops<double>(), 5.0000045, 10.000009);
  // float: s = 0x1.0000bcp+3 = 8.0000896...
  expect_worked_example<float>(ops<float>(), 0x1.4000bcp+2f, 0x1.4000bcp+3f);
}

TEST_P(GrowForTest, NothingMovesWithoutInfiniteEdgesOrCrossings) {
  // "Nothing moves" is bit-exact: even a -0 coordinate keeps its sign.
  TestCell<double> bounded = infinite_square<double>();
  for (auto& id : bounded.ids) id = 1;
  bounded.xs[0] = -0.0;
  bounded.cell.unbounded = false;
  ops<double>().grow_for(bounded.cell, plane<double>(1, 0, 5));
  EXPECT_TRUE(bounded.cell.edge_lines_valid);
  EXPECT_TRUE(same_bits(bounded.cell.edge_nx, std::vector<double>{0, 2, 0, -2}));
  EXPECT_TRUE(same_bits(bounded.cell.edge_ny, std::vector<double>{-1.0, 0, 2, -1.0}));
  EXPECT_TRUE(same_bits(bounded.cell.xs, std::vector<double>{-0.0, 1, 1, -1}));

  // x <= 0 lies between the receding corners: every crossing is behind them.
  TestCell<float> behind = infinite_square<float>();
  ops<float>().grow_for(behind.cell, plane<float>(1, 0, 0));
  EXPECT_TRUE(same_bits(behind.cell.xs, std::vector<float>{-1, 1, 1, -1}));
  EXPECT_TRUE(same_bits(behind.cell.edge_offset, std::vector<float>(4, 2)));
}

TEST_P(GrowForTest, LinesAreEstablishedEvenForAnEmptyCell) {
  TestCell<double> c(4);
  ops<double>().grow_for(c.cell, plane<double>(1, 0, 0));
  EXPECT_TRUE(c.cell.edge_lines_valid);
}

// Right and top edges infinite: vertex 1 slides along the bottom edge,
// vertex 3 up the left edge. Vertex 3 runs (nearly) parallel to x <= 5 and
// must not set the growth, yet still moves by it.
template <class T>
void expect_parallel_vertex_ignored(CellOps<T> const& ops, T tilt) {
  SCOPED_TRACE(::testing::Message() << precision_name<T>() << ", tilt " << tilt);
  TestCell<T> c = infinite_square<T>();
  c.ids[0] = 1;
  c.ids[3] = 2;
  ops.grow_for(c.cell, plane<T>(1, tilt, 5));
  EXPECT_EQ(c.cell.ys[1], T(-1)) << "vertex 1 must stay on the bottom edge";
  EXPECT_EQ(c.cell.xs[3], T(-1)) << "vertex 3 must stay on the left edge";
  EXPECT_NEAR(c.cell.xs[1], 5.0, 1e-4) << "growth set by the parallel vertex";
  EXPECT_NEAR(c.cell.ys[3], 5.0, 1e-4) << "the parallel vertex must move with the others";
  EXPECT_NEAR(c.cell.edge_offset[1], 10.0, 2e-4);
  EXPECT_EQ(c.cell.edge_offset[0], T(2)) << "finite edges keep their offsets";
}

TEST_P(GrowForTest, VertexParallelToThePlaneIsIgnored) {
  expect_parallel_vertex_ignored<double>(ops<double>(), 0);
  expect_parallel_vertex_ignored<double>(ops<double>(), 1e-12);
  expect_parallel_vertex_ignored<float>(ops<float>(), 0);
  expect_parallel_vertex_ignored<float>(ops<float>(), 1e-12f);
}

// Stored normals of length 4 instead of the computed 2 halve the directions,
// so the crossing is at t = 16.
TEST_P(GrowForTest, StoredLinesAreUsedAsTheyAre) {
  TestCell<double> c = infinite_square<double>();
  c.set_lines({0, 4, 0, -4}, {-4, 0, 4, 0}, {4, 4, 4, 4});
  ops<double>().grow_for(c.cell, plane<double>(1, 0, 5));
  EXPECT_TRUE(same_bits(c.cell.edge_nx, std::vector<double>{0, 4, 0, -4}));
  EXPECT_TRUE(same_bits(c.cell.grow_dx, std::vector<double>{-0.25, 0.25, 0.25, -0.25}));
  EXPECT_TRUE(same_bits(c.cell.edge_offset, std::vector<double>(4, 20.000017)));
  EXPECT_TRUE(same_bits(c.cell.xs, std::vector<double>{-5.00000425, 5.00000425, 5.00000425, -5.00000425}));
}

VORN_INSTANTIATE_FOR_BACKENDS(GrowForTest);

}  // namespace
}  // namespace vorn::test
