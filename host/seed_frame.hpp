// The frame in which the cell engine sees a diagram: the caller's seeds and
// box moved toward the origin and scaled by a power of two, so that the
// engine's arithmetic works at one magnitude whatever the caller's units.
//
// Coordinates become (x - shift_x) * 2^exponent, weights (w - shift_w) *
// 2^(2 exponent), so power distances scale by 2^(2 exponent) and every
// bisector stays where it was. A shift is used only where every subtraction
// it makes is exact (all values within a factor of two of it), and the
// scaling is exact unless a value falls below the smallest normal double, so
// the seeds the engine sees are the caller's seeds.
//
// Why: the engine grows an unbounded cell's stand-in by an absolute margin
// as well as a relative one, which at small scales pushes it so far out that
// its cuts lose the cell's digits; float cells overflow or underflow outside
// a narrow range of magnitudes; and far-off cells' centroids overflow when
// their shoelace products are formed in the caller's units.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "vorn/host/power_diagram.hpp"

namespace vorn::host::detail {

struct SeedFrame {
  // The engine's coordinates are at most 2^frame_magnitude in magnitude:
  // far above every absolute term of the engine, and small enough that float
  // cells square them without overflow.
  static constexpr int frame_magnitude = 40;
  // Weights are at most 2^weight_magnitude in magnitude: when the seeds'
  // scale would take them beyond, the exponent is lowered (which changes
  // nothing in a box, where the engine has no absolute term). Far below the
  // double range, so sums of a few such values stay finite.
  static constexpr int weight_magnitude = 900;

  double shift_x = 0.0;
  double shift_y = 0.0;
  double shift_w = 0.0;
  int exponent = 0;
  // A power of two that bounds the shifted coordinates of seeds and box.
  double reach = std::ldexp(1.0, frame_magnitude);

  double x_in(double x) const { return scaled(x - shift_x, exponent); }
  double y_in(double y) const { return scaled(y - shift_y, exponent); }
  double w_in(double w) const { return scaled(w - shift_w, 2 * exponent); }
  double x_out(double x) const { return scaled(x, -exponent) + shift_x; }
  double y_out(double y) const { return scaled(y, -exponent) + shift_y; }
  double area_out(double area) const { return scaled(area, -2 * exponent); }

  // v * 2^e: a product with the power of two where that is a normal double
  // (the same bits as ldexp, at the cost of a multiplication).
  static double scaled(double v, int e) {
    return e >= -1022 && e <= 1023 ? v * std::bit_cast<double>(static_cast<std::uint64_t>(e + 1023) << 52)
                                   : std::ldexp(v, e);
  }
  Box box_in(const Box& b) const { return {x_in(b.x_min), y_in(b.y_min), x_in(b.x_max), y_in(b.y_max)}; }
};

// The frame for these seeds (n x 2) and weights (n or none) in `domain` (or
// the whole plane): shifts from the bounds of seeds and box together, the
// exponent from the largest shifted coordinate and weight.
SeedFrame seed_frame(std::span<const double> positions, std::span<const double> weights,
                     const std::optional<Box>& domain);

// The seeds' positions and weights (all zero when none are given) in the
// frame, in arrays whose pages `threads` threads provide.
std::vector<double> positions_in(const SeedFrame& frame, std::span<const double> positions, int threads);
std::vector<double> weights_in(const SeedFrame& frame, std::span<const double> weights, std::size_t n, int threads);

}  // namespace vorn::host::detail
