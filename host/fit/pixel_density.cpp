#include "vorn/host/pixel_density.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>
#include <tuple>

#include "../worker_threads.hpp"
#include "vorn/queue/thread_count.hpp"

namespace vorn::host {

namespace {

struct Point {
  double x, y;
};
using Polygon = std::vector<Point>;

// The pixel grid of a density over a box.
struct Grid {
  double x0, y0, hx, hy;
  long long nx, ny;
  const double* values;

  Grid(const PixelDensity& d, const Box& box)
      : x0(box.x_min),
        y0(box.y_min),
        hx((box.x_max - box.x_min) / static_cast<double>(d.nx)),
        hy((box.y_max - box.y_min) / static_cast<double>(d.ny)),
        nx(d.nx),
        ny(d.ny),
        values(d.values.data()) {}

  double line_x(long long ix) const { return x0 + static_cast<double>(ix) * hx; }
  double line_y(long long iy) const { return y0 + static_cast<double>(iy) * hy; }
  // The pixel column (row) holding coordinate x (y), clamped into the grid.
  long long column(double x) const {
    return std::clamp(static_cast<long long>(std::floor((x - x0) / hx)), 0LL, nx - 1);
  }
  long long row(double y) const { return std::clamp(static_cast<long long>(std::floor((y - y0) / hy)), 0LL, ny - 1); }
  double value(long long ix, long long iy) const { return values[iy * nx + ix]; }
};

// Splits the convex polygon `p` by the line {coordinate `axis` = c} into
// the parts below and above it (either may come out empty). Vertices on
// the line go to both parts.
void split(const Polygon& p, bool along_y, double c, Polygon& below, Polygon& above) {
  below.clear();
  above.clear();
  const std::size_t m = p.size();
  for (std::size_t k = 0; k < m; ++k) {
    const Point a = p[k], b = p[(k + 1) % m];
    const double da = (along_y ? a.y : a.x) - c, db = (along_y ? b.y : b.x) - c;
    if (da <= 0) below.push_back(a);
    if (da >= 0) above.push_back(a);
    if ((da < 0 && db > 0) || (da > 0 && db < 0)) {
      const double t = da / (da - db);
      Point q{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
      if (along_y) {
        q.y = c;
      } else {
        q.x = c;
      }
      below.push_back(q);
      above.push_back(q);
    }
  }
  if (below.size() < 3) below.clear();
  if (above.size() < 3) above.clear();
}

// Area and first moments of a polygon, taken relative to its first vertex
// so that small pieces far from the origin keep their digits.
Moments shoelace(const Polygon& p) {
  Moments out;
  if (p.size() < 3) return out;
  const Point o = p[0];
  double twice_area = 0.0, sx = 0.0, sy = 0.0;
  for (std::size_t k = 1; k + 1 < p.size(); ++k) {
    const double ax = p[k].x - o.x, ay = p[k].y - o.y, bx = p[k + 1].x - o.x, by = p[k + 1].y - o.y;
    const double cross = ax * by - bx * ay;
    twice_area += cross;
    sx += cross * (ax + bx);
    sy += cross * (ay + by);
  }
  out.mass = std::fabs(0.5 * twice_area);
  if (twice_area == 0.0) return out;
  // Centroid of the fan from o: (sx, sy) / (3 · twice_area), then back from o.
  const double cx = o.x + sx / (3.0 * twice_area), cy = o.y + sy / (3.0 * twice_area);
  out.mx = out.mass * cx;
  out.my = out.mass * cy;
  return out;
}

void add(Moments& sum, const Moments& part, double value) {
  sum.mass += value * part.mass;
  sum.mx += value * part.mx;
  sum.my += value * part.my;
}

// The column strip's polygon `strip` (pixel column ix) cut row by row.
void integrate_column(const Grid& g, long long ix, const Polygon& strip, Moments& sum) {
  double low = strip[0].y, high = strip[0].y;
  for (const Point& q : strip) low = std::min(low, q.y), high = std::max(high, q.y);
  Polygon rest = strip, below, above;
  const long long last = g.row(high);
  for (long long iy = g.row(low); iy < last && !rest.empty(); ++iy) {
    split(rest, true, g.line_y(iy + 1), below, above);
    if (!below.empty()) add(sum, shoelace(below), g.value(ix, iy));
    rest.swap(above);
  }
  if (!rest.empty()) add(sum, shoelace(rest), g.value(ix, last));
}

}  // namespace

void check_pixel_density(const PixelDensity& density) {
  if (density.nx < 1 || density.ny < 1) {
    throw std::invalid_argument("the density image has " + std::to_string(density.nx) + " x " +
                                std::to_string(density.ny) + " pixels: it needs at least one");
  }
  if (density.values.size() / static_cast<std::size_t>(density.nx) != static_cast<std::size_t>(density.ny) ||
      density.values.size() % static_cast<std::size_t>(density.nx) != 0) {
    throw std::invalid_argument("the density image of " + std::to_string(density.nx) + " x " +
                                std::to_string(density.ny) + " pixels holds " +
                                std::to_string(density.values.size()) + " values");
  }
  double total = 0.0;
  for (std::size_t k = 0; k < density.values.size(); ++k) {
    const double v = density.values[k];
    if (!std::isfinite(v) || v < 0) {
      char text[32];
      const std::string value(text, std::to_chars(text, text + sizeof text, v).ptr);
      throw std::invalid_argument("density pixel (x " + std::to_string(k % static_cast<std::size_t>(density.nx)) +
                                  ", y " + std::to_string(k / static_cast<std::size_t>(density.nx)) + ") is " +
                                  value + ": values must be finite and not negative");
    }
    total += v;
  }
  if (!(total > 0) || !std::isfinite(total)) {
    throw std::invalid_argument("the density image has no mass (every pixel is 0) or too much to sum");
  }
}

double total_mass(const PixelDensity& density, const Box& box) {
  double sum = 0.0;
  for (const double v : density.values) sum += v;
  const double pixel_area = (box.x_max - box.x_min) / static_cast<double>(density.nx) *
                            ((box.y_max - box.y_min) / static_cast<double>(density.ny));
  return sum * pixel_area;
}

Moments polygon_moments(const PixelDensity& density, const Box& box, std::span<const double> xs,
                        std::span<const double> ys) {
  Moments sum;
  if (xs.size() < 3) return sum;
  const Grid g(density, box);
  Polygon rest(xs.size()), left, right;
  for (std::size_t k = 0; k < xs.size(); ++k) rest[k] = {xs[k], ys[k]};
  // Nothing outside the box: cut it away first.
  for (const auto& [along_y, c, keep_above] : {std::tuple{false, box.x_min, true}, std::tuple{false, box.x_max, false},
                                                std::tuple{true, box.y_min, true}, std::tuple{true, box.y_max, false}}) {
    split(rest, along_y, c, left, right);
    rest.swap(keep_above ? right : left);
    if (rest.empty()) return sum;
  }
  double low = rest[0].x, high = rest[0].x;
  for (const Point& q : rest) low = std::min(low, q.x), high = std::max(high, q.x);
  const long long last = g.column(high);
  for (long long ix = g.column(low); ix < last && !rest.empty(); ++ix) {
    split(rest, false, g.line_x(ix + 1), left, right);
    if (!left.empty()) integrate_column(g, ix, left, sum);
    rest.swap(right);
  }
  if (!rest.empty()) integrate_column(g, last, rest, sum);
  return sum;
}

namespace {

// The density's integral along a segment: cut where it crosses pixel lines,
// each stretch valued at its middle. Within the box only, or on the torus
// (the pixel lines repeat beyond the box's sides, pixel indices wrap).
double segment_integral(const PixelDensity& density, const Box& box, double x0, double y0, double x1, double y1,
                        bool periodic) {
  const Grid g(density, box);
  const double dx = x1 - x0, dy = y1 - y0;
  const double length = std::hypot(dx, dy);
  if (length == 0.0) return 0.0;
  std::vector<double> cuts{0.0, 1.0};
  auto crossings = [&](double from, double step, long long lines, double start, double delta) {
    if (delta == 0.0) return;
    const double a = (std::min(start, start + delta) - from) / step, b = (std::max(start, start + delta) - from) / step;
    const long long first = static_cast<long long>(std::ceil(a)), last = static_cast<long long>(std::floor(b));
    for (long long k = periodic ? first : std::max(0LL, first); k <= (periodic ? last : std::min(lines, last)); ++k) {
      const double t = (from + static_cast<double>(k) * step - start) / delta;
      if (t > 0.0 && t < 1.0) cuts.push_back(t);
    }
  };
  crossings(g.x0, g.hx, g.nx, x0, dx);
  crossings(g.y0, g.hy, g.ny, y0, dy);
  std::sort(cuts.begin(), cuts.end());
  auto wrapped = [](double position, double from, double step, long long count) {
    const long long k = static_cast<long long>(std::floor((position - from) / step)) % count;
    return k < 0 ? k + count : k;
  };
  double sum = 0.0;
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    const double t = 0.5 * (cuts[k] + cuts[k + 1]);
    const double x = x0 + t * dx, y = y0 + t * dy;
    double value;
    if (periodic) {
      value = g.value(wrapped(x, g.x0, g.hx, g.nx), wrapped(y, g.y0, g.hy, g.ny));
    } else {
      if (x < box.x_min || x > box.x_max || y < box.y_min || y > box.y_max) continue;
      value = g.value(g.column(x), g.row(y));
    }
    sum += value * (cuts[k + 1] - cuts[k]);
  }
  return sum * length;
}

}  // namespace

double segment_mass(const PixelDensity& density, const Box& box, double x0, double y0, double x1, double y1) {
  return segment_integral(density, box, x0, y0, x1, y1, false);
}

double periodic_segment_mass(const PixelDensity& density, const Box& box, double x0, double y0, double x1,
                             double y1) {
  return segment_integral(density, box, x0, y0, x1, y1, true);
}

Moments periodic_polygon_moments(const PixelDensity& density, const Box& box, std::span<const double> xs,
                                 std::span<const double> ys) {
  Moments sum;
  if (xs.size() < 3) return sum;
  const auto [x_low, x_high] = std::minmax_element(xs.begin(), xs.end());
  const auto [y_low, y_high] = std::minmax_element(ys.begin(), ys.end());
  const double lx = box.x_max - box.x_min, ly = box.y_max - box.y_min;
  std::vector<double> moved_x(xs.size()), moved_y(ys.size());
  // Only the copies that overlap the box hold mass.
  for (int sx = -1; sx <= 1; ++sx) {
    const double dx = sx * lx;
    if (!(*x_low + dx < box.x_max && *x_high + dx > box.x_min)) continue;
    for (int sy = -1; sy <= 1; ++sy) {
      const double dy = sy * ly;
      if (!(*y_low + dy < box.y_max && *y_high + dy > box.y_min)) continue;
      for (std::size_t k = 0; k < xs.size(); ++k) moved_x[k] = xs[k] + dx, moved_y[k] = ys[k] + dy;
      const Moments part = polygon_moments(density, box, moved_x, moved_y);
      sum.mass += part.mass;
      sum.mx += part.mx - dx * part.mass;
      sum.my += part.my - dy * part.mass;
    }
  }
  return sum;
}

std::vector<Moments> cell_moments(const PowerDiagram& diagram, const PixelDensity& density, const Box& box,
                                  int threads) {
  const bool periodic = !diagram.neighbour_shifts.empty();
  const std::size_t n = static_cast<std::size_t>(diagram.cell_count());
  std::vector<Moments> out(n);
  const int workers = threads > 0 ? threads : vorn::detail::configured_thread_count();
  detail::for_each_index((n + 1023) / 1024, workers, [&](std::size_t block) {
    for (std::size_t i = 1024 * block; i < std::min(n, 1024 * block + 1024); ++i) {
      if (diagram.empty[i] || diagram.unbounded[i]) continue;
      const auto begin = static_cast<std::size_t>(diagram.cell_begin[i]);
      const auto count = static_cast<std::size_t>(diagram.cell_begin[i + 1]) - begin;
      const auto xs = std::span(diagram.xs).subspan(begin, count), ys = std::span(diagram.ys).subspan(begin, count);
      out[i] = periodic ? periodic_polygon_moments(density, box, xs, ys) : polygon_moments(density, box, xs, ys);
    }
  });
  return out;
}

}  // namespace vorn::host
