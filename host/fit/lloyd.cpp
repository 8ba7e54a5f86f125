#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "newton_system.hpp"
#include "vorn/host/fit_weights.hpp"

namespace vorn::host {

namespace {

// The cells at `positions`: fitted to the targets, or under fixed weights.
FitResult cells_at(std::span<const double> positions, std::span<const double> weights,
                   std::span<const double> targets, const FitOptions& o) {
  if (!targets.empty()) return fit_weights(positions, targets, weights, o);
  FitResult r;
  r.weights.assign(weights.begin(), weights.end());
  r.weights.resize(positions.size() / 2, 0.0);
  r.diagram = power_diagram(positions, r.weights, o.diagram);
  r.masses = detail::cell_masses(r.diagram, o);
  r.converged = true;
  return r;
}

// Moves every seed to its cell's (mass) centroid; returns the farthest move.
// A seed whose cell has no mass stays.
double move_to_centroids(std::vector<double>& p, const FitResult& r, const FitOptions& o) {
  const std::size_t n = p.size() / 2;
  std::vector<Moments> m;
  if (o.density) m = cell_moments(r.diagram, *o.density, *o.diagram.domain, r.diagram.threads);
  double farthest = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    double cx = r.diagram.centroid_x[i], cy = r.diagram.centroid_y[i];
    if (o.density) {
      if (!(m[i].mass > 0)) continue;
      cx = m[i].mx / m[i].mass;
      cy = m[i].my / m[i].mass;
    }
    if (!std::isfinite(cx) || !std::isfinite(cy)) continue;
    farthest = std::max(farthest, std::hypot(cx - p[2 * i], cy - p[2 * i + 1]));
    p[2 * i] = cx;
    p[2 * i + 1] = cy;
  }
  return farthest;
}

}  // namespace

LloydResult lloyd(std::span<const double> positions, std::span<const double> weights,
                  std::span<const double> targets, const LloydOptions& options) {
  if (options.iterations < 0) {
    throw std::invalid_argument("Lloyd iterations must not be negative, got " + std::to_string(options.iterations));
  }
  if (!(options.tolerance >= 0)) throw std::invalid_argument("the Lloyd tolerance must not be negative");
  if (!options.fit.diagram.domain) {
    throw std::invalid_argument("Lloyd relaxation needs a domain box: cells of the whole plane have no centroid");
  }
  const bool periodic = options.fit.diagram.periodic;
  const Box& box = *options.fit.diagram.domain;
  LloydResult out;
  // On a periodic domain the cells lie around the wrapped positions, and a
  // seed moved to its centroid across the box's side is wrapped back.
  out.positions = periodic ? periodic_positions(positions, box) : std::vector<double>(positions.begin(), positions.end());
  out.fitted = cells_at(out.positions, weights, targets, options.fit);
  for (int k = 1; k <= options.iterations; ++k) {
    const double moved = move_to_centroids(out.positions, out.fitted, options.fit);
    if (periodic) out.positions = periodic_positions(out.positions, box);
    out.largest_move.push_back(moved);
    // Fixed weights stay as given; fitted ones start from the last fit.
    out.fitted = cells_at(out.positions, targets.empty() ? weights : std::span<const double>(out.fitted.weights),
                          targets, options.fit);
    if (options.on_iteration) options.on_iteration(k, moved, out.fitted);
    if (moved <= options.tolerance) break;
  }
  return out;
}

}  // namespace vorn::host
