// Work counters for benchmarks and tests. They exist only when the engine is
// compiled with VORN_ENGINE_COUNTERS; the delivered library never counts.
#pragma once

#if defined(VORN_ENGINE_COUNTERS)
namespace vorn::detail {
struct EngineCounters {
  long long planes = 0;       // planes yielded by the provider
  long long node_tests = 0;   // pruning tests of one node against the cell
  long long pruned = 0;       // nodes dropped by those tests
  long long group_tests = 0;  // eight-lane evaluations of the pruning bound
};
inline thread_local EngineCounters engine_counters;
}  // namespace vorn::detail
#define VORN_ENGINE_COUNT(field) (++::vorn::detail::engine_counters.field)
#else
#define VORN_ENGINE_COUNT(field) static_cast<void>(0)
#endif
