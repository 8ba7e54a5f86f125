#include "seed_frame.hpp"

#include <algorithm>
#include <limits>

#include "huge_pages.hpp"

namespace vorn::host::detail {

namespace {

struct Range {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();

  void add(double v) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  bool empty() const { return lo > hi; }
};

// A shift s such that v - s is exact for every v of the range (Sterbenz: v
// within [s/2, 2s] for s > 0, mirrored for s < 0), or 0 when there is none:
// a range that reaches the origin or spans more than a factor of about
// three gains nothing from a shift anyway.
double exact_shift(const Range& r) {
  if (r.empty()) return 0.0;
  const double s = r.lo + (r.hi - r.lo) * 0.5;
  if (s > 0.0 && r.lo >= s * 0.5 && r.hi <= s * 2.0) return s;
  if (s < 0.0 && r.hi <= s * 0.5 && r.lo >= s * 2.0) return s;
  return 0.0;
}

double largest_magnitude(const Range& r, double shift) {
  return r.empty() ? 0.0 : std::max(std::fabs(r.lo - shift), std::fabs(r.hi - shift));
}

}  // namespace

SeedFrame seed_frame(std::span<const double> positions, std::span<const double> weights,
                     const std::optional<Box>& domain) {
  Range x, y, w;
  for (std::size_t i = 0; i + 1 < positions.size(); i += 2) {
    x.add(positions[i]);
    y.add(positions[i + 1]);
  }
  if (domain) {
    x.add(domain->x_min), x.add(domain->x_max);
    y.add(domain->y_min), y.add(domain->y_max);
  }
  for (const double v : weights) w.add(v);

  SeedFrame frame;
  frame.shift_x = exact_shift(x);
  frame.shift_y = exact_shift(y);
  frame.shift_w = exact_shift(w);
  const double magnitude = std::max(largest_magnitude(x, frame.shift_x), largest_magnitude(y, frame.shift_y));
  // magnitude in [2^e, 2^(e+1)) lands in [2^(m-1), 2^m); coincident seeds
  // (magnitude 0) have no scale to take.
  if (magnitude > 0.0) {
    frame.exponent = SeedFrame::frame_magnitude - 1 - std::ilogb(magnitude);
    frame.reach = std::ldexp(1.0, std::ilogb(magnitude) + 1);
  }
  const double weight = largest_magnitude(w, frame.shift_w);
  if (weight > 0.0) {
    const int room = SeedFrame::weight_magnitude - 1 - std::ilogb(weight);  // 2 exponent <= room
    frame.exponent = std::min(frame.exponent, room >= 0 ? room / 2 : -((1 - room) / 2));
  }
  return frame;
}

std::vector<double> positions_in(const SeedFrame& frame, std::span<const double> positions, int threads) {
  std::vector<double> out = huge_page_vector<double>(positions.size(), 0.0, threads);
  for (std::size_t i = 0; i + 1 < positions.size(); i += 2) {
    out[i] = frame.x_in(positions[i]);
    out[i + 1] = frame.y_in(positions[i + 1]);
  }
  return out;
}

std::vector<double> weights_in(const SeedFrame& frame, std::span<const double> weights, std::size_t n,
                               int threads) {
  if (weights.empty()) return huge_page_vector<double>(n, 0.0, threads);
  std::vector<double> out = huge_page_vector<double>(weights.size(), 0.0, threads);
  for (std::size_t i = 0; i < weights.size(); ++i) out[i] = frame.w_in(weights[i]);
  return out;
}

}  // namespace vorn::host::detail
