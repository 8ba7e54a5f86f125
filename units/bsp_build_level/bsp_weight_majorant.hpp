// bsp_weight_majorant: an affine upper bound g·x + W of the weights of a node.
//
// The flat bound (g = 0) is always valid. A least-squares plane of weight over
// position replaces it when the fit is well conditioned, its slope is modest
// next to the weight range, and it shrinks the weights' spread enough. W is
// then the largest residual under the chosen slope plus a relative margin, so
// w_k <= g·x_k + W holds for every point of the node in absolute coordinates.
//
// Every operation below is rounded in the written order; fused_multiply_add marks the
// only fused operations (sums of products, g·x_k accumulated from 0, and the
// final margin).
#pragma once

#include <cmath>
#include <utility>

#include "vorn/fused_multiply_add.hpp"

namespace vorn {

namespace detail {

struct MajorantStats {
  double xmin, ymin, xmax, ymax;
  double wmin, wmax;
  double sx, sy, sw;
};

struct Slope {
  double a, b;
};

template <class Positions, class Weights>
MajorantStats majorant_stats(const Positions& p, const Weights& w, long long begin, long long end) {
  MajorantStats s{p(begin, 0), p(begin, 1), p(begin, 0), p(begin, 1), w(begin), w(begin), 0.0, 0.0, 0.0};
  for (long long k = begin; k < end; ++k) {
    const double x = p(k, 0), y = p(k, 1), wk = w(k);
    s.xmin = x < s.xmin ? x : s.xmin;
    s.ymin = y < s.ymin ? y : s.ymin;
    s.xmax = x > s.xmax ? x : s.xmax;
    s.ymax = y > s.ymax ? y : s.ymax;
    s.wmin = wk < s.wmin ? wk : s.wmin;
    s.wmax = wk > s.wmax ? wk : s.wmax;
    s.sx += x;
    s.sy += y;
    s.sw += wk;
  }
  return s;
}

// Solves the centred normal equations by Gaussian elimination with partial
// pivoting; returns false (no slope) on a zero or non-numeric pivot.
template <class Positions, class Weights>
bool least_squares_slope(const Positions& p, const Weights& w, long long begin, long long end,
                         const MajorantStats& s, Slope& slope) {
  const double r = 1.0 / static_cast<double>(end - begin);
  const double mx = s.sx * r, my = s.sy * r, mw = s.sw * r;
  double sxx = 0.0, sxy = 0.0, syy = 0.0, sxw = 0.0, syw = 0.0;
  for (long long k = begin; k < end; ++k) {
    const double dx = p(k, 0) - mx, dy = p(k, 1) - my, dw = w(k) - mw;
    sxx = fused_multiply_add(dx, dx, sxx);
    sxy = fused_multiply_add(dx, dy, sxy);
    syy = fused_multiply_add(dy, dy, syy);
    sxw = fused_multiply_add(dx, dw, sxw);
    syw = fused_multiply_add(dy, dw, syw);
  }
  double r0[3] = {sxx, sxy, sxw};
  double r1[3] = {sxy, syy, syw};
  if (std::fabs(sxy) > std::fabs(sxx)) {
    for (int i = 0; i < 3; ++i) std::swap(r0[i], r1[i]);
  }
  if (r0[0] == 0.0 || std::isnan(r0[0])) return false;
  const double f = -r1[0] / r0[0];
  r1[1] = r1[1] + f * r0[1];
  r1[2] = r1[2] + f * r0[2];
  if (r1[1] == 0.0 || std::isnan(r1[1])) return false;
  slope.b = r1[2] / r1[1];
  slope.a = (r0[2] - r0[1] * slope.b) / r0[0];
  return true;
}

// The terms of offset = T + 1e-6·(F + (Wr + |T|)) under slope g: F, the
// largest |g·x_k| (at least 0), and T, the largest residual w_k - g·x_k.
struct PlaneBound {
  double f, t;
};

// Under g = 0 every g·x_k is +0 (fma(0, x, +0) is +0 whatever the sign of
// x), so F = 0 and T = wmax, the same value the pass would find.
inline PlaneBound flat_bound(const MajorantStats& s) { return {0.0, s.wmax}; }

// One pass under the fitted slope: the residual spread that decides whether
// the slope is kept, and the bound that is used if it is.
struct FitPass {
  double emin, emax;
  PlaneBound bound;
};

template <class Positions, class Weights>
FitPass fit_pass(const Positions& p, const Weights& w, long long begin, long long end, const Slope& g) {
  const auto residual = [&](long long k) { return (w(k) - g.a * p(k, 0)) - g.b * p(k, 1); };
  const auto plane = [&](long long k) { return fused_multiply_add(g.b, p(k, 1), fused_multiply_add(g.a, p(k, 0), 0.0)); };
  FitPass r{residual(begin), residual(begin), {0.0, w(begin) - plane(begin)}};
  for (long long k = begin; k < end; ++k) {
    const double e = residual(k);
    r.emin = e < r.emin ? e : r.emin;
    r.emax = e > r.emax ? e : r.emax;
    const double l = plane(k);
    const double t = w(k) - l;
    r.bound.f = std::fabs(l) > r.bound.f ? std::fabs(l) : r.bound.f;
    r.bound.t = t > r.bound.t ? t : r.bound.t;
  }
  return r;
}

// Whether the fitted slope is kept: it must not swing the plane by much more
// than the weight range across the node (limit 8) or at the node's distance
// from the origin (limit 100), and it must shrink the spread of the weights to
// below 0.85·sqrt(1 - 2/(c - 1)) of their range.
inline bool slope_accepted(const MajorantStats& s, const Slope& g, long long count, const FitPass& fit) {
  const double wr = s.wmax - s.wmin;
  if (std::fabs(g.a) * (s.xmax - s.xmin) > 8.0 * wr) return false;
  if (std::fabs(g.a) * std::fmax(std::fabs(s.xmin), std::fabs(s.xmax)) > 100.0 * wr) return false;
  if (std::fabs(g.b) * (s.ymax - s.ymin) > 8.0 * wr) return false;
  if (std::fabs(g.b) * std::fmax(std::fabs(s.ymin), std::fabs(s.ymax)) > 100.0 * wr) return false;
  const double c = static_cast<double>(count);
  const double shrink = (-2.0 / (c - 1.0)) + 1.0;
  return 0.85 * std::sqrt(shrink > 0.0 ? shrink : 0.0) * wr > fit.emax - fit.emin;
}

// The majorant from the statistics pass's results: when a fit is tried,
// moments and one pass for both the residual spread and the bound under the
// fitted slope.
template <class Positions, class Weights, class Gradient, class Offset>
void weight_majorant_from_stats(const MajorantStats& s, const Positions& positions, const Weights& weights,
                                long long begin, long long end, const Gradient& gradient, const Offset& offset) {
  const double wr = s.wmax - s.wmin;
  Slope g{0.0, 0.0};
  PlaneBound bound = flat_bound(s);
  // A plane through 5 points or fewer fits them too closely to be trusted.
  if (end - begin >= 6 && wr > 0.0) {
    Slope fit{0.0, 0.0};
    if (least_squares_slope(positions, weights, begin, end, s, fit)) {
      const FitPass pass = fit_pass(positions, weights, begin, end, fit);
      if (slope_accepted(s, fit, end - begin, pass)) {
        g = fit;
        bound = pass.bound;
      }
    }
  }
  gradient(0) = g.a;
  gradient(1) = g.b;
  offset() = fused_multiply_add(1.0e-6, bound.f + (wr + std::fabs(bound.t)), bound.t);
}

}  // namespace detail

// Writes the majorant of the node [begin, end), end > begin, of a 2-D weighted
// cloud: gradient (gx, gy) and offset W, with w_k <= gx·x_k + gy·y_k + W.
// Passes: statistics, then, when a fit is tried, moments and one pass for
// both the residual spread and the bound under the fitted slope.
template <long long D, class Positions, class Weights, class Gradient, class Offset>
  requires(D == 2)
void bsp_weight_majorant(const Positions& positions, const Weights& weights, long long begin, long long end,
                         const Gradient& gradient, const Offset& offset) {
  detail::weight_majorant_from_stats(detail::majorant_stats(positions, weights, begin, end), positions, weights,
                                     begin, end, gradient, offset);
}

}  // namespace vorn
