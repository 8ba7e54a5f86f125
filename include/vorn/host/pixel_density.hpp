// A piecewise-constant density given as an image whose pixels span the
// domain box, and its exact integrals over the cells of a diagram.
//
// Pixel (ix, iy) covers [x_min + ix·hx, x_min + (ix+1)·hx] x
// [y_min + iy·hy, y_min + (iy+1)·hy] with hx = (x_max − x_min)/nx and
// hy = (y_max − y_min)/ny; its value is values[iy·nx + ix]: rows run along
// x, and row 0 lies at y_min (the bottom; an image file's top row is its
// last). Integrals are exact up to rounding: a polygon is cut along the
// pixel lines it crosses and each piece's area and first moments are taken
// by the shoelace formula, nothing is sampled.
#pragma once

#include <span>
#include <vector>

#include "vorn/host/power_diagram.hpp"

namespace vorn::host {

struct PixelDensity {
  long long nx = 0;            // pixels along x
  long long ny = 0;            // pixels along y
  std::vector<double> values;  // ny rows of nx values, row 0 at y_min; finite, not negative
};

// Mass and first moments of the density over a region: the mass centroid
// is (mx / mass, my / mass).
struct Moments {
  double mass = 0.0;
  double mx = 0.0;
  double my = 0.0;
};

// Throws std::invalid_argument unless the density has nx·ny finite values,
// none negative, and a positive total.
void check_pixel_density(const PixelDensity& density);

// The density's integral over the whole box.
double total_mass(const PixelDensity& density, const Box& box);

// Over the convex polygon with vertices (xs[k], ys[k]) in either
// orientation; the part outside the box has no mass.
Moments polygon_moments(const PixelDensity& density, const Box& box, std::span<const double> xs,
                        std::span<const double> ys);

// The density's integral along the segment from (x0, y0) to (x1, y1)
// (mass per unit length times length). A stretch that runs along a pixel
// line takes the value of the pixel above it (right of it for a vertical
// line) where there is one.
double segment_mass(const PixelDensity& density, const Box& box, double x0, double y0, double x1, double y1);

// On the flat torus whose period cell is the box, where the density repeats
// with the box. Over a polygon reaching less than a period beyond the box's
// sides: the sum over its copies moved by -1, 0 and 1 periods each way,
// each clipped to the box, first moments taken back to the polygon's own
// position (so the mass centroid lies among its vertices). Along a segment
// anywhere: the pixel lines repeat beyond the box, and a stretch along one
// takes the value of the pixel above (right of) it, wrapped.
Moments periodic_polygon_moments(const PixelDensity& density, const Box& box, std::span<const double> xs,
                                 std::span<const double> ys);
double periodic_segment_mass(const PixelDensity& density, const Box& box, double x0, double y0, double x1,
                             double y1);

// The moments of every cell of a bounded diagram, on `threads` threads (0:
// all); of a periodic diagram (one with neighbour_shifts), every cell's
// periodic moments, so that the masses add up to the box's.
std::vector<Moments> cell_moments(const PowerDiagram& diagram, const PixelDensity& density, const Box& box,
                                  int threads = 0);

}  // namespace vorn::host
