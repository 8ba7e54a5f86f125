// Writing a computed diagram: cells as CSV or JSON, and an SVG picture.
//
// CSV: a header line, then one line per seed in input order:
//   seed,x,y,weight,area,centroid_x,centroid_y,empty,unbounded,vertices,neighbours
// `vertices` holds "x y" pairs separated by spaces, counter-clockwise;
// `neighbours` the neighbour of each edge (edge k from vertex k to k + 1):
// a seed index, "box" for the domain's boundary or "inf" for an edge at
// infinity. An empty cell has area 0 and empty centroid, vertex and neighbour
// fields; an unbounded cell has area "inf" and an empty centroid.
//
// A periodic diagram's file adds the column `neighbour_shifts` at the end:
// "sx sy" pairs separated by spaces, one pair per edge, the copy of the
// neighbour the edge faces (at its position + (sx Lx, sy Ly), L the box's
// sides); x and y are the seeds' wrapped positions, around which the cells
// lie, and no edge is "box".
//
// JSON: {"seeds": n, "domain": [x_min, y_min, x_max, y_max] or null,
//        "precision": "double" | "float", "periodic": true | false,
//        "cells": [{"seed", "x", "y", "weight", "area" (null if unbounded),
//        "centroid" ([x, y] or null), "empty", "unbounded",
//        "vertices": [[x, y], ...], "neighbours": [index | "box" | "inf", ...],
//        and for a periodic diagram "shifts": [[sx, sy], ...]}, ...]}
//
// Numbers are written in the shortest form that reads back to the same double.
// A number that is not finite is written in CSV as "inf", "-inf" or "nan",
// and in JSON, which has no such literals, as null.
#pragma once

#include <filesystem>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "text_output.hpp"
#include "seed_input.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn::tools {

enum class CellFormat { csv, json };

// By the extension of `path`: .csv or .json (any case); ToolError otherwise.
CellFormat cell_format_for(const std::filesystem::path& path);

// What the picture's colour scale shows.
enum class PictureColour { area, weight };

struct DiagramView {
  const SeedTable& seeds;
  const host::PowerDiagram& diagram;
  std::optional<host::Box> domain;
  host::CellPrecision precision;
  PictureColour colour_by = PictureColour::area;
  bool periodic = false;  // the domain is a period cell; seeds are the wrapped ones
  // Part of a larger set (a rank's share of a distributed diagram): cell
  // i's number in the caller's set, in the files' "seed" field; empty: i.
  std::span<const std::int64_t> seed_numbers = {};

  long long seed_number(std::size_t i) const {
    return seed_numbers.empty() ? static_cast<long long>(i) : static_cast<long long>(seed_numbers[i]);
  }
};

void write_cells_csv(TextOutput& out, const DiagramView& view);
void write_cells_json(TextOutput& out, const DiagramView& view);

// The picture, a figure: a title with the counts; the cells filled by a
// colour scale of their area (or their seed's weight) with its legend,
// outlined in proportion to their size (of an unbounded cell, its finite
// edges); seeds as dots where the cells are large enough to show them (the
// seeds of empty cells in red), circles of radius sqrt(weight) in small
// diagrams; axes in the domain's coordinates and a caption of the marks. It
// shows the domain, or without one the seeds' bounding box with a margin;
// of more than 25,000 cells only a window in the middle holding about that
// many, which the caption names. Its size follows the region's shape. A
// periodic diagram's cells are drawn wrapped into the box: each cell with
// its copies one period away, clipped to the box.
void write_svg(TextOutput& out, const DiagramView& view);

}  // namespace vorn::tools
