#include "power_input.hpp"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>

namespace vorn::host::detail {

std::string number_text(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

namespace {

// Beyond these magnitudes the bisector of two seeds (products of coordinate
// sums and differences, plus weight differences) may overflow a double.
constexpr double coordinate_limit = 1e150;
constexpr double weight_limit = 1e300;

void check_value(double value, double limit, long long seed, const char* what) {
  if (!std::isfinite(value)) {
    throw std::invalid_argument("seed " + std::to_string(seed) + " has a non-finite " + what + " (" +
                                number_text(value) + ")");
  }
  if (std::fabs(value) > limit) {
    throw std::invalid_argument("seed " + std::to_string(seed) + " has " + what + " " + number_text(value) +
                                ", beyond the supported magnitude " + number_text(limit));
  }
}

void check_counts(std::span<const double> positions, std::span<const double> weights) {
  if (positions.size() % 2 != 0) {
    throw std::invalid_argument("positions holds " + std::to_string(positions.size()) +
                                " values, not an even number (x then y for every seed)");
  }
  const std::size_t n = positions.size() / 2;
  if (n >= (std::size_t{1} << 31)) {
    throw std::invalid_argument(std::to_string(n) + " seeds: the seed count must stay below 2^31");
  }
  if (!weights.empty() && weights.size() != n) {
    throw std::invalid_argument("weights holds " + std::to_string(weights.size()) + " values for " +
                                std::to_string(n) + " seeds (give one weight per seed, or none)");
  }
}

void check_box(const Box& box) {
  if (!std::isfinite(box.x_min) || !std::isfinite(box.y_min) || !std::isfinite(box.x_max) ||
      !std::isfinite(box.y_max)) {
    throw std::invalid_argument("the domain box has a non-finite bound");
  }
  if (!(box.x_min < box.x_max) || !(box.y_min < box.y_max)) {
    throw std::invalid_argument("the domain box [" + number_text(box.x_min) + ", " + number_text(box.x_max) +
                                "] x [" + number_text(box.y_min) + ", " + number_text(box.y_max) +
                                "] is empty or inverted: need x_min < x_max and y_min < y_max");
  }
  for (const double bound : {box.x_min, box.y_min, box.x_max, box.y_max}) {
    if (std::fabs(bound) > coordinate_limit) {
      throw std::invalid_argument("the domain box bound " + number_text(bound) +
                                  " is beyond the supported magnitude " + number_text(coordinate_limit));
    }
  }
}

void check_options(const PowerDiagramOptions& options) {
  if (options.domain) check_box(*options.domain);
  if (options.periodic && !options.domain) {
    throw std::invalid_argument("a periodic diagram needs a domain box: the box is its period cell");
  }
  if (options.threads < 0 || options.threads > 4096) {
    throw std::invalid_argument("threads must be 0 (all) or from 1 to 4096, got " + std::to_string(options.threads));
  }
  if (options.leaf_size < 1) {
    throw std::invalid_argument("leaf_size must be at least 1, got " + std::to_string(options.leaf_size));
  }
  if (options.initial_capacity < 4 || options.initial_capacity > (1 << 24)) {
    throw std::invalid_argument("initial_capacity must be from 4 (a box has four vertices) to 2^24, got " +
                                std::to_string(options.initial_capacity));
  }
  if (!(options.minimum_area >= 0.0)) {
    throw std::invalid_argument("minimum_area must be 0 (no minimum) or positive, got " +
                                number_text(options.minimum_area));
  }
}

// Largest weight magnitudes, in the engine's frame (coordinates up to 2^40).
// In a box every vertex lies in the box, so weights are bounded only by the
// range of a double. Cells of the whole plane: a weight difference moves a
// bisector by itself over the seeds' distance, and nearly parallel bisectors
// meet that much farther out again, so beyond about 2^40 times the squared
// extent the far vertices carry more rounding than the seeds' spacing.
// Float cells: pruning sums of squared coordinates and weights.
constexpr int frame_weight_exponent_box = SeedFrame::weight_magnitude;
constexpr int frame_weight_exponent_plane = 120;
constexpr int frame_weight_exponent_float = 100;

}  // namespace

void check_frame_weights(const SeedFrame& frame, std::span<const double> weights, const PowerDiagramOptions& options) {
  const bool single = options.precision == CellPrecision::single_precision;
  const int limit_exponent =
      single ? frame_weight_exponent_float : options.domain ? frame_weight_exponent_box : frame_weight_exponent_plane;
  const double limit = std::ldexp(1.0, limit_exponent);
  for (std::size_t i = 0; i < weights.size(); ++i) {
    if (std::fabs(frame.w_in(weights[i])) <= limit) continue;
    const double reach = frame.reach;
    const int excess = limit_exponent - 2 * SeedFrame::frame_magnitude;
    const std::string cells = single ? "single-precision cells" : options.domain ? "double-precision cells" : "double-precision cells of the whole plane";
    const std::string hint = single ? "use double precision" : options.domain ? "scale the weights down" : "give a domain box";
    throw std::invalid_argument("seed " + std::to_string(i) + " has weight " + number_text(weights[i]) + ": for " +
                                cells + " with seeds" + (options.domain ? " and box" : "") + " within " +
                                number_text(reach) + " of (" + number_text(frame.shift_x) + ", " +
                                number_text(frame.shift_y) + "), weights must lie within " +
                                number_text(std::ldexp(reach * reach, excess)) + " of " +
                                number_text(frame.shift_w) + " (2^" + std::to_string(excess) + " times " +
                                number_text(reach) + " squared); " + hint);
  }
}

void check_power_input(std::span<const double> positions, std::span<const double> weights,
                       const PowerDiagramOptions& options) {
  check_counts(positions, weights);
  check_options(options);
  const std::size_t n = positions.size() / 2;
  for (std::size_t i = 0; i < n; ++i) {
    const long long seed = static_cast<long long>(i);
    check_value(positions[2 * i], coordinate_limit, seed, "x coordinate");
    check_value(positions[2 * i + 1], coordinate_limit, seed, "y coordinate");
    if (!weights.empty()) check_value(weights[i], weight_limit, seed, "weight");
  }
}

}  // namespace vorn::host::detail
