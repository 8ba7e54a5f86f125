// engine_run through the real library: the two phases, empty cells, storage
// failures and their recovery, strided seed sets, threads and backends.
#include <cmath>
#include <random>
#include <thread>

#include "engine_support.hpp"
#include "oracle.hpp"

namespace vorn::test {
namespace {

class EngineRun : public EngineTest {
 public:
  using EngineTest::engine;
  template <class T>
  int run(TestCell<T>& c, SeedTree const& tree, long long seed) const {
    return engine().run(c.cell, tree.seeds(), seed);
  }
};

long long tree_index(SeedTree const& tree, long long input) {
  for (long long k = 0; k < tree.size(); ++k) {
    if (tree.original(k) == input) return k;
  }
  return -1;
}

// Seeds on the integer grid {0, 1, 2}², weight 0, input index 3i + j.
SeedTree grid3() {
  std::vector<WeightedPoint> p;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) p.push_back({double(i), double(j), 0.0});
  }
  return SeedTree(p, 3);
}

template <class T>
RefPolygon as_polygon(TestCell<T> const& c) {
  RefPolygon p;
  for (int i = 0; i < c.cell.vertex_count; ++i) {
    p.x.push_back(c.xs[i]), p.y.push_back(c.ys[i]), p.id.push_back(c.ids[i]);
  }
  return p;
}

template <class T>
void unbounded_start_cases(EngineRun const& t) {
  SeedTree const tree = grid3();
  // The centre seed's cell closes during the unbounded phase and is
  // finished in the bounded one: the unit square around (1, 1).
  TestCell<T> centre(16);
  centre.set_box(T(0.9), T(0.9), T(1.1), T(1.1), true);
  ASSERT_EQ(t.run(centre, tree, tree_index(tree, 4)), 0);
  EXPECT_FALSE(centre.cell.unbounded);
  RefPolygon const cell = as_polygon(centre);
  EXPECT_NEAR(static_cast<double>(area(cell)), 1.0, 1e-5);
  std::set<std::int32_t> want;
  for (long long input : {1, 3, 5, 7}) want.insert(static_cast<std::int32_t>(tree_index(tree, input)));
  EXPECT_EQ(neighbours(cell, 1e-3), want);
  // The corner seed's cell is unbounded whatever the seeds.
  TestCell<T> corner(16);
  corner.set_box(T(-0.1), T(-0.1), T(0.1), T(0.1), true);
  ASSERT_EQ(t.run(corner, tree, tree_index(tree, 0)), 0);
  EXPECT_TRUE(corner.cell.unbounded);
  EXPECT_GE(corner.cell.vertex_count, 3);
}

TEST_P(EngineRun, UnboundedStartEndsBoundedOrStaysUnbounded) {
  unbounded_start_cases<double>(*this);
  unbounded_start_cases<float>(*this);
}

template <class T>
void heavier_twin_empties(EngineRun const& t) {
  SeedTree const tree({{0.3, 0.3, 0.0}, {0.3, 0.3, 0.01}, {0.7, 0.6, 0.0}}, 2);
  long long const light = tree_index(tree, 0), heavy = tree_index(tree, 1);
  for (bool unbounded : {false, true}) {
    TestCell<T> c(16);
    c.set_box(0, 0, 1, 1, unbounded);
    ASSERT_EQ(t.run(c, tree, light), 0);
    EXPECT_EQ(c.cell.vertex_count, 0) << (unbounded ? "unbounded start" : "box start");
    TestCell<T> h(16);
    h.set_box(0, 0, 1, 1, unbounded);
    ASSERT_EQ(t.run(h, tree, heavy), 0);
    EXPECT_GT(h.cell.vertex_count, 0);
  }
}

TEST_P(EngineRun, SeedUnderAHeavierSeedAtItsPositionHasAnEmptyCell) {
  heavier_twin_empties<double>(*this);
  heavier_twin_empties<float>(*this);
}

// The centre seed of ten on a circle has a ten-sided cell.
SeedTree decagon_seeds() {
  std::vector<WeightedPoint> p{{0.5, 0.5, 0.0}};
  for (int i = 0; i < 10; ++i) {
    p.push_back({0.5 + 0.3 * std::cos(2 * M_PI * i / 10), 0.5 + 0.3 * std::sin(2 * M_PI * i / 10), 0.0});
  }
  return SeedTree(p, 2);
}

