// The cell engine library, loaded once per process from unit_directory().
#pragma once

#include "vorn/engine/cell_engine.hpp"

namespace vorn::host::detail {

struct CellEngineLibrary {
  using Run32 = int (*)(Local2<float>&, engine::WeightedSeeds2 const&, long long);
  using Run64 = int (*)(Local2<double>&, engine::WeightedSeeds2 const&, long long);
  Run32 run32 = nullptr;
  Run64 run64 = nullptr;

  int run(Local2<float>& cell, engine::WeightedSeeds2 const& seeds, long long seed) const {
    return run32(cell, seeds, seed);
  }
  int run(Local2<double>& cell, engine::WeightedSeeds2 const& seeds, long long seed) const {
    return run64(cell, seeds, seed);
  }
};

// Checks the CPU against the library's build, loads it on first use and
// resolves both engine_run instantiations; throws std::runtime_error saying
// which step failed.
CellEngineLibrary const& cell_engine_library();

}  // namespace vorn::host::detail
