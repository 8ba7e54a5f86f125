// The SVG picture of a diagram (see diagram_writers.hpp): a figure with a
// title, axes in the domain's coordinates, cells filled by a colour scale
// with its legend, and a caption.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "diagram_writers.hpp"
#include "number_text.hpp"

namespace vorn::tools {

namespace {

constexpr double plot_long_side = 800.0;  // pixels along the longer side of the plot
constexpr double margin_left = 72.0, margin_right = 130.0, margin_top = 46.0, margin_bottom = 64.0;
constexpr double min_width = 640.0;           // room for the title and the caption
constexpr std::size_t drawn_cell_limit = 25000;  // more cells are shown through a window
constexpr std::size_t weight_circle_limit = 400;  // weight circles only for diagrams this small

// The region of the plane shown, and its mapping to pixels (y down).
struct Frame {
  double x0, y0, x1, y1;  // shown region
  double scale;           // pixels per unit
  double left, top;       // the plot's corner on the canvas
  double width, height;   // of the plot, pixels

  double px(double x) const { return left + (x - x0) * scale; }
  double py(double y) const { return top + (y1 - y) * scale; }
};

struct Region {
  double x0, y0, x1, y1;
};

// The domain, or without one the seeds' bounding box with a margin.
Region whole_region(const DiagramView& v) {
  if (v.domain) return {v.domain->x_min, v.domain->y_min, v.domain->x_max, v.domain->y_max};
  const auto& p = v.seeds.positions;
  Region r{p.empty() ? 0.0 : p[0], p.empty() ? 0.0 : p[1], p.empty() ? 0.0 : p[0], p.empty() ? 0.0 : p[1]};
  for (std::size_t i = 0; i < p.size(); i += 2) {
    r.x0 = std::min(r.x0, p[i]), r.x1 = std::max(r.x1, p[i]);
    r.y0 = std::min(r.y0, p[i + 1]), r.y1 = std::max(r.y1, p[i + 1]);
  }
  const double extent = std::max(r.x1 - r.x0, r.y1 - r.y0);
  const double margin = extent > 0.0 ? 0.1 * extent : 1.0;
  return {r.x0 - margin, r.y0 - margin, r.x1 + margin, r.y1 + margin};
}

// A window around the region's centre holding about drawn_cell_limit of n cells,
// of the region's shape; the region itself when it holds few enough.
Region shown_region(const Region& whole, std::size_t n) {
  if (n <= drawn_cell_limit) return whole;
  const double shrink = std::sqrt(static_cast<double>(drawn_cell_limit) / static_cast<double>(n));
  const double cx = 0.5 * (whole.x0 + whole.x1), cy = 0.5 * (whole.y0 + whole.y1);
  const double hx = 0.5 * shrink * (whole.x1 - whole.x0), hy = 0.5 * shrink * (whole.y1 - whole.y0);
  return {cx - hx, cy - hy, cx + hx, cy + hy};
}

Frame frame_for(const Region& r) {
  const double scale = plot_long_side / std::max(r.x1 - r.x0, r.y1 - r.y0);
  const double width = (r.x1 - r.x0) * scale, height = (r.y1 - r.y0) * scale;
  const double spare = std::max(0.0, min_width - (margin_left + width + margin_right));
  return {r.x0, r.y0, r.x1, r.y1, scale, margin_left + 0.5 * spare, margin_top, width, height};
}

bool inside(const Region& r, double x, double y) { return x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1; }

// A value for a label, to `digits` significant digits.
std::string label(double v, int digits = 3) {
  char text[48];
  return {text, std::to_chars(text, text + sizeof text, v, std::chars_format::general, digits).ptr};
}

// What an axis's tick labels count from: 0, or for a region far from the
// origin against its size (labels would need more than six digits) a round
// value below it, which the axis names ("x − 1000000").
double label_base(double a, double b) {
  const double magnitude = std::max(std::abs(a), std::abs(b));
  if (!(b > a) || !(magnitude / (b - a) > 1e5)) return 0.0;
  const double unit = std::pow(10.0, std::ceil(std::log10(b - a)));
  return std::floor(a / unit) * unit;
}

// Escapes text for an SVG text node (file names may hold anything).
std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  return out;
}

// Perceptually even colours from dark blue through green to yellow.
constexpr std::array<std::array<int, 3>, 9> colour_stops{{{68, 1, 84},
                                                           {71, 45, 123},
                                                           {59, 82, 139},
                                                           {44, 114, 142},
                                                           {33, 145, 140},
                                                           {40, 174, 128},
                                                           {94, 201, 98},
                                                           {173, 220, 48},
                                                           {253, 231, 37}}};

std::string colour(double t) {
  t = std::clamp(std::isfinite(t) ? t : 0.0, 0.0, 1.0) * (colour_stops.size() - 1);
  const std::size_t k = std::min(static_cast<std::size_t>(t), colour_stops.size() - 2);
  const double f = t - static_cast<double>(k);
  char text[8];
  int rgb[3];
  for (int c = 0; c < 3; ++c) {
    rgb[c] = static_cast<int>(std::lround((1 - f) * colour_stops[k][c] + f * colour_stops[k + 1][c]));
  }
  std::snprintf(text, sizeof text, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
  return text;
}

// The colour scale's range: the 2nd to 98th percentile of the values, so
// that a few outliers do not wash out the rest. Values that agree to a
// millionth (fitted areas, equal weights) get one colour: spread over the
// scale, their rounding would look like structure.
struct Scale {
  double low = 0.0, high = 1.0;
  bool any = false;
  double at(double v) const { return high > low ? (v - low) / (high - low) : 0.5; }
};

Scale scale_of(std::vector<double> values) {
  Scale s;
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  s.low = values[values.size() / 50];
  s.high = values[values.size() - 1 - values.size() / 50];
  if (s.high - s.low <= 1e-6 * std::max(std::fabs(s.low), std::fabs(s.high))) s.low = s.high;
  s.any = true;
  return s;
}

// The value a cell is coloured by, if it has one: its area (bounded cells)
// or its seed's weight.
bool coloured_value(const DiagramView& v, std::size_t i, double& value) {
  if (v.diagram.empty[i]) return false;
  if (v.colour_by == PictureColour::weight) {
    value = v.seeds.weights[i];
    return true;
  }
  if (v.diagram.unbounded[i] || !std::isfinite(v.diagram.areas[i])) return false;
  value = v.diagram.areas[i];
  return true;
}

// ` name="value"`, the value to `decimals` places.
void attribute(TextOutput& out, const char* name, double value, int decimals = 1) {
  out.write(" ");
  out.write(name);
  out.write("=\"");
  out.fixed(value, decimals);
  out.write("\"");
}

// The plot's rectangle as the attributes of a <rect>.
void plot_rectangle(TextOutput& out, const Frame& f) {
  attribute(out, "x", f.left);
  attribute(out, "y", f.top);
  attribute(out, "width", f.width);
  attribute(out, "height", f.height);
}

// A circle of `radius` pixels around seed i.
void circle(TextOutput& out, const Frame& f, const DiagramView& v, std::size_t i, double radius) {
  out.write("<circle");
  attribute(out, "cx", f.px(v.seeds.positions[2 * i]));
  attribute(out, "cy", f.py(v.seeds.positions[2 * i + 1]));
  attribute(out, "r", radius, 2);
  out.write("/>\n");
}

void point(TextOutput& out, const Frame& f, double x, double y) {
  out.fixed(f.px(x), 1);
  out.write(",");
  out.fixed(f.py(y), 1);
}

bool finite_cell(const host::PowerDiagram& d, std::size_t begin, std::size_t end) {
  for (std::size_t k = begin; k < end; ++k) {
    if (!std::isfinite(d.xs[k]) || !std::isfinite(d.ys[k])) return false;
  }
  return true;
}

// The offsets at which a cell's polygon (vertices begin to end) is drawn:
// itself, and for a periodic diagram each copy one period away that reaches
// into the box (a cell lies within half a period of its seed, so no other
// copy does); the plot's clip path cuts them to the box.
std::vector<std::pair<double, double>> copies_in_box(const DiagramView& v, const host::PowerDiagram& d,
                                                     std::size_t begin, std::size_t end) {
  if (!v.periodic || !v.domain) return {{0.0, 0.0}};
  const host::Box& b = *v.domain;
  const double lx = b.x_max - b.x_min, ly = b.y_max - b.y_min;
  const auto [x0, x1] = std::minmax_element(d.xs.begin() + static_cast<std::ptrdiff_t>(begin),
                                            d.xs.begin() + static_cast<std::ptrdiff_t>(end));
  const auto [y0, y1] = std::minmax_element(d.ys.begin() + static_cast<std::ptrdiff_t>(begin),
                                            d.ys.begin() + static_cast<std::ptrdiff_t>(end));
  std::vector<std::pair<double, double>> offsets;
  for (int sx = -1; sx <= 1; ++sx) {
    for (int sy = -1; sy <= 1; ++sy) {
      const double dx = sx * lx, dy = sy * ly;
      if (*x0 + dx < b.x_max && *x1 + dx > b.x_min && *y0 + dy < b.y_max && *y1 + dy > b.y_min) {
        offsets.emplace_back(dx, dy);
      }
    }
  }
  return offsets;
}

// A bounded cell as a filled polygon; of an unbounded cell only the finite
// edges. A vertex beyond the range of a double cannot be drawn: such a cell
// is left out rather than spoil the picture with "inf" in a path.
void cell_shape(TextOutput& out, const Frame& f, const DiagramView& v, const Scale& scale, std::size_t i) {
  const host::PowerDiagram& d = v.diagram;
  const auto begin = static_cast<std::size_t>(d.cell_begin[i]), end = static_cast<std::size_t>(d.cell_begin[i + 1]);
  if (begin == end || !finite_cell(d, begin, end)) return;
  double value = 0.0;
  const bool filled = coloured_value(v, i, value) && !d.unbounded[i];
  if (!d.unbounded[i]) {
    const std::string fill = filled ? "\" fill=\"" + colour(scale.at(value)) + "\"/>\n" : "\" fill=\"none\"/>\n";
    for (const auto& [dx, dy] : copies_in_box(v, d, begin, end)) {
      out.write("<polygon points=\"");
      for (std::size_t k = begin; k < end; ++k) {
        if (k != begin) out.write(" ");
        point(out, f, d.xs[k] + dx, d.ys[k] + dy);
      }
      out.write(fill);
    }
    return;
  }
  out.write("<path fill=\"none\" d=\"");
  for (std::size_t k = begin; k < end; ++k) {
    if (d.neighbours[k] == host::infinite_edge) continue;
    const std::size_t next = k + 1 == end ? begin : k + 1;
    out.write("M");
    point(out, f, d.xs[k], d.ys[k]);
    out.write("L");
    point(out, f, d.xs[next], d.ys[next]);
  }
  out.write("\"/>\n");
}

void text(TextOutput& out, double x, double y, const std::string& content, const char* anchor = "start",
          int size = 12, const char* fill = "#222222") {
  out.write("<text");
  attribute(out, "x", x);
  attribute(out, "y", y);
  out.write(std::string(" text-anchor=\"") + anchor + "\" font-size=\"" + std::to_string(size) + "\" fill=\"" +
            fill + "\">" + escaped(content) + "</text>\n");
}

// Tick values at 1, 2 or 5 times a power of ten over [a, b], about one per
// 80 pixels of its `pixels`, so that their labels never run together.
std::vector<double> ticks(double a, double b, double pixels) {
  const double raw = (b - a) / std::clamp(pixels / 80.0, 1.0, 8.0);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double m = raw / power;
  const double step = (m < 1.5 ? 1.0 : m < 3.5 ? 2.0 : m < 7.5 ? 5.0 : 10.0) * power;
  std::vector<double> out;
  for (double k = std::ceil(a / step); k * step <= b + 1e-9 * step && out.size() < 20; k += 1.0) {
    out.push_back(std::abs(k * step) < 1e-12 * step ? 0.0 : k * step);
  }
  return out;
}

void axes(TextOutput& out, const Frame& f) {
  out.write("<rect");
  plot_rectangle(out, f);
  out.write(" fill=\"none\" stroke=\"#444444\" stroke-width=\"1\"/>\n");
  out.write("<g stroke=\"#444444\" stroke-width=\"1\">\n");
  const std::vector<double> xt = ticks(f.x0, f.x1, f.width), yt = ticks(f.y0, f.y1, f.height);
  const auto tick = [&](double x1, double y1, double x2, double y2) {
    out.write("<line");
    attribute(out, "x1", x1);
    attribute(out, "y1", y1);
    attribute(out, "x2", x2);
    attribute(out, "y2", y2);
    out.write("/>\n");
  };
  for (const double x : xt) tick(f.px(x), f.top + f.height, f.px(x), f.top + f.height + 5);
  for (const double y : yt) tick(f.left - 5, f.py(y), f.left, f.py(y));
  out.write("</g>\n");
  const double x_base = label_base(f.x0, f.x1), y_base = label_base(f.y0, f.y1);
  for (const double x : xt) text(out, f.px(x), f.top + f.height + 18, label(x - x_base), "middle", 11);
  for (const double y : yt) text(out, f.left - 8, f.py(y) + 4, label(y - y_base), "end", 11);
  if (x_base != 0.0) {
    text(out, f.left + f.width, f.top + f.height + 32, "x − " + shortest(x_base), "end", 11);
  }
  if (y_base != 0.0) text(out, f.left, f.top - 6, "y − " + shortest(y_base), "start", 11);
}

void legend(TextOutput& out, const Frame& f, const Scale& scale, const char* what) {
  const double x = f.left + f.width + 24, top = f.top + 20;
  if (scale.low == scale.high) {
    out.write("<rect");
    attribute(out, "x", x);
    attribute(out, "y", top);
    attribute(out, "width", 14);
    attribute(out, "height", 14);
    out.write(" fill=\"" + colour(scale.at(scale.low)) + "\" stroke=\"#444444\" stroke-width=\"0.5\"/>\n");
    text(out, x, top - 8, what, "start", 11);
    text(out, x + 20, top + 11, "all " + label(scale.low), "start", 11);
    return;
  }
  const double height = std::min(240.0, std::max(80.0, 0.6 * f.height));
  out.write("<defs><linearGradient id=\"scale\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">");
  for (std::size_t k = 0; k < colour_stops.size(); ++k) {
    const double t = static_cast<double>(k) / (colour_stops.size() - 1);
    out.write("<stop offset=\"");
    out.fixed(t, 3);
    out.write("\" stop-color=\"" + colour(t) + "\"/>");
  }
  out.write("</linearGradient></defs>\n<rect");
  attribute(out, "x", x);
  attribute(out, "y", top);
  attribute(out, "width", 14);
  attribute(out, "height", height);
  out.write(" fill=\"url(#scale)\" stroke=\"#444444\" stroke-width=\"0.5\"/>\n");
  text(out, x, top - 8, what, "start", 11);
  text(out, x + 20, top + 10, label(scale.high), "start", 11);
  text(out, x + 20, top + height, label(scale.low), "start", 11);
}

}  // namespace

void write_svg(TextOutput& out, const DiagramView& v) {
  const host::PowerDiagram& d = v.diagram;
  const std::size_t n = v.seeds.weights.size();
  const Region whole = whole_region(v);
  const Region shown = shown_region(whole, n);
  const Frame f = frame_for(shown);
  const double canvas_width = std::max(min_width, margin_left + f.width + margin_right);
  const double canvas_height = margin_top + f.height + margin_bottom;
  const double text_left = 16.0;  // title and caption: the canvas's width, not the plot's

  // In a window, the cells whose seeds lie near it: a few cells' widths
  // around it, so that the cells reaching into it from outside are there.
  const bool windowed = n > drawn_cell_limit;
  const double reach = 3.0 * std::sqrt((shown.x1 - shown.x0) * (shown.y1 - shown.y0) / drawn_cell_limit);
  const Region near{shown.x0 - reach, shown.y0 - reach, shown.x1 + reach, shown.y1 + reach};
  std::vector<std::size_t> drawn;
  std::vector<double> values;
  std::size_t empty = 0, unbounded = 0, in_window = 0;
  for (std::size_t i = 0; i < n; ++i) {
    empty += d.empty[i] != 0, unbounded += d.unbounded[i] != 0;
    const double x = v.seeds.positions[2 * i], y = v.seeds.positions[2 * i + 1];
    if (windowed && !inside(near, x, y)) continue;
    in_window += inside(shown, x, y);
    drawn.push_back(i);
    double value = 0.0;
    if (coloured_value(v, i, value)) values.push_back(value);
  }
  const Scale scale = scale_of(values);
  // Outlines, dots and circles follow the cells' size on the page.
  const double cells_shown = static_cast<double>(std::max<std::size_t>(windowed ? in_window : drawn.size(), 1));
  const double cell_px = std::sqrt(f.width * f.height / cells_shown);
  const double stroke = std::clamp(0.05 * cell_px, 0.15, 1.0);
  const bool dots = cell_px >= 6.0;
  const double radius = std::clamp(0.06 * cell_px, 0.5, 2.5);

  out.write("<svg xmlns=\"http://www.w3.org/2000/svg\"");
  attribute(out, "width", canvas_width, 0);
  attribute(out, "height", canvas_height, 0);
  out.write(" viewBox=\"0 0 ");
  out.fixed(canvas_width, 0);
  out.write(" ");
  out.fixed(canvas_height, 0);
  out.write("\" font-family=\"sans-serif\">\n<defs><clipPath id=\"plot\"><rect");
  plot_rectangle(out, f);
  out.write("/></clipPath></defs>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");

  std::string title = std::string(v.periodic ? "Periodic power diagram of " : "Power diagram of ") + grouped(n) + (n == 1 ? " seed" : " seeds") + ": ";
  title += empty == 0 ? std::string("no empty cells") : grouped(empty) + (empty == 1 ? " empty cell" : " empty cells");
  if (!v.domain) title += ", " + grouped(unbounded) + " unbounded";
  text(out, text_left, 28, title, "start", 15, "#111111");

  out.write("<g clip-path=\"url(#plot)\" stroke=\"#202020\" stroke-opacity=\"0.7\" stroke-linejoin=\"round\" "
            "stroke-width=\"");
  out.fixed(stroke, 2);
  out.write("\">\n");
  for (const std::size_t i : drawn) cell_shape(out, f, v, scale, i);
  out.write("</g>\n<g clip-path=\"url(#plot)\">\n");
  if (drawn.size() <= weight_circle_limit) {
    out.write("<g fill=\"none\" stroke=\"#555555\" stroke-width=\"0.8\" stroke-dasharray=\"3 2\">\n");
    for (const std::size_t i : drawn) {
      if (!(v.seeds.weights[i] > 0.0)) continue;
      circle(out, f, v, i, std::sqrt(v.seeds.weights[i]) * f.scale);
    }
    out.write("</g>\n");
  }
  if (dots) {
    for (const bool empty_ones : {false, true}) {
      out.write(empty_ones ? "<g fill=\"#d62728\">\n" : "<g fill=\"#111111\">\n");
      for (const std::size_t i : drawn) {
        if ((d.empty[i] != 0) != empty_ones) continue;
        circle(out, f, v, i, empty_ones ? std::max(1.0, 1.6 * radius) : radius);
      }
      out.write("</g>\n");
    }
  }
  out.write("</g>\n");
  axes(out, f);
  if (scale.any) legend(out, f, scale, v.colour_by == PictureColour::weight ? "seed weight" : "cell area");

  // The caption: what the marks mean, and what is not shown.
  std::string caption;
  if (empty > 0) caption = dots ? "red dots: seeds of empty cells" : "empty cells have no area to draw";
  if (dots) caption += std::string(caption.empty() ? "" : "; ") + "black dots: seeds";
  if (drawn.size() <= weight_circle_limit) {
    caption += std::string(caption.empty() ? "" : "; ") + "dashed circles: radius √weight";
  }
  if (unbounded > 0) caption += std::string(caption.empty() ? "" : "; ") + "unbounded cells: outlines only";
  if (v.periodic) caption += std::string(caption.empty() ? "" : "; ") + "cells wrapped into the period box";
  text(out, text_left, f.top + f.height + 38, caption, "start", 11, "#444444");
  if (windowed) {
    text(out, text_left, f.top + f.height + 54,
         "showing the window [" + label(shown.x0) + ", " + label(shown.x1) + "] × [" + label(shown.y0) + ", " +
             label(shown.y1) + "], " + grouped(in_window) + " of the " + grouped(n) + " seeds; --output writes every cell",
         "start", 11, "#444444");
  }
  out.write("</svg>\n");
}

}  // namespace vorn::tools