template <class T>
void storage_too_small(EngineRun const& t) {
  SeedTree const tree = decagon_seeds();
  long long const centre = tree_index(tree, 0);
  RefPolygon const want = reference_cell(tree, centre, box_polygon(0, 0, 1, 1));
  ASSERT_EQ(want.x.size(), 10u);

  TestCell<T> tiny(7);
  tiny.set_box(0, 0, 1, 1);
  TestCell<T> const before = tiny;
  EXPECT_EQ(t.run(tiny, tree, centre), 3);
  EXPECT_EQ(tiny.cell.vertex_count, 4);
  EXPECT_EQ(tiny.xs, before.xs);
  EXPECT_EQ(tiny.ys, before.ys);
  EXPECT_EQ(tiny.ids, before.ids);

  // Eight slots hold the box and its first cuts but not the decagon; the
  // cell so far contains the final cell, and a second call on larger arrays
  // finishes it.
  TestCell<T> c(8);
  c.set_box(0, 0, 1, 1);
  ASSERT_EQ(t.run(c, tree, centre), 3);
  EXPECT_GE(static_cast<double>(area(as_polygon(c))), static_cast<double>(area(want)) - 1e-6);
  c.resize(16);
  ASSERT_EQ(t.run(c, tree, centre), 0);
  RefPolygon const got = as_polygon(c);
  EXPECT_NEAR(static_cast<double>(area(got)), static_cast<double>(area(want)), 1e-6);
  EXPECT_EQ(neighbours(got, 1e-3), neighbours(want, 1e-3));
}

TEST_P(EngineRun, TooLittleStorageReturnsThreeAndLargerArraysFinishTheCell) {
  storage_too_small<double>(*this);
  storage_too_small<float>(*this);
}

// Cells of seeds [first, last) of `tree`, each from the unit box: the
// vertices and ids, bit for bit, one cell after another.
template <class T>
struct CellBits {
  std::vector<Bits<T>> coordinates;
  std::vector<std::int32_t> ids;
  bool operator==(CellBits const&) const = default;
};

template <class T>
CellBits<T> cells(EngineLibrary const& lib, engine::WeightedSeeds2 const& seeds, long long first, long long last,
                  bool unbounded) {
  CellBits<T> out;
  for (long long seed = first; seed < last; ++seed) {
    TestCell<T> c(32);
    c.set_box(0, 0, 1, 1, unbounded);
    out.ids.push_back(lib.run(c.cell, seeds, seed));
    out.ids.push_back(c.cell.vertex_count);
    for (int i = 0; i < c.cell.vertex_count; ++i) {
      out.coordinates.push_back(bits(c.xs[i]));
      out.coordinates.push_back(bits(c.ys[i]));
      out.ids.push_back(c.ids[i]);
    }
  }
  return out;
}

template <class T>
void strided_matches_dense(EngineRun const& t) {
  auto const points = random_points(500, 3, 1e-4);
  SeedTree const dense(points, 7, Majorant::sloped), spread(points, 7, Majorant::sloped, 3);
  EXPECT_EQ(cells<T>(t.engine(), dense.seeds(), 0, 500, false), cells<T>(t.engine(), spread.seeds(), 0, 500, false));
}

TEST_P(EngineRun, SeedSetIsReadThroughItsStrides) {
  strided_matches_dense<double>(*this);
  strided_matches_dense<float>(*this);
}

template <class T>
void threads_match_one_thread(EngineRun const& t) {
  SeedTree const tree(random_points(2000, 4, 1e-4), 9);
  auto const one = cells<T>(t.engine(), tree.seeds(), 0, 2000, false);
  std::vector<CellBits<T>> parts(4);
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k) {
    threads.emplace_back([&, k] { parts[k] = cells<T>(t.engine(), tree.seeds(), k * 500, (k + 1) * 500, false); });
  }
  for (auto& th : threads) th.join();
  CellBits<T> joined;
  for (auto const& p : parts) {
    joined.coordinates.insert(joined.coordinates.end(), p.coordinates.begin(), p.coordinates.end());
    joined.ids.insert(joined.ids.end(), p.ids.begin(), p.ids.end());
  }
  EXPECT_TRUE(joined == one);
}

TEST_P(EngineRun, ConcurrentCallsOverOneSeedSetGiveTheSingleThreadCells) {
  threads_match_one_thread<double>(*this);
  threads_match_one_thread<float>(*this);
}

template <class T>
void backends_agree(EngineRun const& t, EngineLibrary const& reference) {
  SeedTree const tree(random_points(1500, 5, 1e-4), 9, Majorant::sloped);
  for (bool unbounded : {false, true}) {
    EXPECT_TRUE(cells<T>(t.engine(), tree.seeds(), 0, 1500, unbounded) ==
                cells<T>(reference, tree.seeds(), 0, 1500, unbounded))
        << (unbounded ? "unbounded start" : "box start");
  }
}

TEST_P(EngineRun, CellsAreBitIdenticalToThePortableBuild) {
  if (engine().path == EngineLibrary::portable().path) GTEST_SKIP() << "this suite runs the portable build itself";
  backends_agree<double>(*this, EngineLibrary::portable());
  backends_agree<float>(*this, EngineLibrary::portable());
}

// The emulation that a CPU without FMA runs gives this build's bits.
TEST_P(EngineRun, CellsAreBitIdenticalToTheBuildWithoutFma) {
  backends_agree<double>(*this, EngineLibrary::emulated_fma());
  backends_agree<float>(*this, EngineLibrary::emulated_fma());
}

VORN_ENGINE_TEST_SUITE(EngineRun);

}  // namespace
}  // namespace vorn::test
