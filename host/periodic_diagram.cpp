#include "periodic_diagram.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "bsp_tree_build.hpp"
#include "cell_phase.hpp"
#include "diagram_assembly.hpp"
#include "huge_pages.hpp"
#include "power_input.hpp"
#include "seed_frame.hpp"
#include "worker_threads.hpp"

namespace vorn::host {

namespace {

// v moved by a whole number of periods into [lo, hi). fmod is exact, so only
// the difference v - lo and the final sum round; a sum that rounds onto hi
// is the same point of the torus as lo.
double wrapped(double v, double lo, double hi) {
  if (!std::isfinite(v) || (v >= lo && v < hi)) return v;
  const double period = hi - lo;
  double r = std::fmod(v - lo, period);
  if (r < 0.0) r += period;
  const double w = lo + r;
  return w < hi ? w : lo;
}

}  // namespace

std::vector<double> periodic_positions(std::span<const double> positions, const Box& box) {
  std::vector<double> out(positions.begin(), positions.end());
  for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
    out[i] = wrapped(out[i], box.x_min, box.x_max);
    out[i + 1] = wrapped(out[i + 1], box.y_min, box.y_max);
  }
  return out;
}

namespace detail {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The band of copies around the box: its widths beyond the box's sides
// along x and along y, in the caller's units.
struct Band {
  double x, y;
};

// The seeds on the torus, in the caller's units, their frame, and the
// bands of copies around the box.
struct Torus {
  Box box;
  double period_x, period_y;              // caller's units
  std::span<const double> positions;      // caller's units, to be wrapped
  std::span<const double> weights;        // caller's units, one per seed or none (all zero)
  double heaviest;                        // the largest weight
  SeedFrame frame;
  Band first_band;
  // A band at which every cell is complete in exact arithmetic: a cell
  // lies within half a period of its seed (its own copies bound it), so a
  // band of a period holds, around each of its vertices, the rectangle of
  // half a period each way, and with it the copy of every seed nearest to
  // the vertex (see Completeness). A sixteenth more leaves room for
  // rounding; copies lie at most two periods away.
  Band full_band;

  std::size_t seed_count() const { return positions.size() / 2; }
};

// The first band: a few mean spacings and the square root of the weights'
// spread (a vertex's power distance to its seed is about the squared
// spacing, and the spread adds to what a copy beyond the band must beat).
Torus torus_of(std::span<const double> positions, std::span<const double> weights, const Box& box) {
  Torus t;
  t.box = box;
  t.period_x = box.x_max - box.x_min;
  t.period_y = box.y_max - box.y_min;
  t.positions = positions;
  const std::size_t n = t.seed_count();
  t.weights = weights;
  const auto [lightest, heaviest] = std::minmax_element(weights.begin(), weights.end());
  const double spread = weights.empty() ? 0.0 : *heaviest - *lightest;
  t.heaviest = weights.empty() ? 0.0 : *heaviest;
  t.full_band = {t.period_x * (1.0 + 1.0 / 16), t.period_y * (1.0 + 1.0 / 16)};
  const double first = 4.0 * std::sqrt(t.period_x * t.period_y / static_cast<double>(n)) + std::sqrt(spread);
  t.first_band = {std::min(first, t.full_band.x), std::min(first, t.full_band.y)};
  const Box reach{box.x_min - t.full_band.x, box.y_min - t.full_band.y, box.x_max + t.full_band.x,
                  box.y_max + t.full_band.y};
  // The wrapped seeds lie in the box, within `reach`: they add nothing to the frame.
  t.frame = seed_frame({}, weights, reach);
  return t;
}

// The seeds and their copies whose positions lie in the box widened by a
// band, in the engine's frame: the seeds first (input index = seed index),
// then the copies.
struct BandSeeds {
  std::vector<double> positions, weights;
  std::vector<std::int32_t> seed;  // per input index: the seed it is a copy of (or is)
  std::vector<ShiftCode> shift;    // per input index: the copy's shift
};

BandSeeds band_seeds(const Torus& t, Band band) {
  const SeedFrame& f = t.frame;
  const double px = SeedFrame::scaled(t.period_x, f.exponent), py = SeedFrame::scaled(t.period_y, f.exponent);
  const double bx = SeedFrame::scaled(band.x, f.exponent), by = SeedFrame::scaled(band.y, f.exponent);
  const double x0 = f.x_in(t.box.x_min) - bx, x1 = f.x_in(t.box.x_max) + bx;
  const double y0 = f.y_in(t.box.y_min) - by, y1 = f.y_in(t.box.y_max) + by;
  const int kx = static_cast<int>(std::ceil(band.x / t.period_x)), ky = static_cast<int>(std::ceil(band.y / t.period_y));
  const std::size_t n = t.seed_count();
  BandSeeds s;
  // About as many copies as the band's area holds seeds, and a margin.
  const double widened = (t.period_x + 2.0 * band.x) * (t.period_y + 2.0 * band.y) / (t.period_x * t.period_y);
  const std::size_t room = n + static_cast<std::size_t>(static_cast<double>(n) * (widened - 1.0) * 1.0625) + 64;
  reserve_on_huge_pages(s.positions, 2 * room), reserve_on_huge_pages(s.weights, room);
  reserve_on_huge_pages(s.seed, room), reserve_on_huge_pages(s.shift, room);
  s.positions.resize(2 * n), s.weights.resize(n), s.seed.resize(n), s.shift.assign(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    s.positions[2 * i] = f.x_in(wrapped(t.positions[2 * i], t.box.x_min, t.box.x_max));
    s.positions[2 * i + 1] = f.y_in(wrapped(t.positions[2 * i + 1], t.box.y_min, t.box.y_max));
    s.weights[i] = t.weights.empty() ? 0.0 : f.w_in(t.weights[i]);
    s.seed[i] = static_cast<std::int32_t>(i);
  }
  // A seed farther than the band from every side of the box has no copy in it.
  const double inner_x0 = x0 + 2.0 * bx, inner_x1 = x1 - 2.0 * bx, inner_y0 = y0 + 2.0 * by, inner_y1 = y1 - 2.0 * by;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = s.positions[2 * i], y = s.positions[2 * i + 1], w = s.weights[i];
    if (x > inner_x0 && x < inner_x1 && y > inner_y0 && y < inner_y1) continue;
    for (int sx = -kx; sx <= kx; ++sx) {
      const double copy_x = x + sx * px;
      if (copy_x < x0 || copy_x > x1) continue;
      for (int sy = -ky; sy <= ky; ++sy) {
        const double copy_y = y + sy * py;
        if ((sx == 0 && sy == 0) || copy_y < y0 || copy_y > y1) continue;
        s.positions.push_back(copy_x), s.positions.push_back(copy_y), s.weights.push_back(w);
        s.seed.push_back(static_cast<std::int32_t>(i)), s.shift.push_back(shift_code(sx, sy));
      }
    }
  }
  return s;
}

