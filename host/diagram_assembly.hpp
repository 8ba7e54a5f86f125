// The steps of a power diagram around its cell phase: the engine's view of
// the seeds' tree, the owners of shared positions, and the cells gathered
// into the caller's numbering and checked.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "cell_lists.hpp"
#include "vorn/engine/bsp_seeds.hpp"
#include "vorn/host/bsp_tree.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn::host::detail {

// The engine's view of a finished tree; the tree keeps the arrays alive.
engine::WeightedSeeds2 seed_set(const BspTree& tree);

// For every tree seed, the tree seed that owns its position: among seeds at
// exactly the same position the heaviest, the lowest rank breaking ties.
// Every other seed of such a group gets an empty cell. `rank` gives each
// input index (tree.ids) its rank; empty: the input index itself.
std::vector<std::int32_t> position_owners(const BspTree& tree, std::span<const std::int32_t> rank, int threads);

// Sizes the per-seed outputs of n seeds (cell_begin n + 1 zeros), their
// pages provided by `threads` threads.
void size_outputs(PowerDiagram& out, std::size_t n, int threads);

// The cells' lists and figures in the caller's numbering: slot k's become
// seed caller[k]'s and every neighbour slot j becomes caller[j]; lists with
// shifts fill out.neighbour_shifts.
void to_caller_order(PowerDiagram& out, const CellLists& cells, std::span<const std::int32_t> caller, int threads);

// Throws std::range_error naming the first bounded cell with a vertex, area
// or centroid that is not finite: a cell too large for a double is refused
// rather than returned as infinities.
void check_finite(const PowerDiagram& out, int threads);

}  // namespace vorn::host::detail
