// bsp_weight_majorant: an affine upper bound g·x + W of the weights of a node.
//
// The flat bound (g = 0) is always valid. A least-squares plane of weight over
// position replaces it when the fit is well conditioned, its slope is modest
// next to the weight range, and it shrinks the weights' spread enough. W is
// then the largest residual under the chosen slope plus a relative margin, so
// w_k <= g·x_k + W holds for every point of the node in absolute coordinates.
//
// Every operation below is rounded in the written order; std::fma marks the
// only fused operations (sums of products, and the final margin).
#pragma once

#include <cmath>
#include <utility>

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
    sxx = std::fma(dx, dx, sxx);
    sxy = std::fma(dx, dy, sxy);
    syy = std::fma(dy, dy, syy);
    sxw = std::fma(dx, dw, sxw);
    syw = std::fma(dy, dw, syw);
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

// Whether the fitted slope is kept: it must not swing the plane by much more
// than the weight range across the node (limit 8) or at the node's distance
// from the origin (limit 100), and it must shrink the spread of the weights to
// below 0.85·sqrt(1 - 2/(c - 1)) of their range.
template <class Positions, class Weights>
bool slope_accepted(const Positions& p, const Weights& w, long long begin, long long end, const MajorantStats& s,
                    const Slope& g) {
  const auto residual = [&](long long k) { return (w(k) - g.a * p(k, 0)) - g.b * p(k, 1); };
  double emin = residual(begin);
  double emax = emin;
  for (long long k = begin; k < end; ++k) {
    const double e = residual(k);
    emin = e < emin ? e : emin;
    emax = e > emax ? e : emax;
  }
  const double wr = s.wmax - s.wmin;
  if (std::fabs(g.a) * (s.xmax - s.xmin) > 8.0 * wr) return false;
  if (std::fabs(g.a) * std::fmax(std::fabs(s.xmin), std::fabs(s.xmax)) > 100.0 * wr) return false;
  if (std::fabs(g.b) * (s.ymax - s.ymin) > 8.0 * wr) return false;
  if (std::fabs(g.b) * std::fmax(std::fabs(s.ymin), std::fabs(s.ymax)) > 100.0 * wr) return false;
  const double c = static_cast<double>(end - begin);
  const double shrink = (-2.0 / (c - 1.0)) + 1.0;
  return 0.85 * std::sqrt(shrink > 0.0 ? shrink : 0.0) * wr > emax - emin;
}

}  // namespace detail

// Writes the majorant of the node [begin, end), end > begin, of a 2-D weighted
// cloud: gradient (gx, gy) and offset W, with w_k <= gx·x_k + gy·y_k + W.
template <long long D, class Positions, class Weights, class Gradient, class Offset>
  requires(D == 2)
void bsp_weight_majorant(const Positions& positions, const Weights& weights, long long begin, long long end,
                         const Gradient& gradient, const Offset& offset) {
  const detail::MajorantStats s = detail::majorant_stats(positions, weights, begin, end);
  const double wr = s.wmax - s.wmin;
  detail::Slope g{0.0, 0.0};
  // A plane through 5 points or fewer fits them too closely to be trusted.
  if (end - begin >= 6 && wr > 0.0) {
    detail::Slope fit{0.0, 0.0};
    if (detail::least_squares_slope(positions, weights, begin, end, s, fit) &&
        detail::slope_accepted(positions, weights, begin, end, s, fit)) {
      g = fit;
    }
  }
  // F: the largest |g·x_k| (at least 0); T: the largest residual w_k - g·x_k.
  const auto plane = [&](long long k) { return std::fma(g.b, positions(k, 1), std::fma(g.a, positions(k, 0), 0.0)); };
  double f = 0.0;
  double t = weights(begin) - plane(begin);
  for (long long k = begin; k < end; ++k) {
    const double l = plane(k);
    const double tk = weights(k) - l;
    f = std::fabs(l) > f ? std::fabs(l) : f;
    t = tk > t ? tk : t;
  }
  gradient(0) = g.a;
  gradient(1) = g.b;
  offset() = std::fma(1.0e-6, f + (wr + std::fabs(t)), t);
}

}  // namespace vorn
