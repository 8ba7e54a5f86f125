// Shared pieces of the cell engine tests: the backend this test program was
// built for (its name ends every test name) and the engine library of that
// backend loaded through the loader; cells come from support/test_cell.hpp.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "vorn/engine/local2.hpp"
#include "vorn/engine/bsp_seeds.hpp"
#include "support/test_cell.hpp"

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
  // An x86-64 build that emulates every fused multiply-add, as on a CPU
  // without FMA, whatever this CPU has.
  static EngineLibrary const& emulated_fma();
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

}  // namespace vorn::test
