#include "diagram_writers.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "tool_error.hpp"

namespace vorn::tools {

namespace {

using host::PowerDiagram;

// CSV numbers: the shortest text that reads back, and for a NaN plain "nan"
// (to_chars would write "-nan" for a negative one, which fewer readers take);
// infinities are "inf" and "-inf".
void csv_number(TextOutput& out, double value) { std::isnan(value) ? out.write("nan") : out.number(value); }

// JSON has no literal for a non-finite number and no reader accepts a bare
// nan or inf, so those are written as null.
void json_number(TextOutput& out, double value) { std::isfinite(value) ? out.number(value) : out.write("null"); }

void neighbour_text(TextOutput& out, std::int32_t neighbour, bool quoted) {
  if (neighbour == host::domain_edge) return out.write(quoted ? "\"box\"" : "box");
  if (neighbour == host::infinite_edge) return out.write(quoted ? "\"inf\"" : "inf");
  out.integer(neighbour);
}

void csv_row(TextOutput& out, const DiagramView& v, std::size_t i) {
  const PowerDiagram& d = v.diagram;
  out.integer(v.seed_number(i));
  for (const double value : {v.seeds.positions[2 * i], v.seeds.positions[2 * i + 1], v.seeds.weights[i]}) {
    out.write(",");
    csv_number(out, value);
  }
  out.write(",");
  if (d.unbounded[i]) {
    out.write("inf,,");
  } else {
    csv_number(out, d.areas[i]);
    out.write(",");
    if (!d.empty[i]) csv_number(out, d.centroid_x[i]);
    out.write(",");
    if (!d.empty[i]) csv_number(out, d.centroid_y[i]);
  }
  out.write(d.empty[i] ? ",1," : ",0,");
  out.write(d.unbounded[i] ? "1," : "0,");
  const auto begin = static_cast<std::size_t>(d.cell_begin[i]), end = static_cast<std::size_t>(d.cell_begin[i + 1]);
  for (std::size_t k = begin; k < end; ++k) {
    if (k != begin) out.write(" ");
    csv_number(out, d.xs[k]);
    out.write(" ");
    csv_number(out, d.ys[k]);
  }
  out.write(",");
  for (std::size_t k = begin; k < end; ++k) {
    if (k != begin) out.write(" ");
    neighbour_text(out, d.neighbours[k], false);
  }
  if (v.periodic) {
    out.write(",");
    for (std::size_t k = begin; k < end; ++k) {
      if (k != begin) out.write(" ");
      out.integer(d.neighbour_shifts[2 * k]);
      out.write(" ");
      out.integer(d.neighbour_shifts[2 * k + 1]);
    }
  }
  out.write("\n");
}

void json_cell(TextOutput& out, const DiagramView& v, std::size_t i) {
  const PowerDiagram& d = v.diagram;
  out.write("{\"seed\":");
  out.integer(v.seed_number(i));
  const char* keys[] = {",\"x\":", ",\"y\":", ",\"weight\":"};
  const double values[] = {v.seeds.positions[2 * i], v.seeds.positions[2 * i + 1], v.seeds.weights[i]};
  for (int k = 0; k < 3; ++k) {
    out.write(keys[k]);
    json_number(out, values[k]);
  }
  out.write(",\"area\":");
  d.unbounded[i] ? out.write("null") : json_number(out, d.areas[i]);
  out.write(",\"centroid\":");
  if (d.empty[i] || d.unbounded[i]) {
    out.write("null");
  } else {
    out.write("[");
    json_number(out, d.centroid_x[i]);
    out.write(",");
    json_number(out, d.centroid_y[i]);
    out.write("]");
  }
  out.write(d.empty[i] ? ",\"empty\":true" : ",\"empty\":false");
  out.write(d.unbounded[i] ? ",\"unbounded\":true,\"vertices\":[" : ",\"unbounded\":false,\"vertices\":[");
  const auto begin = static_cast<std::size_t>(d.cell_begin[i]), end = static_cast<std::size_t>(d.cell_begin[i + 1]);
  for (std::size_t k = begin; k < end; ++k) {
    out.write(k != begin ? ",[" : "[");
    json_number(out, d.xs[k]);
    out.write(",");
    json_number(out, d.ys[k]);
    out.write("]");
  }
  out.write("],\"neighbours\":[");
  for (std::size_t k = begin; k < end; ++k) {
    if (k != begin) out.write(",");
    neighbour_text(out, d.neighbours[k], true);
  }
  if (v.periodic) {
    out.write("],\"shifts\":[");
    for (std::size_t k = begin; k < end; ++k) {
      out.write(k != begin ? ",[" : "[");
      out.integer(d.neighbour_shifts[2 * k]);
      out.write(",");
      out.integer(d.neighbour_shifts[2 * k + 1]);
      out.write("]");
    }
  }
  out.write("]}");
}

}  // namespace

CellFormat cell_format_for(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == ".csv") return CellFormat::csv;
  if (ext == ".json") return CellFormat::json;
  throw ToolError(path.string() + ": unknown cell file type '" + ext + "': use .csv or .json");
}

void write_cells_csv(TextOutput& out, const DiagramView& view) {
  out.write("seed,x,y,weight,area,centroid_x,centroid_y,empty,unbounded,vertices,neighbours");
  out.write(view.periodic ? ",neighbour_shifts\n" : "\n");
  for (std::size_t i = 0; i < view.seeds.weights.size(); ++i) csv_row(out, view, i);
}

void write_cells_json(TextOutput& out, const DiagramView& view) {
  out.write("{\"seeds\":");
  out.integer(static_cast<long long>(view.seeds.weights.size()));
  out.write(",\"domain\":");
  if (view.domain) {
    const host::Box& b = *view.domain;
    const double bounds[] = {b.x_min, b.y_min, b.x_max, b.y_max};
    for (int k = 0; k < 4; ++k) {
      out.write(k == 0 ? "[" : ",");
      json_number(out, bounds[k]);
    }
    out.write("]");
  } else {
    out.write("null");
  }
  out.write(view.precision == host::CellPrecision::single_precision ? ",\"precision\":\"float\""
                                                                     : ",\"precision\":\"double\"");
  out.write(view.periodic ? ",\"periodic\":true" : ",\"periodic\":false");
  out.write(",\"cells\":[\n");
  for (std::size_t i = 0; i < view.seeds.weights.size(); ++i) {
    if (i != 0) out.write(",\n");
    json_cell(out, view, i);
  }
  out.write("\n]}\n");
}

}  // namespace vorn::tools
