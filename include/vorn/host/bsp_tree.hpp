// Building BSP trees of point clouds with the BSP level units.
//
// A tree of L levels comes from L calls of one unit: level 0 is the root over
// the whole cloud, and level l + 1 holds the two children of every node of
// level l (node b's lower child at 2b, its upper child at 2b + 1), so level l
// has 2^l nodes, some possibly empty. The tree is returned in the cell
// engine's numbering: depth-first pre-order, root 0 at engine level L, and the
// children of node d at engine level E >= 2 are d + 1 (lower) and
// d + 2^(E-1) (upper); builder level l is engine level L - l.
#pragma once

#include <span>
#include <vector>

#include "vorn/host/isa_level.hpp"

namespace vorn::host {

enum class BspUnit {
  weighted_2d,  // unit_bsp_level_2d_weighted: 2-D points with weights and weight majorants
  plain_3d,     // unit_bsp_level_3d
  plain_2d,     // unit_bsp_level_2d
};

int bsp_dimension(BspUnit unit);
bool bsp_weighted(BspUnit unit);

// The host buffers of one level call, each dense row-major; n points, m nodes,
// D = bsp_dimension(unit). Weights and majorant spans are ignored (and may be
// empty) for the unweighted units. Nothing is checked: see run_bsp_level.
struct BspLevelBuffers {
  std::span<const double> positions;     // n x D, input cloud
  std::span<const double> weights;       // n
  std::span<const long long> ids;        // n
  std::span<const long long> params;     // at least 1: params[0] = leaf_size
  std::span<const long long> node_begin;  // m
  std::span<const long long> node_end;    // m
  std::span<double> out_positions;       // n x D, output cloud
  std::span<double> out_weights;         // n
  std::span<long long> out_ids;          // n
  std::span<long long> node_split;       // m
  std::span<double> node_box;            // m x 2 x D, low corner first
  std::span<double> majorant_gradient;   // m x D
  std::span<double> majorant_offset;     // m
  std::span<long long> order;            // n, scratch
  std::span<int> status;                 // any length, cleared by the unit
};

// One call of the unit's exported entry over `buffers`. The unit checks
// nothing: node ranges must lie in [0, n) and be pairwise disjoint, the input
// and output clouds distinct, and m, n·D and 2·D·m below 2^31. `level`
// chooses the unit's build (every build gives the same bits); the unit runs
// on at most `threads` threads of the runtime's pool (0: all of them).
void run_bsp_level(BspUnit unit, const BspLevelBuffers& buffers, IsaLevel level = default_isa_level(),
                   int threads = 0);

// A finished tree. The cloud is in tree order (every node's points contiguous,
// a lower child's range right before its upper child's); ids[k] is the index
// in the input cloud of tree point k. Node arrays are in pre-order numbering.
struct BspTree {
  BspUnit unit{};
  int dimension = 0;
  int levels = 0;                          // L, the engine's root level
  std::vector<double> positions;           // n x D
  std::vector<double> weights;             // n; empty for unweighted units
  std::vector<long long> ids;              // n
  std::vector<long long> node_begin;       // 2^L - 1
  std::vector<long long> node_end;         // 2^L - 1
  std::vector<double> node_box;            // (2^L - 1) x 2 x D
  std::vector<double> majorant_gradient;   // (2^L - 1) x D; empty for unweighted units
  std::vector<double> majorant_offset;     // 2^L - 1; empty for unweighted units

  long long point_count() const { return static_cast<long long>(ids.size()); }
  long long node_count() const { return static_cast<long long>(node_begin.size()); }
};

// Builds the tree over `positions` (n x D) and, for the weighted unit,
// `weights` (n; must be empty otherwise), with as many levels as it takes for
// every leaf to hold at most leaf_size points or only coincident points.
// Throws std::invalid_argument, before any unit runs, on a leaf_size below 1,
// mismatched lengths, a non-finite coordinate or weight (naming the first
// such point), or a cloud too large for the units' 32-bit work counts.
// The units run on at most `threads` threads of the runtime's pool (0: on
// all of them, $VORN_NUM_THREADS or every hardware thread).
BspTree build_bsp_tree(BspUnit unit, std::span<const double> positions, std::span<const double> weights,
                       long long leaf_size, IsaLevel level = default_isa_level(), int threads = 0);

// The size checks of build_bsp_tree alone: n points of `unit` with leaf_size
// must keep n·D and every level's 2·D·m below 2^31.
void check_bsp_tree_size(BspUnit unit, long long point_count, long long leaf_size);

}  // namespace vorn::host
