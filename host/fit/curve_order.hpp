// The order in which a fit numbers its seeds: along a Hilbert curve through
// them, so that neighbouring cells get nearby numbers. Every pass of a fit
// over cells and their neighbours (the diagram's assembly, the Newton
// matrix, its fill-reducing ordering and its products) then reads memory
// nearly in order, instead of one cache miss per neighbour.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "vorn/host/power_diagram.hpp"

namespace vorn::host::detail {

// Each seed's rank along a Hilbert curve through the seeds' bounding box
// (on a grid of 2^16 cells a side; seeds in one grid cell by index):
// a permutation of 0 .. n - 1.
std::vector<std::int32_t> curve_ranks(std::span<const double> positions);

// `values` (k per seed) with seed i's moved to place rank[i].
std::vector<double> in_curve_order(std::span<const double> values, std::span<const std::int32_t> rank, int k);

// Per-seed values in curve order back in the seeds' order.
std::vector<double> in_seed_order(const std::vector<double>& values, std::span<const std::int32_t> rank);

// A diagram of the seeds in curve order as the diagram of the seeds in
// their own order: cell i is the cell of place rank[i], and neighbours are
// renamed to match.
PowerDiagram in_seed_order(const PowerDiagram& diagram, std::span<const std::int32_t> rank, int threads);

}  // namespace vorn::host::detail
