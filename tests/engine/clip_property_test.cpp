// Random convex polygons cut by random planes, against an independent clip
// in long double: the result stays convex and counter-clockwise, and has the
// same vertices and edge ids.
#include <cmath>
#include <numbers>
#include <random>

#include "cell_fixture.hpp"

namespace vorn::test {
namespace {

using Wide = long double;

struct WideVertex {
  Wide x, y;
  std::int32_t id;  // of the edge that starts here
};

// Keeps the part with normal·p <= offset; the edge from a kept vertex into
// the removed side keeps its id, the new edge on the plane takes the plane's.
std::vector<WideVertex> reference_clip(std::vector<WideVertex> const& in, Wide nx, Wide ny, Wide offset,
                                       std::int32_t plane_id) {
  std::vector<WideVertex> out;
  std::size_t const n = in.size();
  auto value = [&](WideVertex const& v) { return nx * v.x + ny * v.y - offset; };
  for (std::size_t i = 0; i < n; ++i) {
    WideVertex const& a = in[i];
    WideVertex const& b = in[(i + 1) % n];
    Wide const va = value(a), vb = value(b);
    if (va <= 0) out.push_back(a);
    if ((va <= 0) != (vb <= 0)) {
      Wide const t = va / (va - vb);
      out.push_back({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, va <= 0 ? plane_id : a.id});
    }
  }
  return out;
}

Wide cross(WideVertex const& a, WideVertex const& b, WideVertex const& c) {
  return (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
}

template <class T>
std::vector<WideVertex> read_cell(Local2<T> const& c) {
  std::vector<WideVertex> v;
  for (int i = 0; i < c.vertex_count; ++i) v.push_back({Wide(c.xs[i]), Wide(c.ys[i]), c.cut_ids[i]});
  return v;
}

class ClipPropertyTest : public BackendTest {
 protected:
  // Vertices on a circle of radius r at sorted random angles.
  template <class T>
  void start_polygon(std::mt19937_64& rng, TestCell<T>& c, int n, T r) {
    std::uniform_real_distribution<double> angle(0, 2 * std::numbers::pi);
    std::vector<double> a(n);
    for (double& x : a) x = angle(rng);
    std::sort(a.begin(), a.end());
    std::vector<T> xs, ys;
    std::vector<std::int32_t> ids;
    for (int i = 0; i < n; ++i) {
      xs.push_back(T(r * std::cos(a[i])));
      ys.push_back(T(r * std::sin(a[i])));
      ids.push_back(1000 + i);
    }
    c.set_polygon(xs, ys, ids);
    c.cell.edge_lines_valid = false;
  }

  // A plane through a random point near the centre; none with a vertex so
  // close to it that rounding in T could classify the vertex differently.
  template <class T>
  Plane<T, 2> random_plane(std::mt19937_64& rng, Local2<T> const& c, T r, std::int32_t id) {
    std::uniform_real_distribution<double> unit(-1, 1);
    for (;;) {
      double const phi = unit(rng) * std::numbers::pi;
      Plane<T, 2> p{{T(std::cos(phi)), T(std::sin(phi))}, T(0), id};
      p.offset = T(Wide(p.normal[0]) * unit(rng) * 0.6 * r + Wide(p.normal[1]) * unit(rng) * 0.6 * r);
      bool clear = true;
      for (int i = 0; i < c.vertex_count; ++i) {
        Wide const v = Wide(p.normal[0]) * c.xs[i] + Wide(p.normal[1]) * c.ys[i] - p.offset;
        clear = clear && std::fabs(v) > 1e3 * std::numeric_limits<T>::epsilon() * r;
      }
      if (clear) return p;
    }
  }

  template <class T>
  void check_random_cuts(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int> size(3, 80);
    T const r = 50;
    Wide const tol = 64 * std::numeric_limits<T>::epsilon() * r;
    for (int polygon = 0; polygon < 40; ++polygon) {
      TestCell<T> c(128);
      start_polygon(rng, c, size(rng), r);
      for (int step = 0; step < 12 && c.cell.vertex_count > 0; ++step) {
        SCOPED_TRACE(::testing::Message() << precision_name<T>() << ", polygon " << polygon << ", cut " << step);
        Plane<T, 2> const p = random_plane(rng, c.cell, r, step);
        std::vector<WideVertex> const want = reference_clip(read_cell(c.cell), p.normal[0], p.normal[1], p.offset, step);
        c.cell.edge_lines_valid = step % 2 == 1;  // alternate the two cuts
        int const result = ops<T>().cut(c.cell, p);
        std::vector<WideVertex> const got = read_cell(c.cell);
        if (result == cut_result::emptied) {
          ASSERT_TRUE(want.empty());
          continue;
        }
        ASSERT_EQ(got.size(), want.size());
        expect_same_polygon(got, want, tol);
        expect_convex_ccw(got, tol * r);
      }
    }
  }

  // Same cyclic sequence of vertices (within tol) and edge ids.
  static void expect_same_polygon(std::vector<WideVertex> const& got, std::vector<WideVertex> const& want, Wide tol) {
    std::size_t const n = got.size();
    std::size_t shift = 0;
    while (shift < n && !(std::fabs(got[shift].x - want[0].x) <= tol && std::fabs(got[shift].y - want[0].y) <= tol))
      ++shift;
    ASSERT_LT(shift, n) << "first reference vertex not found";
    for (std::size_t i = 0; i < n; ++i) {
      WideVertex const& g = got[(i + shift) % n];
      EXPECT_NEAR(double(g.x), double(want[i].x), double(tol)) << "vertex " << i;
      EXPECT_NEAR(double(g.y), double(want[i].y), double(tol)) << "vertex " << i;
      EXPECT_EQ(g.id, want[i].id) << "edge " << i;
    }
  }

  static void expect_convex_ccw(std::vector<WideVertex> const& v, Wide tol) {
    std::size_t const n = v.size();
    Wide area = 0;
    for (std::size_t i = 0; i < n; ++i) {
      area += v[i].x * v[(i + 1) % n].y - v[(i + 1) % n].x * v[i].y;
      EXPECT_GE(double(cross(v[i], v[(i + 1) % n], v[(i + 2) % n])), -double(tol)) << "reflex at " << i + 1;
    }
    EXPECT_GT(double(area), 0.0);
  }
};

TEST_P(ClipPropertyTest, RandomCutsKeepTheLongDoubleClip) {
  check_random_cuts<double>(11);
  check_random_cuts<float>(12);
}

VORN_INSTANTIATE_FOR_BACKENDS(ClipPropertyTest);

}  // namespace
}  // namespace vorn::test
