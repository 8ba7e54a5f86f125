// Short edges removed from cell lists, checked on hand-made lists: the
// rewritten lists of every cell, including the cells after a rewritten one
// in the same block, which move up in place.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <utility>
#include <vector>

#include "host/cell_lists.hpp"
#include "host/mutual_neighbours.hpp"

namespace vorn::host::detail {
namespace {

struct Vertex {
  double x, y;
  std::int32_t neighbour;  // of the edge that starts here

  bool operator==(const Vertex&) const = default;
};

void PrintTo(const Vertex& v, std::ostream* os) { *os << "(" << v.x << ", " << v.y << "; " << v.neighbour << ")"; }

void append(CellLists& cells, const std::vector<Vertex>& vertices) {
  std::vector<double> xs, ys;
  std::vector<std::int32_t> ids;
  for (const Vertex& v : vertices) xs.push_back(v.x), ys.push_back(v.y), ids.push_back(v.neighbour);
  cells.block(0).append(xs.data(), ys.data(), ids.data(), nullptr, static_cast<std::int64_t>(vertices.size()),
                        CellFigures{1.0, 0.5, 0.5, false, false});
}

std::vector<Vertex> vertices(const CellLists& cells, std::size_t i) {
  const CellView c = cells.cell(i);
  std::vector<Vertex> out;
  for (std::int64_t k = 0; k < c.size; ++k) out.push_back({c.xs[k], c.ys[k], c.neighbours[k]});
  return out;
}

constexpr double tiny = 1e-12;  // far below the tolerance: an edge at a point where cells touch

TEST(MutualNeighbours, ShortEdgesGoAndTheEdgesBesideThemJoin) {
  CellLists cells(4);
  // Seed 0: the edge on seed 3 is a point; the edges on seed 1 before and
  // after it become one.
  append(cells, {{0, 0, -1}, {1, 0, 1}, {1, 1, 3}, {1, 1 + tiny, 1}, {0, 1, -1}});
  // Seed 1: its first and last edges name seed 0 once the short edge between
  // them goes: the last runs on into the first, which starts at its vertex.
  append(cells, {{2, 0, 0}, {3, 0, -1}, {3, 1, -1}, {2 + tiny, 1, 3}, {2, 1, 0}});
  // Seed 2: would keep two vertices: kept whole, and reported.
  append(cells, {{4, 0, 3}, {4 + tiny, 0, 1}, {4 + tiny, tiny, 3}});
  // Seed 3: touches the others at points only, and has nothing to remove;
  // it moves up over the vertices removed before it.
  append(cells, {{5, 0, -1}, {6, 0, -1}, {6, 1, -1}, {5, 1, -1}});

  const Disagreements found = make_neighbours_mutual(cells, std::vector<double>(4, 1e-9), 1);

  EXPECT_EQ(vertices(cells, 0), (std::vector<Vertex>{{0, 0, -1}, {1, 0, 1}, {0, 1, -1}}));
  EXPECT_EQ(vertices(cells, 1), (std::vector<Vertex>{{2, 1, 0}, {3, 0, -1}, {3, 1, -1}}));
  EXPECT_EQ(vertices(cells, 2), (std::vector<Vertex>{{4, 0, 3}, {4 + tiny, 0, 1}, {4 + tiny, tiny, 3}}));
  EXPECT_EQ(vertices(cells, 3), (std::vector<Vertex>{{5, 0, -1}, {6, 0, -1}, {6, 1, -1}, {5, 1, -1}}));
  EXPECT_TRUE(found.one_sided.empty());
  EXPECT_EQ(found.collapsed, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(cells.block(0).xs.size(), 3u + 3u + 3u + 4u);
}

}  // namespace
}  // namespace vorn::host::detail
