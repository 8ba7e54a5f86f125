// Cuts of small hand-made polygons: result codes, vertex order, cut ids,
// edge lines and flags, bit for bit in both precisions.
#include <algorithm>
#include <cmath>
#include <limits>

#include "cell_fixture.hpp"
#include "support/precisions.hpp"

namespace vorn::test {
namespace {

struct SquareCase {
  char const* name;
  double nx, ny, offset;
  int result;
  std::vector<double> xs, ys;  // empty: polygon unchanged or emptied
  std::vector<std::int32_t> ids;
};

// The unit square (0,0), (1,0), (1,1), (0,1) with edge ids 10..13, cut by
// planes with cut id 7.
std::vector<SquareCase> const square_cases{
    {"vertical half", 1, 0, 0.5, 1, {0, 0.5, 0.5, 0}, {0, 0, 1, 1}, {10, 7, 12, 13}},
    {"run wraps past the last vertex", -1, 0, -0.5, 1, {0.5, 0.5, 1, 1}, {1, 0, 0, 1}, {7, 10, 11, 12}},
    {"one corner removed", 1, 1, 1.5, 1, {0, 1, 1, 0.5, 0}, {0, 0, 0.5, 1, 1}, {10, 11, 7, 12, 13}},
    {"plane through two vertices", 1, 1, 1, 1, {0, 1, 1, 0, 0}, {0, 0, 0, 1, 1}, {10, 11, 7, 12, 13}},
    {"plane touching an edge", 1, 0, 1, 0, {}, {}, {}},
    {"every vertex outside", 1, 0, -1, 2, {}, {}, {}},
};

template <class T>
TestCell<T> unit_square(int capacity) {
  TestCell<T> c(capacity);
  c.set_polygon({0, 1, 1, 0}, {0, 0, 1, 1}, {10, 11, 12, 13});
  return c;
}

template <class T>
Plane<T, 2> plane(double nx, double ny, double offset, std::int32_t id = 7) {
  return {{T(nx), T(ny)}, T(offset), id};
}

template <class T>
std::vector<T> as(std::vector<double> const& v) {
  return std::vector<T>(v.begin(), v.end());
}

class CutTest : public BackendTest {
 protected:
  template <class T>
  void check_square_table() {
    for (SquareCase const& row : square_cases) {
      SCOPED_TRACE(std::string(row.name) + ", " + precision_name<T>());
      TestCell<T> c = unit_square<T>(8);
      CellSnapshot<T> const before(c);
      ASSERT_EQ(ops<T>().cut(c.cell, plane<T>(row.nx, row.ny, row.offset)), row.result);
      if (row.result == cut_result::unchanged) {
        EXPECT_TRUE(CellSnapshot<T>(c) == before);
      }
      if (row.result == cut_result::emptied) {
        EXPECT_EQ(c.cell.vertex_count, 0);
      }
      if (row.result != cut_result::cut) continue;
      ASSERT_EQ(c.cell.vertex_count, static_cast<int>(row.xs.size()));
      EXPECT_TRUE(same_bits(c.cell.xs, as<T>(row.xs)));
      EXPECT_TRUE(same_bits(c.cell.ys, as<T>(row.ys)));
      EXPECT_TRUE(same_ids(c.cell.cut_ids, row.ids));
      EXPECT_FALSE(c.cell.unbounded);
      EXPECT_FALSE(c.cell.edge_lines_valid);
      EXPECT_TRUE(same_bits(c.cell.edge_nx, std::vector<T>(8, -std::numeric_limits<T>::infinity())))
          << "a cut without lines must not write the line arrays";
    }
  }

