// Whole power (Laguerre) diagrams of weighted 2-D point sets.
//
// power_diagram builds the seeds' BSP with the weighted BSP level unit, then
// computes every seed's cell with the cell engine library on worker threads
// (all hardware threads by default), and returns the cells in the caller's
// numbering.
//
// The cell of seed i is the set of points p with |p - a_i|^2 - w_i <=
// |p - a_j|^2 - w_j for every j, clipped to the domain box (or, for an
// unbounded diagram, the whole plane). A cell may be empty: a heavier
// neighbour can cover it. Seeds at exactly the same position share one cell:
// the heaviest of them (the lowest index among equally heavy ones) gets it and
// the others are empty.
//
// Periodic diagrams (options.periodic) tile the flat torus whose period
// cell is the domain box: the plane holds every copy of every seed, seed j
// at p_j + (sx Lx, sy Ly) for all integers sx, sy, with Lx = x_max - x_min
// and Ly = y_max - y_min (as doubles), and cell i is seed i's power cell
// among all those copies, a convex polygon around the seed's own position
// that may cross the box's sides. A seed outside the box is first wrapped
// into it (periodic_positions: [x_min, x_max) x [y_min, y_max)). Every edge
// names the copy of the neighbour it faces; a seed may face copies of
// itself (few seeds, heavy weights) and several copies of one neighbour. The
// cells are computed among copies of the seeds in a band around the box,
// and a cell is kept only when no copy beyond the band can cut it (else
// the band is doubled and the cell computed again), so nothing is assumed
// about the seeds' spacing. The areas add up to the box's.
//
// Scale: the engine sees the seeds (and box) moved toward the origin by an
// exact shift and scaled by a power of two, so cells come out the same in
// any units: a diagram of seeds 1e-9 apart is as accurate as one of seeds 1
// apart. Double cells resolve about 2^-44 of the seeds' extent, float cells
// about 2^-20 (weights count by their square root); float cells of the whole
// plane are computed in a box around the seeds, and those that reach it
// again in double.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "vorn/host/isa_level.hpp"

namespace vorn::host {

// Neighbour markers of edges that no seed made.
inline constexpr std::int32_t domain_edge = -1;    // the edge lies on the domain box
inline constexpr std::int32_t infinite_edge = -2;  // stand-in for an edge at infinity (unbounded cells only)

// Axis-aligned box [x_min, x_max] x [y_min, y_max]; finite, x_min < x_max, y_min < y_max.
struct Box {
  double x_min = 0.0;
  double y_min = 0.0;
  double x_max = 1.0;
  double y_max = 1.0;
};

enum class CellPrecision { single_precision, double_precision };

struct PowerDiagramOptions {
  std::optional<Box> domain = Box{};  // nullopt: cells of the whole plane
  // Cells of the flat torus whose period cell is `domain` (which must be
  // given): see the top of this header.
  bool periodic = false;
  CellPrecision precision = CellPrecision::double_precision;
  // Threads of the whole call (the tree's at most the runtime pool's); 0:
  // $VORN_NUM_THREADS, else every hardware thread.
  int threads = 0;
  long long leaf_size = 16;  // at most this many seeds per BSP leaf (coincident seeds excepted)
  int initial_capacity = 32;  // vertex slots per cell at the start (4 to 2^24); enlarged on demand
  // The library builds to run (every level gives the same bits); nullopt:
  // default_isa_level(). A level this CPU cannot run is refused.
  std::optional<IsaLevel> isa;
  // Called with (cells done, cell count) as the cell phase advances. Calls
  // come from the worker threads one at a time, never concurrently, with
  // non-decreasing counts.
  std::function<void(long long, long long)> progress;
  // When positive, the call throws SmallCellError at the first cell found
  // with an area below this (an empty cell has area 0), in the caller's
  // units, instead of computing the rest: a caller that would reject such a
  // diagram (a trial step of a weight fit) learns it at a fraction of the
  // cost. Which small cell is found first depends on the threads; whether
  // one is found does not. The area checked is the cell's as first
  // computed, which differs from the returned one by rounding at most.
  double minimum_area = 0.0;
};

// What power_diagram throws when a cell's area is below
// PowerDiagramOptions::minimum_area.
class SmallCellError : public std::range_error {
 public:
  SmallCellError(std::int64_t seed, double area, double minimum_area);
  ~SmallCellError() override;

  std::int64_t seed() const { return seed_; }
  double area() const { return area_; }

