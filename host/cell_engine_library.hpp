// The cell engine library: each build loaded once per process.
#pragma once

#include "vorn/engine/cell_engine.hpp"
#include "vorn/host/isa_level.hpp"

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

inline constexpr char cell_engine_library_name[] = "unit_cell_engine_2d";

// The build that a process at `level` uses: checks the CPU against it, loads
// it on first use and resolves both engine_run instantiations; throws
// std::runtime_error saying which step failed.
CellEngineLibrary const& cell_engine_library(IsaLevel level);

}  // namespace vorn::host::detail