  // Signed values v along x with normal (1, 0) and offset 0; y counts up so
  // every vertex is distinct.
  template <class T>
  TestCell<T> cell_with_values(std::vector<double> const& v, int capacity) {
    TestCell<T> c(capacity);
    std::vector<double> y(v.size());
    std::vector<std::int32_t> ids(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
      y[i] = double(i);
      ids[i] = 100 + static_cast<std::int32_t>(i);
    }
    c.set_polygon(as<T>(v), as<T>(y), ids);
    return c;
  }
};

TEST_P(CutTest, UnitSquareTableIsBitExact) {
  for_each_precision([this]<class T> { check_square_table<T>(); });
}

template <class T>
void expect_capacity_failure_changes_nothing(CellOps<T> const& ops) {
  SCOPED_TRACE(precision_name<T>());
  TestCell<T> c = unit_square<T>(4);
  CellSnapshot<T> const before(c);
  EXPECT_EQ(ops.cut(c.cell, plane<T>(1, 1, 1.5)), cut_result::out_of_slots);
  EXPECT_TRUE(CellSnapshot<T>(c) == before);
}

TEST_P(CutTest, CapacityShortByOneFailsWithoutChangingTheCell) {
  expect_capacity_failure_changes_nothing(ops<float>());
  expect_capacity_failure_changes_nothing(ops<double>());
}

TEST_P(CutTest, EmptyPolygonIsLeftAlone) {
  TestCell<double> c(4);
  CellSnapshot<double> const before(c);
  EXPECT_EQ(ops<double>().cut(c.cell, plane<double>(1, 0, -1)), cut_result::unchanged);
  EXPECT_TRUE(CellSnapshot<double>(c) == before);
  EXPECT_EQ(c.dists[0], -std::numeric_limits<double>::infinity()) << "no signed value may be written";
}

// Outside vertices that do not form one run: only the maximal run through
// the largest value goes; ties go to the lowest index.
TEST_P(CutTest, ScatteredOutsideVerticesLoseOnlyTheFarthestRun) {
  TestCell<double> single = cell_with_values<double>({1, -1, 3, -1, -1}, 8);
  ASSERT_EQ(ops<double>().cut(single.cell, plane<double>(1, 0, 0)), cut_result::cut);
  EXPECT_EQ(single.cell.vertex_count, 6);
  EXPECT_TRUE(same_bits(single.cell.xs, std::vector<double>{1, -1, 0, 0, -1, -1}));
  EXPECT_TRUE(same_bits(single.cell.ys, std::vector<double>{0, 1, 1.25, 2.75, 3, 4}));
  EXPECT_TRUE(same_ids(single.cell.cut_ids, {100, 101, 7, 102, 103, 104}));

  TestCell<float> pair = cell_with_values<float>({1, 1, -1, 1, -1}, 8);
  ASSERT_EQ(ops<float>().cut(pair.cell, plane<float>(1, 0, 0)), cut_result::cut);
  EXPECT_EQ(pair.cell.vertex_count, 5);
  EXPECT_TRUE(same_bits(pair.cell.xs, std::vector<float>{0, 0, -1, 1, -1}));
  EXPECT_TRUE(same_bits(pair.cell.ys, std::vector<float>{2, 1.5f, 2, 3, 4}));
  EXPECT_TRUE(same_ids(pair.cell.cut_ids, {7, 101, 102, 103, 104}));
}

// Regression: a NaN signed value at vertex 0 must not be taken as the
// farthest vertex; that made an empty run and a polygon with a phantom edge.
TEST_P(CutTest, NanAtVertexZeroDoesNotHideTheFarthestRun) {
  double const nan = std::numeric_limits<double>::quiet_NaN();
  TestCell<double> c = cell_with_values<double>({nan, -1, 3, -1, 1, -1}, 8);
  ASSERT_EQ(ops<double>().cut(c.cell, plane<double>(1, 0, 0)), cut_result::cut);
  EXPECT_EQ(c.cell.vertex_count, 7);
  EXPECT_TRUE(same_bits(c.cell.xs + 1, std::vector<double>{-1, 0, 0, -1, 1, -1}));
  EXPECT_TRUE(same_ids(c.cell.cut_ids, {100, 101, 7, 102, 103, 104, 105}));
}

// Runs placed so that the surviving block moves right, stays or moves left,
// with and without wrap, over lengths on both sides of the inline-copy limit.
TEST_P(CutTest, SurvivorsKeepTheirCyclicOrderAfterEverySplice) {
  struct Run {
    int n, first, length;
  };
  for (Run r : {Run{40, 3, 1}, Run{40, 3, 2}, Run{40, 3, 5}, Run{40, 38, 3}, Run{40, 39, 4}, Run{40, 37, 3},
                Run{6, 5, 2}, Run{6, 4, 3}, Run{6, 0, 1}, Run{6, 5, 1}, Run{3, 1, 2}}) {
    SCOPED_TRACE(::testing::Message() << "n " << r.n << ", run " << r.first << "+" << r.length);
    std::vector<double> v(r.n, -1.0);
    for (int i = 0; i < r.length; ++i) v[(r.first + i) % r.n] = 1.0;
    TestCell<double> c = cell_with_values<double>(v, r.n + 1);
    ASSERT_EQ(ops<double>().cut(c.cell, plane<double>(1, 0, 0)), cut_result::cut);
    int const last = (r.first + r.length - 1) % r.n;
    std::vector<std::int32_t> survivors;
    for (int i = (last + 1) % r.n; i != r.first; i = (i + 1) % r.n) survivors.push_back(100 + i);
    std::vector<std::int32_t> want{7, 100 + last};
    want.insert(want.end(), survivors.begin(), survivors.end());
    if (r.first <= last) std::rotate(want.begin(), want.end() - r.first, want.end());
    ASSERT_EQ(c.cell.vertex_count, r.n - r.length + 2);
    EXPECT_TRUE(same_ids(c.cell.cut_ids, want));
    for (int i = 0; i < c.cell.vertex_count; ++i) {
      if (want[i] != 7 && i != (r.first <= last ? r.first + 1 : 1)) {
        EXPECT_EQ(c.cell.ys[i], want[i] - 100) << "slot " << i;
      }
    }
  }
}

// Unbounded square with lines: the edge-line arrays follow the vertices, and
// the flags follow whether an infinite edge survives.
class BoundednessTest : public BackendTest {
 protected:
  TestCell<double> c = unit_square<double>(8);
  void SetUp() override {
    BackendTest::SetUp();
    c.set_lines({0, 1, 0, -1}, {-1, 0, 1, 0}, {0, 1, 1, 0});
    c.cell.unbounded = true;
  }
};

TEST_P(BoundednessTest, RemovingTheLastInfiniteEdgeBoundsTheCell) {
  c.ids[1] = infinite_cut_id;
  ASSERT_EQ(ops<double>().cut_with_lines(c.cell, plane<double>(1, 0, 0.5)), cut_result::cut);
  EXPECT_FALSE(c.cell.unbounded);
  EXPECT_FALSE(c.cell.edge_lines_valid);
  EXPECT_TRUE(same_ids(c.cell.cut_ids, {10, 7, 12, 13}));
}

TEST_P(BoundednessTest, ShortenedInfiniteEdgeKeepsItsLineAndTheFlags) {
  c.ids[2] = infinite_cut_id;
  ASSERT_EQ(ops<double>().cut_with_lines(c.cell, plane<double>(2, 0, 1)), cut_result::cut);
  EXPECT_TRUE(c.cell.unbounded);
  EXPECT_TRUE(c.cell.edge_lines_valid);
  EXPECT_TRUE(same_ids(c.cell.cut_ids, {10, 7, infinite_cut_id, 13}));
  EXPECT_TRUE(same_bits(c.cell.edge_nx, std::vector<double>{0, 2, 0, -1}));
  EXPECT_TRUE(same_bits(c.cell.edge_ny, std::vector<double>{-1, 0, 1, 0}));
  EXPECT_TRUE(same_bits(c.cell.edge_offset, std::vector<double>{0, 1, 1, 0}));
}

TEST_P(BoundednessTest, EmptyingKeepsTheLinesFlag) {
  c.ids[2] = infinite_cut_id;
  ASSERT_EQ(ops<double>().cut_with_lines(c.cell, plane<double>(1, 0, -1)), cut_result::emptied);
  EXPECT_EQ(c.cell.vertex_count, 0);
  EXPECT_FALSE(c.cell.unbounded);
  EXPECT_TRUE(c.cell.edge_lines_valid);
}

TEST_P(BoundednessTest, BoundedCellWithValidLinesCarriesThemThroughTheDispatch) {
  c.cell.unbounded = false;
  ASSERT_EQ(ops<double>().cut(c.cell, plane<double>(1, 1, 1.5)), cut_result::cut);
  EXPECT_TRUE(c.cell.edge_lines_valid);
  EXPECT_TRUE(same_bits(c.cell.edge_nx, std::vector<double>{0, 1, 1, 0, -1}));
  EXPECT_TRUE(same_bits(c.cell.edge_ny, std::vector<double>{-1, 0, 1, 1, 0}));
  EXPECT_TRUE(same_bits(c.cell.edge_offset, std::vector<double>{0, 1, 1.5, 1, 0}));
}

// The dispatch grows an unbounded cell before cutting it: the square with
// four infinite edges meets x <= 5 only after growing past it.
TEST_P(BoundednessTest, DispatchGrowsAnUnboundedCellFirst) {
  for (auto& id : c.ids) id = infinite_cut_id;
  c.cell.edge_lines_valid = false;
  ASSERT_EQ(ops<double>().cut(c.cell, plane<double>(1, 0, 5)), cut_result::cut);
  EXPECT_TRUE(c.cell.unbounded);
  EXPECT_TRUE(c.cell.edge_lines_valid);
  ASSERT_EQ(c.cell.vertex_count, 4);
  EXPECT_NEAR(c.cell.xs[1], 5.0, 1e-12);
  EXPECT_NEAR(c.cell.xs[2], 5.0, 1e-12);
  EXPECT_TRUE(same_ids(c.cell.cut_ids, {infinite_cut_id, 7, infinite_cut_id, infinite_cut_id}));
  EXPECT_TRUE(same_bits(c.cell.edge_nx + 1, std::vector<double>{1}));
  EXPECT_TRUE(same_bits(c.cell.edge_offset + 1, std::vector<double>{5}));
}

VORN_INSTANTIATE_FOR_BACKENDS(CutTest);
VORN_INSTANTIATE_FOR_BACKENDS(BoundednessTest);

}  // namespace
}  // namespace vorn::test
