#include "cgal_power.hpp"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Regular_triangulation_2.h>
#include <CGAL/Triangulation_face_base_with_info_2.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "parallel_chunks.hpp"

namespace vorn::bench {

namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Point = Kernel::Point_2;
// Vertices carry the seed's input index; faces carry their power vertex
// (weighted circumcentre), computed once and read by the three cells around it.
using VertexBase =
    CGAL::Triangulation_vertex_base_with_info_2<std::uint32_t, Kernel, CGAL::Regular_triangulation_vertex_base_2<Kernel>>;
using FaceBase =
    CGAL::Triangulation_face_base_with_info_2<Point, Kernel, CGAL::Regular_triangulation_face_base_2<Kernel>>;
using Triangulation =
    CGAL::Regular_triangulation_2<Kernel, CGAL::Triangulation_data_structure_2<VertexBase, FaceBase>>;
using Vertex = Triangulation::Vertex_handle;
using Face = Triangulation::Face_handle;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

constexpr std::size_t chunk_cells = 256;

// One polygon under construction: vertices and the label of the edge leaving each.
struct Polygon {
  std::vector<double> x, y;
  std::vector<std::int32_t> label;

  void clear() {
    x.clear();
    y.clear();
    label.clear();
  }
  void push(double px, double py, std::int32_t l) {
    x.push_back(px);
    y.push_back(py);
    label.push_back(l);
  }
  std::size_t size() const { return x.size(); }
};

void triangulate(Triangulation& rt, std::span<const double> positions, std::span<const double> weights) {
  std::vector<std::pair<Triangulation::Weighted_point, std::uint32_t>> points;
  points.reserve(weights.size());
  for (std::size_t i = 0; i < weights.size(); ++i) {
    points.emplace_back(Triangulation::Weighted_point(Point(positions[2 * i], positions[2 * i + 1]), weights[i]),
                        static_cast<std::uint32_t>(i));
  }
  rt.insert(points.begin(), points.end());  // the whole range: sorted spatially, then inserted
}

bool inside(const BoxDomain& box, const Point& p) {
  return p.x() >= box.x_min && p.x() <= box.x_max && p.y() >= box.y_min && p.y() <= box.y_max;
}

// The cell of v as the polygon of the power vertices around it, when every
// face around v is finite and its power vertex lies in the box (then the
// cell lies in the box too). Faces circulate counter-clockwise around v; the
// edge from face f's power vertex to the next one's is dual to the edge from
// v to f's vertex cw(index of v). Returns false, with `cell` unspecified,
// when the cell needs clipping.
bool dual_cell(const Triangulation& rt, Vertex v, const BoxDomain& box, Polygon& cell) {
  cell.clear();
  Triangulation::Face_circulator face = rt.incident_faces(v), done = face;
  do {
    if (rt.is_infinite(face) || !inside(box, face->info())) return false;
    const int i = face->index(v);
    cell.push(face->info().x(), face->info().y(), static_cast<std::int32_t>(face->vertex(Triangulation::cw(i))->info()));
  } while (++face != done);
  return true;
}

// Cuts `cell` to the side of the bisector of seeds a and b where a's power
// is at most b's, labelling the new edge `label`. Sutherland-Hodgman: a vertex
// with s <= 0 stays; an edge with strictly opposite signs at its ends gets
// the crossing point.
void cut(Polygon& cell, Polygon& scratch, const Triangulation::Weighted_point& a,
         const Triangulation::Weighted_point& b, std::int32_t label) {
  const double dx = b.x() - a.x(), dy = b.y() - a.y();
  const double rhs = dx * dx + dy * dy - b.weight() + a.weight();
  auto side = [&](std::size_t k) { return 2.0 * ((cell.x[k] - a.x()) * dx + (cell.y[k] - a.y()) * dy) - rhs; };
  scratch.clear();
  const std::size_t n = cell.size();
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t j = k + 1 == n ? 0 : k + 1;
    const double sk = side(k), sj = side(j);
    const double t = sk / (sk - sj);
    const double ix = cell.x[k] + t * (cell.x[j] - cell.x[k]), iy = cell.y[k] + t * (cell.y[j] - cell.y[k]);
    if (sk < 0.0 && sj > 0.0) {
      scratch.push(cell.x[k], cell.y[k], cell.label[k]);
      scratch.push(ix, iy, label);
    } else if (sk <= 0.0) {
      scratch.push(cell.x[k], cell.y[k], sj > 0.0 ? label : cell.label[k]);
    } else if (sj < 0.0) {
      scratch.push(ix, iy, cell.label[k]);
    }
  }
  std::swap(cell, scratch);
}