// One band's tree over the seeds and their copies, and the numbering of the
// cells' lists in it. Slots are fixed by the first band's tree order (seeds
// near each other in neighbouring slots).
struct Round {
  BspTree tree;
  std::vector<std::int32_t> owner;
  engine::WeightedSeeds2 seeds;
  CellSlots slots;
  StartSquare square;
};

// `slot_of_seed` and `seed_of_slot` are made by the first round, and read after.
void make_round(Round& r, const Torus& t, Band band, const PowerDiagramOptions& options, const PowerDiagram& out,
                std::vector<std::int32_t>& slot_of_seed, std::vector<std::int32_t>& seed_of_slot) {
  const std::size_t n = t.seed_count();
  BandSeeds band_input = band_seeds(t, band);
  r.tree = build_bsp_tree_over(BspUnit::weighted_2d, std::move(band_input.positions), std::move(band_input.weights),
                               options.leaf_size, out.isa, out.threads);
  // Copies of one position keep the seeds' rule: heaviest, then lowest seed index.
  r.owner = position_owners(r.tree, band_input.seed, out.threads);
  r.seeds = seed_set(r.tree);
  const std::size_t size = r.tree.ids.size();
  if (seed_of_slot.empty()) {
    slot_of_seed.assign(n, 0);
    for (std::size_t k = 0; k < size; ++k) {
      if (static_cast<std::size_t>(r.tree.ids[k]) >= n) continue;
      slot_of_seed[static_cast<std::size_t>(r.tree.ids[k])] = static_cast<std::int32_t>(seed_of_slot.size());
      seed_of_slot.push_back(static_cast<std::int32_t>(r.tree.ids[k]));
    }
  }
  reserve_on_huge_pages(r.slots.tree_seed, n);
  r.slots.tree_seed.assign(n, 0);
  reserve_on_huge_pages(r.slots.copy, size);
  r.slots.copy.resize(size);
  // Gathers from three tables in input order: on every thread. Each tree
  // seed writes its own copy and each seed its own slot's tree seed.
  constexpr std::size_t chunk = 1 << 14;
  for_each_index((size + chunk - 1) / chunk, out.threads, [&](std::size_t c) {
    for (std::size_t k = c * chunk; k < std::min(size, (c + 1) * chunk); ++k) {
      const std::size_t input = static_cast<std::size_t>(r.tree.ids[k]);
      const std::int32_t slot = slot_of_seed[static_cast<std::size_t>(band_input.seed[input])];
      r.slots.copy[k] = {r.owner[k], slot, band_input.shift[input]};
      if (input < n) r.slots.tree_seed[static_cast<std::size_t>(slot)] = static_cast<std::int32_t>(k);
    }
  });
  const double half_x = SeedFrame::scaled(0.5 * t.period_x, t.frame.exponent);
  const double half_y = SeedFrame::scaled(0.5 * t.period_y, t.frame.exponent);
  r.square = {0.0, 0.0, 0.0, 0.0, false, 0.0, domain_edge, half_x, half_y};
}

