// A cell record with arrays the host owns, reused from one seed to the next
// on one thread, and the engine call loop that enlarges them on demand.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "cell_engine_library.hpp"
#include "vorn/engine/engine_entry_names.hpp"

namespace vorn::host::detail {

// Where the engine calls of one diagram start: the domain box (edges with id
// domain_id), or for an unbounded diagram a square of half-size `half`
// around each seed whose edges stand for edges at infinity, or for a
// periodic diagram the rectangle of half a period each way around each
// seed (`half_period` x and y, both 0 otherwise): the seed's cell among its
// own copies, so its edges are the bisectors with the four nearest copies.
struct StartSquare {
  double x0, y0, x1, y1;
  bool infinite;
  double half;
  std::int32_t domain_id;
  double half_period_x, half_period_y;

  // The square for the seed at (x, y).
  StartSquare around(double x, double y) const {
    if (half_period_x > 0.0) {
      return {x - half_period_x, y - half_period_y, x + half_period_x, y + half_period_y, false, 0.0, domain_id,
              half_period_x, half_period_y};
    }
    if (!infinite) return *this;
    return {x - half, y - half, x + half, y + half, true, half, domain_id, 0.0, 0.0};
  }
};

template <class T>
class CellArrays {
 public:
  explicit CellArrays(int capacity) { enlarge(capacity); }

  Local2<T>& cell() { return cell_; }

  // Resets the cell to the start square, counter-clockwise from the low corner.
  void start(const StartSquare& square) {
    const T x[] = {static_cast<T>(square.x0), static_cast<T>(square.x1), static_cast<T>(square.x1),
                   static_cast<T>(square.x0)};
    const T y[] = {static_cast<T>(square.y0), static_cast<T>(square.y0), static_cast<T>(square.y1),
                   static_cast<T>(square.y1)};
    for (int i = 0; i < 4; ++i) {
      xs_[i] = x[i];
      ys_[i] = y[i];
      ids_[i] = square.infinite ? infinite_cut_id : square.domain_id;
    }
    cell_.vertex_count = 4;
    cell_.unbounded = square.infinite;
    cell_.edge_lines_valid = false;
  }

  // The cell of `seed` (tree order) from `square`. Whenever the engine runs
  // out of slots the arrays are doubled and the cell starts again from the
  // square: resuming from the polygon cut so far would cut it again with
  // planes it already holds, so the cell's last bits would depend on the
  // capacity this thread's arrays happen to have. `max_capacity` bounds the
  // growth: a convex cell of n seeds in a box has at most n + 4 vertices, so
  // needing more means the engine is not converging.
  void run(const CellEngineLibrary& engine, const engine::WeightedSeeds2& seeds, long long seed,
           const StartSquare& square, int max_capacity) {
    for (;;) {
      start(square);
      const int result = engine.run(cell_, seeds, seed);
      if (result == engine::engine_finished) return;
      if (result != engine::engine_out_of_slots) {
        throw std::runtime_error("the cell engine returned " + std::to_string(result) + " for tree seed " +
                                 std::to_string(seed));
      }
      if (cell_.vertex_capacity >= max_capacity) {
        throw std::runtime_error("the cell engine asked for more than " + std::to_string(max_capacity) +
                                 " vertex slots for tree seed " + std::to_string(seed));
      }
      enlarge(cell_.vertex_capacity * 2 < max_capacity ? cell_.vertex_capacity * 2 : max_capacity);
    }
  }

 private:
  // New arrays of `capacity` slots; the cell starts again, so nothing in
  // them needs keeping.
  void enlarge(int capacity) {
    for (auto* a : {&xs_, &ys_, &nx_, &ny_, &offset_, &dists_, &gdx_, &gdy_}) a->resize(capacity);
    ids_.resize(capacity);
    cell_.vertex_capacity = capacity;
    cell_.xs = xs_.data();
    cell_.ys = ys_.data();
    cell_.cut_ids = ids_.data();
    cell_.edge_nx = nx_.data();
    cell_.edge_ny = ny_.data();
    cell_.edge_offset = offset_.data();
    cell_.plane_dists = dists_.data();
    cell_.grow_dx = gdx_.data();
    cell_.grow_dy = gdy_.data();
  }

  std::vector<T> xs_, ys_, nx_, ny_, offset_, dists_, gdx_, gdy_;
  std::vector<std::int32_t> ids_;
  Local2<T> cell_{};
};

}  // namespace vorn::host::detail
