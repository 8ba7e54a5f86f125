// Shared pieces of the cell engine tests: the backend this test program was
// built for (its name ends every test name), the engine library of that
// backend loaded through the loader, and a cell that owns its arrays.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "vorn/engine/local2.hpp"
#include "vorn/engine/bsp_seeds.hpp"

namespace vorn::test {

// "avx512", "avx2" or "portable": the instruction set this program and the
// engine library it loads were built for.
char const* backend_name();

// Empty when the backend can run here, else why not.
std::string backend_unavailable();

// The build of the engine library of this backend's level
// (lib/vorn/<level>/), opened with dlopen and resolved by the mangled names of
// the two engine_run instantiations.
struct EngineLibrary {
  using Run32 = int (*)(Local2<float>&, engine::WeightedSeeds2 const&, long long);
  using Run64 = int (*)(Local2<double>&, engine::WeightedSeeds2 const&, long long);
  Run32 run32 = nullptr;
  Run64 run64 = nullptr;

  static EngineLibrary const& get();
  // The x86-64 build of the library, the reference for bit-identical cells.
  static EngineLibrary const& portable();
  std::string path;

  int run(Local2<float>& cell, engine::WeightedSeeds2 const& seeds, long long seed) const {
    return run32(cell, seeds, seed);
  }
  int run(Local2<double>& cell, engine::WeightedSeeds2 const& seeds, long long seed) const {
    return run64(cell, seeds, seed);
  }
};

// Every test runs once, named after the backend, and is skipped with a
// message when this machine cannot run the backend.
class EngineTest : public ::testing::TestWithParam<char const*> {
 protected:
  void SetUp() override;
  EngineLibrary const& engine() const { return EngineLibrary::get(); }
};

#define VORN_ENGINE_TEST_SUITE(suite) \
  INSTANTIATE_TEST_SUITE_P(Engine, suite, ::testing::Values(::vorn::test::backend_name()), \
                           [](::testing::TestParamInfo<char const*> const& info) { return std::string(info.param); })

template <class T>
using Bits = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>;

template <class T>
Bits<T> bits(T x) {
  return std::bit_cast<Bits<T>>(x);
}

// A cell whose nine arrays hold `capacity` slots each; unused slots start as
// -infinity so that reading one by mistake shows up in a result.
template <class T>
struct TestCell {
  std::vector<T> xs, ys, nx, ny, offset, dists, gdx, gdy;
  std::vector<std::int32_t> ids;
  Local2<T> cell{};

  explicit TestCell(int capacity) { resize(capacity); }

  // New arrays of `capacity` slots holding the current polygon.
  void resize(int capacity) {
    T const junk = -std::numeric_limits<T>::infinity();
    for (auto* a : {&xs, &ys, &nx, &ny, &offset, &dists, &gdx, &gdy}) a->resize(capacity, junk);
    ids.resize(capacity, 0x5a5a5a5a);
    cell.vertex_capacity = capacity;
    cell.xs = xs.data(), cell.ys = ys.data(), cell.cut_ids = ids.data();
    cell.edge_nx = nx.data(), cell.edge_ny = ny.data(), cell.edge_offset = offset.data();
    cell.plane_dists = dists.data(), cell.grow_dx = gdx.data(), cell.grow_dy = gdy.data();
  }

  // A counter-clockwise polygon; `unbounded` marks every edge infinite.
  void set(std::vector<T> const& x, std::vector<T> const& y, std::vector<std::int32_t> const& id,
           bool unbounded = false) {
    cell.vertex_count = static_cast<std::int32_t>(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
      xs[i] = x[i], ys[i] = y[i];
      ids[i] = unbounded ? infinite_cut_id : id[i];
    }
    cell.unbounded = unbounded;
    cell.edge_lines_valid = false;
  }

  // The axis-aligned box [x0, x1] x [y0, y1], edge ids -1 to -4 (bottom,
  // right, top, left), or all infinite.
  void set_box(T x0, T y0, T x1, T y1, bool unbounded = false) {
    set({x0, x1, x1, x0}, {y0, y0, y1, y1}, {-1, -2, -3, -4}, unbounded);
  }
};

}  // namespace vorn::test
