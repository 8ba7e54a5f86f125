// The unit_cell_engine_2d library: the engine in single and double precision
// cell arithmetic, and nothing else. Everything but these two instantiations
// is hidden (default hidden visibility and the version script cell_engine.map, generated from
// <vorn/engine/engine_entry_names.hpp>).
#include "engine_run.hpp"

namespace vorn::engine {

template __attribute__((visibility("default"))) int engine_run<Local2<float>, WeightedSeeds2>(
    Local2<float>& cell, WeightedSeeds2 const& seeds, long long seed_index);
template __attribute__((visibility("default"))) int engine_run<Local2<double>, WeightedSeeds2>(
    Local2<double>& cell, WeightedSeeds2 const& seeds, long long seed_index);

}  // namespace vorn::engine