 private:
  std::int64_t seed_;
  double area_;
};

// Wall-clock seconds of each phase.
struct PowerDiagramTimings {
  double tree = 0.0;      // input checks, BSP tree, coincident-seed groups
  double cells = 0.0;     // every engine call
  double assemble = 0.0;  // gathering the cells into the caller's numbering
};

// The cells in the caller's numbering. Cell i's vertices are
// xs/ys[cell_begin[i] .. cell_begin[i + 1]), counter-clockwise; edge k runs
// from vertex k to vertex k + 1 (wrapping) and neighbours[k] is the index of
// the seed whose bisector it lies on, or domain_edge, or infinite_edge.
// Every edge is longer than the rounding level of the arithmetic (where cells
// meet at a point, a seed that only touches the point is not a neighbour),
// every neighbour relation holds on both sides (j lists i whenever i lists j)
// and consecutive edges have different neighbours (except box and infinite
// edges, which meet at corners).
//
// A periodic diagram's edges name seeds only (no domain or infinite edge),
// and neighbour_shifts holds two small integers per edge, (sx, sy), each
// -1, 0 or 1 (a cell and its neighbours' cells lie within half a period of
// their seeds, so the copy faced is at most one period away): edge k lies
// on the bisector with the copy of seed neighbours[k] at
// p + (sx Lx, sy Ly), p its wrapped position. The relation is mutual with
// opposite shifts: if cell i faces j's copy (sx, sy), cell j faces i's copy
// (-sx, -sy) along the same edge moved by (-sx Lx, -sy Ly). Translating
// every cell by every (a Lx, b Ly) tiles the plane. neighbour_shifts is empty
// for other diagrams.
//
// An unbounded cell (possible only without a domain) is returned as the
// engine's finite stand-in: its infinite edges (neighbour infinite_edge) lie
// at arbitrary positions beyond every finite feature; its finite edges and the
// vertices between two finite edges are exact. Its area is +infinity and its
// centroid NaN. An empty cell (also one reduced to a single point) has no
// vertices, area 0 and a NaN centroid.
struct PowerDiagram {
  std::vector<std::int64_t> cell_begin;  // n + 1
  std::vector<double> xs;
  std::vector<double> ys;
  std::vector<std::int32_t> neighbours;
  std::vector<std::int8_t> neighbour_shifts;    // periodic diagrams: 2 per edge (sx, sy); else empty
  std::vector<double> areas;                    // n
  std::vector<double> centroid_x, centroid_y;  // n
  std::vector<std::uint8_t> empty;              // n; 1 for an empty cell
  std::vector<std::uint8_t> unbounded;          // n; 1 for an unbounded cell
  PowerDiagramTimings timings;
  int threads = 0;  // threads the call ran on
  IsaLevel isa = IsaLevel::x86_64;  // the level whose builds computed it
  // Periodic diagrams: the copies of seeds (ghosts) in the last band
  // computed, its widths beyond the box's sides along x and y in the
  // caller's units, and how often it was doubled because a cell was not yet
  // certified complete.
  std::int64_t ghost_count = 0;
  double band_x = 0.0, band_y = 0.0;
  int band_growths = 0;

  std::int64_t cell_count() const { return static_cast<std::int64_t>(areas.size()); }
  std::int64_t vertex_count(std::int64_t cell) const { return cell_begin[cell + 1] - cell_begin[cell]; }
};

// The positions (n x 2) wrapped into `box` periodically, as a periodic
// diagram takes them: x becomes x - k Lx for the integer k that puts it in
// [x_min, x_max) (x_max itself becomes x_min; a result that rounds onto
// x_max is x_min too), y likewise; positions inside stay as they are.
// Non-finite values are left for power_diagram to refuse.
std::vector<double> periodic_positions(std::span<const double> positions, const Box& box);

// Computes the power diagram of `positions` (n x 2: x then y per seed) with
// `weights` (n values, or empty for all zero).
//
// Throws std::invalid_argument, before any work, naming what is wrong: an odd
// number of coordinates, a weight count other than n or 0, a non-finite
// coordinate or weight (with the seed's index), n at or above 2^31, an empty,
// inverted or non-finite domain box, a periodic diagram without a domain
// box, a thread count outside 0 to 4096, a
// leaf size below 1 or an initial capacity outside 4 to 2^24, an unknown level in
// $VORN_ISA_LEVEL, or weights too far apart for the seeds' extent in the
// arithmetic asked for (the message gives the bound). Throws
// std::range_error when the cells cannot be computed within the range or
// resolution of double precision: a cell too large for a double, or cells
// that disagree on a shared edge even when computed again in double in a
// box around their vertices. Throws std::runtime_error when a library cannot
// be loaded or this CPU lacks a feature of the instruction-set level asked
// for. Nothing is returned unless every cell is complete and every
// neighbour relation holds on both sides.
PowerDiagram power_diagram(std::span<const double> positions, std::span<const double> weights,
                           const PowerDiagramOptions& options = {});

}  // namespace vorn::host
