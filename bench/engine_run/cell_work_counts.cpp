// The engine compiled into the benchmark with its work counters on. Only this
// translation unit instantiates the engine's templates; it calls the internal
// run directly, since engine_run itself resolves to the library's copy.
#include <vector>

#include "cell_work.hpp"
#include "engine/engine_run.hpp"

namespace vorn::bench {

template <class T>
CellWork count_cell_work(test::SeedTree const& tree, long long cells) {
  std::vector<T> arrays(9 * 64);
  std::vector<std::int32_t> ids(64);
  detail::engine_counters = {};
  long long const step = tree.size() / cells;
  for (long long k = 0; k < cells; ++k) {
    T* a = arrays.data();
    Local2<T> cell{4, 64, false, false, a, a + 64, ids.data(), a + 128, a + 192, a + 256, a + 320, a + 384, a + 448};
    a[0] = 0, a[1] = 1, a[2] = 1, a[3] = 0;
    a[64] = 0, a[65] = 0, a[66] = 1, a[67] = 1;
    engine::detail::run_cell(cell, tree.seeds(), k * step);
  }
  auto const& c = detail::engine_counters;
  double const n = static_cast<double>(cells);
  return {c.planes / n, c.node_tests / n, c.pruned / n, c.group_tests / n};
}

template CellWork count_cell_work<float>(test::SeedTree const&, long long);
template CellWork count_cell_work<double>(test::SeedTree const&, long long);

}  // namespace vorn::bench
