// The SVG picture of a diagram (see diagram_writers.hpp).
#include <algorithm>
#include <cmath>
#include <string>

#include "diagram_writers.hpp"

namespace vorn::tools {

namespace {

constexpr double canvas_size = 1000.0;  // pixels along the longer side of the shown region
constexpr double footer_height = 24.0;  // pixels below the picture for the list of empty cells
constexpr std::size_t listed_empty = 40;

// Maps the shown region to pixels, y pointing down.
struct Frame {
  double x0, y0, x1, y1, scale, width, height;

  double px(double x) const { return (x - x0) * scale; }
  double py(double y) const { return (y1 - y) * scale; }
};

Frame frame_for(const DiagramView& v) {
  double x0, y0, x1, y1;
  if (v.domain) {
    x0 = v.domain->x_min, y0 = v.domain->y_min, x1 = v.domain->x_max, y1 = v.domain->y_max;
  } else {
    const auto& p = v.seeds.positions;
    x0 = x1 = p.empty() ? 0.0 : p[0];
    y0 = y1 = p.empty() ? 0.0 : p[1];
    for (std::size_t i = 0; i < p.size(); i += 2) {
      x0 = std::min(x0, p[i]), x1 = std::max(x1, p[i]);
      y0 = std::min(y0, p[i + 1]), y1 = std::max(y1, p[i + 1]);
    }
    const double margin = 0.1 * std::max({x1 - x0, y1 - y0}) + (x1 - x0 == 0.0 && y1 - y0 == 0.0 ? 1.0 : 0.0);
    x0 -= margin, y0 -= margin, x1 += margin, y1 += margin;
  }
  const double scale = canvas_size / std::max(x1 - x0, y1 - y0);
  return {x0, y0, x1, y1, scale, (x1 - x0) * scale, (y1 - y0) * scale};
}

void point(AtomicFile& out, const Frame& f, double x, double y) {
  out.fixed(f.px(x), 2);
  out.write(",");
  out.fixed(f.py(y), 2);
}

// A bounded cell as a polygon; of an unbounded cell only the finite edges.
void cell_outline(AtomicFile& out, const Frame& f, const host::PowerDiagram& d, std::size_t i) {
  const auto begin = static_cast<std::size_t>(d.cell_begin[i]), end = static_cast<std::size_t>(d.cell_begin[i + 1]);
  if (begin == end) return;
  // A vertex beyond the range of a double cannot be drawn: leave the cell
  // out rather than spoil the picture with "inf" in a path.
  for (std::size_t k = begin; k < end; ++k) {
    if (!std::isfinite(d.xs[k]) || !std::isfinite(d.ys[k])) return;
  }
  if (!d.unbounded[i]) {
    out.write("<polygon points=\"");
    for (std::size_t k = begin; k < end; ++k) {
      if (k != begin) out.write(" ");
      point(out, f, d.xs[k], d.ys[k]);
    }
    out.write("\"/>\n");
    return;
  }
  out.write("<path d=\"");
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

void seed_dots(AtomicFile& out, const Frame& f, const DiagramView& v, bool empty_ones, double radius) {
  out.write(empty_ones ? "<g fill=\"#d62728\">\n" : "<g fill=\"#333333\">\n");
  for (std::size_t i = 0; i < v.seeds.weights.size(); ++i) {
    if ((v.diagram.empty[i] != 0) != empty_ones) continue;
    out.write("<circle cx=\"");
    out.fixed(f.px(v.seeds.positions[2 * i]), 2);
    out.write("\" cy=\"");
    out.fixed(f.py(v.seeds.positions[2 * i + 1]), 2);
    out.write("\" r=\"");
    out.fixed(empty_ones ? 1.6 * radius : radius, 2);
    out.write("\"/>\n");
  }
  out.write("</g>\n");
}

void empty_list(AtomicFile& out, const Frame& f, const host::PowerDiagram& d) {
  std::size_t count = 0;
  std::string list;
  for (std::size_t i = 0; i < d.empty.size(); ++i) {
    if (!d.empty[i]) continue;
    if (count < listed_empty) list += (count ? ", " : "") + std::to_string(i);
    ++count;
  }
  if (count > listed_empty) list += " and " + std::to_string(count - listed_empty) + " more";
  out.write("<text x=\"4\" y=\"");
  out.fixed(f.height + 16.0, 0);
  out.write("\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#d62728\">");
  out.write(count == 0 ? "no empty cells" : "empty cells (" + std::to_string(count) + "): " + list);
  out.write("</text>\n");
}

}  // namespace

void write_svg(AtomicFile& out, const DiagramView& v) {
  const Frame f = frame_for(v);
  const std::size_t n = v.seeds.weights.size();
  const double radius = std::clamp(0.25 * canvas_size / std::sqrt(static_cast<double>(std::max<std::size_t>(n, 1))),
                                   0.4, 3.0);
  out.write("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"");
  out.fixed(f.width, 0);
  out.write("\" height=\"");
  out.fixed(f.height + footer_height, 0);
  out.write("\" viewBox=\"0 0 ");
  out.fixed(f.width, 2);
  out.write(" ");
  out.fixed(f.height + footer_height, 2);
  out.write("\">\n<defs><clipPath id=\"view\"><rect width=\"");
  out.fixed(f.width, 2);
  out.write("\" height=\"");
  out.fixed(f.height, 2);
  out.write("\"/></clipPath></defs>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");
  out.write("<g clip-path=\"url(#view)\" fill=\"none\" stroke=\"#1f4e79\" stroke-width=\"0.6\">\n");
  for (std::size_t i = 0; i < n; ++i) cell_outline(out, f, v.diagram, i);
  out.write("</g>\n");
  seed_dots(out, f, v, false, radius);
  seed_dots(out, f, v, true, radius);
  empty_list(out, f, v.diagram);
  out.write("</svg>\n");
}

}  // namespace vorn::tools
