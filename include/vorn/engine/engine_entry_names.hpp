// The cell engine library's two exports under the names a host looks up,
// and the results engine_run returns. One list for every side: the engine's
// version script is generated from these lines at configure time, and the
// host, the tests and the benchmarks resolve the same strings, so a change
// of the entry's signature cannot leave one of them behind silently (the
// export test then fails).
#pragma once

namespace vorn::engine {

// engine_run<Local2<float>, WeightedSeeds2> and engine_run<Local2<double>, WeightedSeeds2>.
inline constexpr char engine_run_float_symbol[] =
    "_ZN4vorn6engine10engine_runINS_6Local2IfEENS0_8BspSeedsIdxLi2ELb1ELb0EEEEEiRT_RKT0_x";
inline constexpr char engine_run_double_symbol[] =
    "_ZN4vorn6engine10engine_runINS_6Local2IdEENS0_8BspSeedsIdxLi2ELb1ELb0EEEEEiRT_RKT0_x";

// What engine_run returns.
inline constexpr int engine_finished = 0;      // the cell is final (or empty)
inline constexpr int engine_out_of_slots = 3;  // enlarge the cell's arrays and call again

}  // namespace vorn::engine
