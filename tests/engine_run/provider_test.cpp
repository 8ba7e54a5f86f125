// The BSP plane provider: traversal order, pruning and the planes it builds.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "engine/provider_bsp.hpp"
#include "engine_support.hpp"
#include "support/seed_tree.hpp"
#include "support/precisions.hpp"

namespace vorn::test {
namespace {

using Seeds = engine::WeightedSeeds2;
template <class T>
using Provider = ProviderBsp<Seeds, T, 2, true, false>;
template <class T>
using Local = typename local_of<Provider<T>>::type;

// A tree written out by hand: dense arrays, boxes as (lx, ly, hx, hy), flat
// majorants W per node.
struct HandTree {
  std::vector<double> xy, w, box, gradient, offset;
  std::vector<long long> begin, end;
  Seeds seeds{};

  HandTree(std::vector<double> xy_, std::vector<double> w_, std::vector<long long> begin_,
           std::vector<long long> end_, std::vector<double> box_, std::vector<double> offset_)
      : xy(std::move(xy_)), w(std::move(w_)), box(std::move(box_)), offset(std::move(offset_)),
        begin(std::move(begin_)), end(std::move(end_)) {
    long long const n = static_cast<long long>(w.size()), nodes = static_cast<long long>(begin.size());
    gradient.assign(static_cast<std::size_t>(2 * nodes), 0.0);
    seeds.positions = {xy.data(), {16, 8}, {n, 2}};
    seeds.weights = {w.data(), {8}, {n}};
    seeds.node_begin = {begin.data(), {8}, {nodes}};
    seeds.node_end = {end.data(), {8}, {nodes}};
    seeds.node_box = {box.data(), {32, 16, 8}, {nodes, 2, 2}};
    seeds.majorant_gradient = {gradient.data(), {16, 8}, {nodes, 2}};
    seeds.majorant_offset = {offset.data(), {8}, {nodes}};
  }
};

// Every plane the provider yields for `state`, in order.
template <class T, class State>
std::vector<Plane<T, 2>> drain(Provider<T> const& provider, State const& state, Local<T>& local) {
  std::vector<Plane<T, 2>> planes;
  Plane<T, 2> plane{};
  while (provider.next(state, local, plane)) planes.push_back(plane);
  return planes;
}

template <class T>
std::vector<std::int32_t> ids_of(std::vector<Plane<T, 2>> const& planes) {
  std::vector<std::int32_t> ids;
  for (auto const& p : planes) ids.push_back(p.cut_id);
  return ids;
}

template <class T>
StateMem<T> unbounded_state() {
  return {0, nullptr, nullptr, nullptr, false};
}

class Provider2d : public EngineTest {};

TEST_P(Provider2d, RootLevelIsTheBitLengthOfTheNodeCount) {
  EXPECT_EQ(root_level(1), 1);
  EXPECT_EQ(root_level(3), 2);
  EXPECT_EQ(root_level(4), 3);
  EXPECT_EQ(root_level(7), 3);
  EXPECT_EQ(root_level(8), 4);
  EXPECT_EQ(root_level(0), 0);
  HandTree t({0, 0}, {0}, {0, 0, 0, 0}, {1, 1, 1, 1}, std::vector<double>(16, 0.0), {1, 1, 1, 1});
  EXPECT_EQ(Provider<double>::for_seed(t.seeds, 0).root_entry, 3) << "node 0 at level 3";
}

// One leaf: the seed is skipped wherever it sits, and a leaf holding only
// the seed yields nothing.
TEST_P(Provider2d, NeverYieldsTheCellsOwnSeed) {
  HandTree t({0, 0, 1, 0, 2, 0}, {0, 0, 0}, {0}, {3}, {0, 0, 2, 0}, {1});
  for (long long seed = 0; seed < 3; ++seed) {
    auto const provider = Provider<double>::for_seed(t.seeds, seed);
    Local<double> local{};
    std::vector<std::int32_t> want;
    for (std::int32_t i = 0; i < 3; ++i) {
      if (i != seed) want.push_back(i);
    }
    EXPECT_EQ(ids_of(drain(provider, unbounded_state<double>(), local)), want) << "seed " << seed;
    Plane<double, 2> untouched{{5, 5}, 5, 5};
    EXPECT_FALSE(provider.next(unbounded_state<double>(), local, untouched)) << "stays exhausted";
    EXPECT_EQ(untouched.cut_id, 5);
  }
  HandTree alone({0, 0}, {0}, {0}, {1}, {0, 0, 0, 0}, {1});
  Local<double> local{};
  EXPECT_TRUE(drain(Provider<double>::for_seed(alone.seeds, 0), unbounded_state<double>(), local).empty());
}

// Root with two leaves whose boxes both contain the seed, then a right leaf
// nearer than the left one.
TEST_P(Provider2d, VisitsTheNearerChildFirstAndTheLeftOneOnATie) {
  std::vector<double> const xy{-1, 0, 1, 0, 0.5, 0};
  std::vector<double> const tie_boxes{-1, -1, 1, 1, -1, -1, 1, 1, -1, -1, 1, 1};
  HandTree tie(xy, {0, 0, 0}, {0, 0, 1}, {3, 1, 3}, tie_boxes, {1, 1, 1});
  Local<double> local{};
  EXPECT_EQ(ids_of(drain(Provider<double>::for_seed(tie.seeds, 2), unbounded_state<double>(), local)),
            (std::vector<std::int32_t>{0, 1}));
  std::vector<double> const apart{-1, -1, 1, 1, -1, 0, -1, 0, 0.5, 0, 1, 0};
  HandTree near_right(xy, {0, 0, 0}, {0, 0, 1}, {3, 1, 3}, apart, {1, 1, 1});
  Local<double> local2{};
  EXPECT_EQ(ids_of(drain(Provider<double>::for_seed(near_right.seeds, 2), unbounded_state<double>(), local2)),
            (std::vector<std::int32_t>{1, 0}));
}

// Node 4 of a three-level tree is empty. Its parent reads its box to order
// the children, but its majorant, which the pruning test would read next,
// lies on a page that may not be read.
TEST_P(Provider2d, DropsAnEmptyNodeBeforeTestingItOrVisitingItsChildren) {
  long const page = sysconf(_SC_PAGESIZE);
  void* memory = mmap(nullptr, 7 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  auto* base = static_cast<char*>(memory);
  auto* gradient = reinterpret_cast<double*>(base);       // node d at d·page
  auto* offset = reinterpret_cast<double*>(base + 64);    // node d at d·page + 64
  for (int d = 0; d < 7; ++d) {
    reinterpret_cast<double*>(base + d * page)[0] = 0;
    reinterpret_cast<double*>(base + d * page)[1] = 0;
    reinterpret_cast<double*>(base + d * page + 64)[0] = 1;
  }
  ASSERT_EQ(mprotect(base + 4 * page, page, PROT_NONE), 0);
  // Leaves 2 and 3 hold seeds 0-1 and 2-3; node 4 claims nothing, though its
  // children 5 and 6 (never to be visited) name seeds 4 and 5.
  std::vector<double> xy{0, 0, 1, 0, 0, 1, 1, 1, 5, 5, 6, 6};
  std::vector<double> w(6, 0.0);
  std::vector<long long> begin{0, 0, 0, 2, 4, 4, 5}, end{4, 4, 2, 4, 4, 5, 6};
  std::vector<double> box;
  for (int d = 0; d < 7; ++d) box.insert(box.end(), {-10, -10, 10, 10});
  Seeds seeds{};
  std::int64_t const p = page;
  seeds.positions = {xy.data(), {16, 8}, {6, 2}};
  seeds.weights = {w.data(), {8}, {6}};
  seeds.node_begin = {begin.data(), {8}, {7}};
  seeds.node_end = {end.data(), {8}, {7}};
  seeds.node_box = {box.data(), {32, 16, 8}, {7, 2, 2}};
  seeds.majorant_gradient = {gradient, {p, 8}, {7, 2}};
  seeds.majorant_offset = {offset, {p}, {7}};
  // A large bounded cell, so that the pruning test runs on every node.
  std::vector<double> cx{-100, 100, 100, -100}, cy{-100, -100, 100, 100};
  StateMem<double> const state{4, cx.data(), cy.data(), nullptr, true};
  Local<double> local{};
  EXPECT_EQ(ids_of(drain(Provider<double>::for_seed(seeds, 0), state, local)),
            (std::vector<std::int32_t>{1, 2, 3}));
  munmap(memory, 7 * page);
}

// Seed a = (0, 0), weight 0; one node holding the single point (1, 0) with
// a flat bound W = 0. At v = (0.5, 0) both power distances are 0.25: the
// bound is met exactly and the node must stay; a hair to the left it goes.
template <class T>
void exact_bound_keeps_the_node() {
  HandTree t({0, 0, 1, 0}, {0, 0}, {0, 0, 1}, {2, 1, 2}, {0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0}, {0, 0, 0});
  auto const provider = Provider<T>::for_seed(t.seeds, 0);
  for (T const x0 : {T(0.5), std::nextafter(T(0.5), T(0))}) {
    bool const met = x0 == T(0.5);
    std::vector<T> xs{x0, -1, -1, -1, -1, -1, -1, -1}, ys{0, 1, -1, 0, 0, 0, 0, 0};
    Local<T> mem_local{};
    StateMem<T> const mem{3, xs.data(), ys.data(), nullptr, true};
    EXPECT_EQ(drain(provider, mem, mem_local).size(), met ? 1u : 0u) << "memory, x " << x0;
    using Lanes = lane8::native::Backend;
    StateReg<T, 3> const reg{Lanes::load(xs.data()), Lanes::load(ys.data()), {}};
    Local<T> reg_local{};
    EXPECT_EQ(drain(provider, reg, reg_local).size(), met ? 1u : 0u) << "registers, x " << x0;
  }
}

TEST_P(Provider2d, KeepsANodeWhoseBoundIsMetExactly) {
  for_each_precision([]<class T> { exact_bound_keeps_the_node<T>(); });
}

// The point range of the leaf that holds point k.
std::pair<long long, long long> leaf_range(Seeds const& seeds, long long k) {
  long long node = 0;
  for (auto level = root_level(seeds.node_count()); level > 1; --level) {
    node = k < seeds.node_end(node + 1) ? node + 1 : node + (1LL << (level - 1));
  }
  return {seeds.node_begin(node), seeds.node_end(node)};
}

// Unbounded, nothing is pruned: every other seed exactly once, the first
// ones from the seed's own leaf, and switching states mid-walk resumes it.
TEST_P(Provider2d, UnboundedCellGetsEveryOtherSeedOnceNearestLeafFirst) {
  SeedTree tree(random_points(300, 5, 1e-3), SeedTree::levels_for(300, 6));
  for (long long seed : {0LL, 77LL, 299LL}) {
    auto const provider = Provider<double>::for_seed(tree.seeds(), seed);
    Local<double> local{};
    auto const first = drain(provider, unbounded_state<double>(), local);
    std::multiset<std::int32_t> ids;
    for (auto const& p : first) ids.insert(p.cut_id);
    EXPECT_EQ(ids.size(), 299u);
    EXPECT_EQ(std::set<std::int32_t>(ids.begin(), ids.end()).size(), 299u);
    EXPECT_EQ(ids.count(static_cast<std::int32_t>(seed)), 0u);
    // The seed lies in its own leaf's box and outside every other box, so
    // that leaf comes first.
    auto const [begin, end] = leaf_range(tree.seeds(), seed);
    for (long long k = 0; k < end - begin - 1; ++k) {
      EXPECT_GE(first[static_cast<std::size_t>(k)].cut_id, begin);
      EXPECT_LT(first[static_cast<std::size_t>(k)].cut_id, end);
    }
  }
}

TEST_P(Provider2d, StatesMayChangeMidWalkWithoutRestartingIt) {
  SeedTree tree(random_points(100, 6, 1e-3), SeedTree::levels_for(100, 4));
  auto const provider = Provider<double>::for_seed(tree.seeds(), 42);
  Local<double> local{};
  std::vector<double> cx{-9, 9, 9, -9, 0, 0, 0, 0}, cy{-9, -9, 9, 9, 0, 0, 0, 0};
  using Lanes = lane8::native::Backend;
  StateReg<double, 4> const reg{Lanes::load(cx.data()), Lanes::load(cy.data()), {}};
  StateMem<double> const mem{4, cx.data(), cy.data(), nullptr, true};
  std::set<std::int32_t> seen;
  Plane<double, 2> plane{};
  for (int call = 0; call < 200; ++call) {
    bool const more = call % 3 == 0 ? provider.next(reg, local, plane)
                                    : provider.next(call % 3 == 1 ? mem : unbounded_state<double>(), local, plane);
    if (!more) break;
    EXPECT_TRUE(seen.insert(plane.cut_id).second) << "seed " << plane.cut_id << " yielded twice";
  }
  EXPECT_EQ(seen.size(), 99u);
}

// What a driver may build ahead: whenever upcoming_leaf_seed names a seed,
// next yields exactly that seed's plane, bit for bit, and leaves the walk as
// take_leaf_seed does; only the first seed of each leaf is not named.
template <class T>
void upcoming_leaf_seed_is_what_next_yields() {
  int const levels = SeedTree::levels_for(300, 6);
  SeedTree tree(random_points(300, 8, 1e-3), levels);
  for (long long seed : {0LL, 5LL, 150LL, 299LL}) {
    auto const provider = Provider<T>::for_seed(tree.seeds(), seed);
    Local<T> local{};
    int named = 0, unnamed = 0;
    for (Plane<T, 2> plane{};;) {
      std::int64_t const upcoming = provider.upcoming_leaf_seed(local);
      Local<T> taken = local;
      if (upcoming >= 0) provider.take_leaf_seed(taken, upcoming);
      if (!provider.next(unbounded_state<T>(), local, plane)) {
        EXPECT_LT(upcoming, 0);
        break;
      }
      if (upcoming < 0) {
        ++unnamed;
        continue;
      }
      ++named;
      Plane<T, 2> const built = provider.bisector(upcoming);
      EXPECT_EQ(plane.cut_id, upcoming);
      EXPECT_EQ(bits(plane.normal[0]), bits(built.normal[0]));
      EXPECT_EQ(bits(plane.normal[1]), bits(built.normal[1]));
      EXPECT_EQ(bits(plane.offset), bits(built.offset));
      EXPECT_EQ(local.range_begin, taken.range_begin);
      EXPECT_EQ(local.range_end, taken.range_end);
      EXPECT_EQ(local.stack_size, taken.stack_size);
    }
    // Every leaf holds more than the cell's seed, so each is entered once.
    EXPECT_EQ(unnamed, 1 << (levels - 1)) << "seed " << seed;
    EXPECT_EQ(named + unnamed, 299) << "seed " << seed;
  }
}

TEST_P(Provider2d, UpcomingLeafSeedIsTheSeedNextYieldsFromTheLeaf) {
  for_each_precision([]<class T> { upcoming_leaf_seed_is_what_next_yields<T>(); });
}

// The bisector: kept side is where the cell's seed is no farther in power
// distance; the float plane is the double one rounded.
TEST_P(Provider2d, FloatPlanesAreTheDoublePlanesRounded) {
  SeedTree tree(random_points(64, 7, 1e-3), SeedTree::levels_for(64, 4));
  for (long long seed = 0; seed < 64; seed += 9) {
    auto const p64 = Provider<double>::for_seed(tree.seeds(), seed);
    auto const p32 = Provider<float>::for_seed(tree.seeds(), seed);
    Local<double> l64{};
    Local<float> l32{};
    auto const d = drain(p64, unbounded_state<double>(), l64);
    auto const f = drain(p32, unbounded_state<float>(), l32);
    ASSERT_EQ(d.size(), f.size());
    for (std::size_t i = 0; i < d.size(); ++i) {
      ASSERT_EQ(f[i].cut_id, d[i].cut_id);
      EXPECT_EQ(bits(f[i].normal[0]), bits(static_cast<float>(d[i].normal[0])));
      EXPECT_EQ(bits(f[i].normal[1]), bits(static_cast<float>(d[i].normal[1])));
      EXPECT_EQ(bits(f[i].offset), bits(static_cast<float>(d[i].offset)));
      WeightedPoint const a = tree.point(seed), b = tree.point(d[i].cut_id);
      double const want = ((a.w - b.w) * 0.5 + ((b.x - a.x) * (b.x + a.x)) * 0.5) + ((b.y - a.y) * (b.y + a.y)) * 0.5;
      EXPECT_EQ(bits(d[i].offset), bits(want));
      EXPECT_EQ(bits(d[i].normal[0]), bits(b.x - a.x));
    }
  }
}

TEST_P(Provider2d, SeedAtTheSamePositionGivesAZeroNormal) {
  HandTree t({0.25, 0.5, 0.25, 0.5}, {0.1, 0.3}, {0}, {2}, {0.25, 0.5, 0.25, 0.5}, {1});
  Local<double> local{};
  auto const planes = drain(Provider<double>::for_seed(t.seeds, 0), unbounded_state<double>(), local);
  ASSERT_EQ(planes.size(), 1u);
  EXPECT_EQ(planes[0].normal[0], 0.0);
  EXPECT_EQ(planes[0].normal[1], 0.0);
  EXPECT_EQ(planes[0].offset, (0.1 - 0.3) * 0.5);
}

VORN_ENGINE_TEST_SUITE(Provider2d);

}  // namespace
}  // namespace vorn::test