// The test of completeness in `band`, in the engine's frame.
Completeness completeness_in(const Torus& t, Band band, std::vector<std::uint8_t>& complete) {
  const SeedFrame& f = t.frame;
  const auto in = [&](double length) { return SeedFrame::scaled(length, f.exponent); };
  const Box region{f.x_in(t.box.x_min) - in(band.x), f.y_in(t.box.y_min) - in(band.y), f.x_in(t.box.x_max) + in(band.x),
                   f.y_in(t.box.y_max) + in(band.y)};
  return {{region, in(0.5 * t.period_x), in(0.5 * t.period_y), t.weights.empty() ? 0.0 : f.w_in(t.heaviest)},
          in(rounding_level(f, 0.0, false)),
          in(rounding_level(f, 0.0, true)),
          complete};
}

// The slots among `among` (increasing; empty: every slot) whose cells are
// not marked complete, increasing.
std::vector<std::int32_t> incomplete(const std::vector<std::uint8_t>& complete, const std::vector<std::int32_t>& among) {
  std::vector<std::int32_t> slots;
  if (among.empty()) {
    for (std::size_t k = 0; k < complete.size(); ++k) {
      if (!complete[k]) slots.push_back(static_cast<std::int32_t>(k));
    }
  }
  for (const std::int32_t k : among) {
    if (!complete[static_cast<std::size_t>(k)]) slots.push_back(k);
  }
  return slots;
}

// The cells in T, band after band; false when float cells disagree where
// double ones would not (the caller computes them all in double).
template <class T>
bool compute_cells(PowerDiagram& out, const Torus& t, const PowerDiagramOptions& options) {
  constexpr bool single = std::is_same_v<T, float>;
  const int threads = out.threads;
  const CellEngineLibrary& engine = cell_engine_library(out.isa);
  CellLists cells(t.seed_count());
  std::vector<std::uint8_t> complete(t.seed_count(), 0);
  std::vector<std::int32_t> slot_of_seed, seed_of_slot, again;
  Band band = t.first_band;
  for (bool first = true;; first = false) {
    auto start = Clock::now();
    Round round;
    make_round(round, t, band, options, out, slot_of_seed, seed_of_slot);
    out.timings.tree += seconds_since(start);
    start = Clock::now();
    const Completeness completeness = completeness_in(t, band, complete);
    const CellJob job{round.tree, round.seeds, round.owner, t.frame,      round.square,
                      nullptr,    engine,      options,     cells,        &round.slots, &completeness};
    first ? run_cells<T>(job, threads) : run_cells_again<T>(job, again, threads);
    // Cells complete in a narrower band stay complete: the copies beyond
    // this band lie beyond that one too.
    again = incomplete(complete, again);
    out.timings.cells += seconds_since(start);
    if (again.empty()) {
      start = Clock::now();
      std::vector<std::int32_t> recomputed;
      if (!make_cells_agree(job, single, threads, &recomputed)) return false;
      // Cells computed again to agree were tested again as they were recorded.
      if (!recomputed.empty()) again = incomplete(complete, recomputed);
      if (again.empty()) {
        out.ghost_count = static_cast<std::int64_t>(round.tree.ids.size() - t.seed_count());
        out.band_x = band.x;
        out.band_y = band.y;
        to_caller_order(out, cells, seed_of_slot, threads);
        check_finite(out, threads);
        out.timings.assemble += seconds_since(start);
        return true;
      }
      out.timings.assemble += seconds_since(start);
    }
    if (band.x >= t.full_band.x && band.y >= t.full_band.y) {
      const std::size_t seed = static_cast<std::size_t>(seed_of_slot[static_cast<std::size_t>(again.front())]);
      throw std::range_error("the periodic cell of seed " + std::to_string(seed) +
                             " cannot be certified complete even among every copy that could cut it: its vertices "
                             "are not resolved within double precision");
    }
    band = {std::min(2.0 * band.x, t.full_band.x), std::min(2.0 * band.y, t.full_band.y)};
    ++out.band_growths;
  }
}

}  // namespace

void periodic_diagram(PowerDiagram& out, std::span<const double> positions, std::span<const double> weights,
                      const PowerDiagramOptions& options, Clock::time_point start) {
  const Torus torus = torus_of(positions, weights, *options.domain);
  check_frame_weights(torus.frame, weights, options);
  out.timings.tree = seconds_since(start);
  if (options.precision == CellPrecision::single_precision && compute_cells<float>(out, torus, options)) return;
  if (options.precision == CellPrecision::single_precision) {
    // Float cells that disagree even where computed again in double: the
    // whole diagram in double is the answer.
    const PowerDiagramTimings spent = out.timings;
    size_outputs(out, torus.seed_count(), out.threads);
    out.timings = spent;
    out.band_growths = 0;
  }
  compute_cells<double>(out, torus, options);
}

}  // namespace detail

}  // namespace vorn::host