// The cell of v as the box cut by the bisector with every finite neighbour.
void clipped_cell(const Triangulation& rt, Vertex v, const BoxDomain& box, Polygon& cell, Polygon& scratch) {
  cell.clear();
  cell.push(box.x_min, box.y_min, -1);
  cell.push(box.x_max, box.y_min, -1);
  cell.push(box.x_max, box.y_max, -1);
  cell.push(box.x_min, box.y_max, -1);
  Triangulation::Vertex_circulator u = rt.incident_vertices(v), done = u;
  do {
    if (!rt.is_infinite(u)) cut(cell, scratch, v->point(), u->point(), static_cast<std::int32_t>(u->info()));
  } while (++u != done && cell.size() != 0);
}

// Per chunk of vertices: their cells' vertex lists, back to back.
struct ChunkLists {
  std::vector<double> xs, ys;
  std::vector<std::int32_t> neighbours;
};

void extract_chunk(const Triangulation& rt, const std::vector<Vertex>& vertices, std::size_t begin, std::size_t end,
                   const BoxDomain& box, ChunkLists& lists, std::vector<std::int64_t>& counts,
                   std::vector<double>& areas) {
  Polygon cell, scratch;
  for (std::size_t k = begin; k < end; ++k) {
    const Vertex v = vertices[k];
    if (!dual_cell(rt, v, box, cell)) clipped_cell(rt, v, box, cell, scratch);
    lists.xs.insert(lists.xs.end(), cell.x.begin(), cell.x.end());
    lists.ys.insert(lists.ys.end(), cell.y.begin(), cell.y.end());
    lists.neighbours.insert(lists.neighbours.end(), cell.label.begin(), cell.label.end());
    counts[v->info()] = static_cast<std::int64_t>(cell.size());
    areas[v->info()] = 0.5 * twice_signed_area(cell.x.data(), cell.y.data(), cell.size());
  }
}

// Copies every chunk's lists to the cells' places in the input numbering.
void gather(CellLists& out, const std::vector<Vertex>& vertices, std::vector<ChunkLists>& chunks, int threads) {
  const std::size_t total = static_cast<std::size_t>(out.cell_begin.back());
  out.xs.resize(total);
  out.ys.resize(total);
  out.neighbours.resize(total);
  parallel_chunks(threads, vertices.size(), chunk_cells, [&](std::size_t c, std::size_t begin, std::size_t end) {
    std::size_t from = 0;
    for (std::size_t k = begin; k < end; ++k) {
      const std::uint32_t seed = vertices[k]->info();
      const auto first = static_cast<std::size_t>(out.cell_begin[seed]);
      const auto count = static_cast<std::size_t>(out.cell_begin[seed + 1]) - first;
      std::copy_n(&chunks[c].xs[from], count, &out.xs[first]);
      std::copy_n(&chunks[c].ys[from], count, &out.ys[first]);
      std::copy_n(&chunks[c].neighbours[from], count, &out.neighbours[first]);
      from += count;
    }
    chunks[c] = ChunkLists{};
  });
}

CellLists extract(const Triangulation& rt, std::size_t n, const BoxDomain& box, int threads) {
  std::vector<Face> faces;
  faces.reserve(2 * n);
  for (Face f : rt.finite_face_handles()) faces.push_back(f);
  parallel_chunks(threads, faces.size(), 4096, [&](std::size_t, std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) faces[k]->info() = rt.weighted_circumcenter(faces[k]);
  });

  std::vector<Vertex> vertices;  // the non-hidden seeds
  vertices.reserve(n);
  for (Vertex v : rt.finite_vertex_handles()) vertices.push_back(v);
  CellLists out;
  out.areas.assign(n, 0.0);
  std::vector<std::int64_t> counts(n, 0);
  std::vector<ChunkLists> chunks((vertices.size() + chunk_cells - 1) / chunk_cells);
  parallel_chunks(threads, vertices.size(), chunk_cells, [&](std::size_t c, std::size_t begin, std::size_t end) {
    extract_chunk(rt, vertices, begin, end, box, chunks[c], counts, out.areas);
  });

  out.cell_begin.assign(n + 1, 0);
  for (std::size_t i = 0; i < n; ++i) out.cell_begin[i + 1] = out.cell_begin[i] + counts[i];
  gather(out, vertices, chunks, threads);
  return out;
}

}  // namespace

CellLists cgal_power_cells(std::span<const double> positions, std::span<const double> weights, const BoxDomain& box,
                           int threads, PeerTimings& timings) {
  auto start = Clock::now();
  Triangulation rt;
  triangulate(rt, positions, weights);
  timings.triangulation = seconds_since(start);
  if (rt.dimension() != 2) throw std::runtime_error("the seeds do not span the plane");

  start = Clock::now();
  CellLists cells = extract(rt, weights.size(), box, threads);
  timings.extraction = seconds_since(start);
  return cells;
}

}  // namespace vorn::bench
