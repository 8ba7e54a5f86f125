#include "vorn/host/power_diagram.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "bsp_tree_build.hpp"
#include "cell_phase.hpp"
#include "diagram_assembly.hpp"
#include "huge_pages.hpp"
#include "periodic_diagram.hpp"
#include "power_input.hpp"
#include "seed_frame.hpp"
#include "vorn/host/bsp_tree.hpp"
#include "vorn/queue/thread_count.hpp"
#include "worker_threads.hpp"

namespace vorn::host {

SmallCellError::SmallCellError(std::int64_t seed, double area, double minimum_area)
    : std::range_error("the cell of seed " + std::to_string(seed) + " has area " + detail::number_text(area) +
                       ", below the minimum area " + detail::number_text(minimum_area)),
      seed_(seed),
      area_(area) {}

SmallCellError::~SmallCellError() = default;

namespace {

using detail::CellEngineLibrary;
using detail::CellJob;
using detail::CellLists;
using detail::SeedFrame;
using detail::StartSquare;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The bounding box of n x 2 positions (n > 0).
Box bounds(std::span<const double> positions) {
  Box b{positions[0], positions[1], positions[0], positions[1]};
  for (std::size_t i = 0; i < positions.size(); i += 2) {
    b.x_min = std::min(b.x_min, positions[i]);
    b.x_max = std::max(b.x_max, positions[i]);
    b.y_min = std::min(b.y_min, positions[i + 1]);
    b.y_max = std::max(b.y_max, positions[i + 1]);
  }
  return b;
}

// The start square, in the engine's frame: the domain box, or squares whose
// edges stand for edges at infinity. The engine pushes those out only as far
// as each cut needs, and prunes subtrees by the polygon's extent, so a small
// square (about a seed spacing) keeps the unbounded phase's traversal short.
StartSquare start_square(const std::optional<Box>& domain, std::span<const double> positions) {
  if (domain) return {domain->x_min, domain->y_min, domain->x_max, domain->y_max, false, 0.0, domain_edge, 0.0, 0.0};
  const Box b = bounds(positions);
  const double extent = std::max(b.x_max - b.x_min, b.y_max - b.y_min);
  const double spacing = extent / std::sqrt(static_cast<double>(positions.size() / 2));
  return {0.0, 0.0, 0.0, 0.0, true, spacing > 0.0 ? spacing : 1.0, domain_edge, 0.0, 0.0};
}

// Cells of the whole plane are computed in a box around the seeds, whose
// edges a cell never reaches unless it is unbounded or close to it; the
// cells that do reach it are computed again, unbounded, in double. A convex
// cell that stays inside the box without touching its edges is the cell of
// the whole plane. The unbounded engine answers each cut by a stand-in
// pushed out as far as the cut needs, and its vertices carry that stand-in's
// rounding: the box keeps it to the few cells that need it. (Float cells
// computed unbounded would lose most of their digits that way.)
StartSquare stand_in_box(std::span<const double> positions) {
  const Box b = bounds(positions);
  const double extent = std::max(b.x_max - b.x_min, b.y_max - b.y_min);
  const double margin = extent > 0.0 ? extent * 0.125 : 1.0;
  return {b.x_min - margin, b.y_min - margin, b.x_max + margin, b.y_max + margin, false, 0.0, domain_edge, 0.0, 0.0};
}

template <class T>
void compute_cells(PowerDiagram& out, const BspTree& tree, const std::vector<std::int32_t>& owner,
                   const SeedFrame& frame, const PowerDiagramOptions& options, int threads) {
  const std::size_t n = tree.ids.size();
  const CellEngineLibrary& engine = detail::cell_engine_library(out.isa);
  const engine::WeightedSeeds2 seeds = detail::seed_set(tree);
  const std::optional<Box> domain = options.domain ? std::optional<Box>(frame.box_in(*options.domain)) : std::nullopt;
  const StartSquare unbounded_square = start_square(std::nullopt, tree.positions);
  const StartSquare square = domain ? start_square(domain, tree.positions) : stand_in_box(tree.positions);

  CellLists cells(n);
  const CellJob job{tree, seeds, owner, frame, square, domain ? nullptr : &unbounded_square, engine, options,
                    cells, nullptr, nullptr};
  auto start = Clock::now();
  detail::run_cells<T>(job, threads);
  out.timings.cells = seconds_since(start);

  start = Clock::now();
  if (!detail::make_cells_agree(job, std::is_same_v<T, float>, threads)) {
    // Seeds closer than float resolves, in cells that disagree even where
    // computed again in double: the whole diagram in double is the answer.
    if constexpr (std::is_same_v<T, float>) compute_cells<double>(out, tree, owner, frame, options, threads);
    return;
  }
  std::vector<std::int32_t> caller = detail::huge_page_vector<std::int32_t>(n);
  for (std::size_t t = 0; t < n; ++t) caller[t] = static_cast<std::int32_t>(tree.ids[t]);
  detail::to_caller_order(out, cells, caller, threads);
  detail::check_finite(out, threads);
  out.timings.assemble = seconds_since(start);
}

}  // namespace

PowerDiagram power_diagram(std::span<const double> positions, std::span<const double> weights,
                           const PowerDiagramOptions& options) {
  auto start = Clock::now();
  detail::check_power_input(positions, weights, options);
  const std::size_t n = positions.size() / 2;
  PowerDiagram out;
  out.isa = options.isa ? *options.isa : default_isa_level();
  require_isa_level(out.isa);
  out.threads = options.threads > 0 ? options.threads : vorn::detail::configured_thread_count();
  detail::size_outputs(out, n, out.threads);
  if (n == 0) return out;
  if (options.periodic) {
    detail::periodic_diagram(out, positions, weights, options, start);
    return out;
  }

  const SeedFrame frame = detail::seed_frame(positions, weights, options.domain);
  detail::check_frame_weights(frame, weights, options);
  const BspTree tree =
      detail::build_bsp_tree_over(BspUnit::weighted_2d, detail::positions_in(frame, positions, out.threads),
                                  detail::weights_in(frame, weights, n, out.threads), options.leaf_size, out.isa,
                                  out.threads);
  const std::vector<std::int32_t> owner = detail::position_owners(tree, {}, out.threads);
  out.timings.tree = seconds_since(start);
  if (options.precision == CellPrecision::single_precision) {
    compute_cells<float>(out, tree, owner, frame, options, out.threads);
  } else {
    compute_cells<double>(out, tree, owner, frame, options, out.threads);
  }
  return out;
}

}  // namespace vorn::host
