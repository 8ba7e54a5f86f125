#include "plane_split.hpp"

#include <algorithm>
#include <limits>
#include <span>

namespace vorn::mpi {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

double along(const SamplePoint& p, int axis) { return axis == 0 ? p.x : p.y; }

// The side of `region` within `domain` to cut: the longer one (x on a tie).
int cut_axis(const host::Box& region, const host::Box& domain) {
  const double width = std::min(region.x_max, domain.x_max) - std::max(region.x_min, domain.x_min);
  const double height = std::min(region.y_max, domain.y_max) - std::max(region.y_min, domain.y_min);
  return height > width ? 1 : 0;
}

struct Builder {
  PlaneSplit& split;
  const host::Box& domain;

  // Splits the ranks [first, first + count) over `region`, whose sample
  // points are `points`; returns the child reference of the result.
  int build(std::span<SamplePoint> points, int first, int count, const host::Box& region) {
    if (count == 1) {
      split.regions[static_cast<std::size_t>(first)] = region;
      return ~first;
    }
    const int axis = cut_axis(region, domain);
    const int below_ranks = count / 2;
    double cut;
    std::size_t split_at;
    if (points.empty()) {
      const double lo = std::max(axis == 0 ? region.x_min : region.y_min, axis == 0 ? domain.x_min : domain.y_min);
      const double hi = std::min(axis == 0 ? region.x_max : region.y_max, axis == 0 ? domain.x_max : domain.y_max);
      cut = 0.5 * lo + 0.5 * hi;
      split_at = 0;
    } else {
      // Ties in the coordinate are ordered by seed number, so that every
      // rank, whatever order its sample came in, picks the same cut.
      const auto before = [axis](const SamplePoint& a, const SamplePoint& b) {
        return along(a, axis) < along(b, axis) || (along(a, axis) == along(b, axis) && a.seed < b.seed);
      };
      std::sort(points.begin(), points.end(), before);
      const std::size_t quantile =
          points.size() * static_cast<std::size_t>(below_ranks) / static_cast<std::size_t>(count);
      cut = along(points[quantile], axis);
      // Points on the cut go above it, with every point equal to the quantile's.
      split_at = static_cast<std::size_t>(
          std::lower_bound(points.begin(), points.end(), cut,
                           [axis](const SamplePoint& p, double v) { return along(p, axis) < v; }) -
          points.begin());
    }
    const int node = static_cast<int>(split.nodes.size());
    split.nodes.push_back({axis, cut, 0, 0});
    host::Box below = region, above = region;
    (axis == 0 ? below.x_max : below.y_max) = cut;
    (axis == 0 ? above.x_min : above.y_min) = cut;
    const int low = build(points.first(split_at), first, below_ranks, below);
    const int high = build(points.subspan(split_at), first + below_ranks, count - below_ranks, above);
    split.nodes[static_cast<std::size_t>(node)].below = low;
    split.nodes[static_cast<std::size_t>(node)].above = high;
    return node;
  }
};

}  // namespace

int PlaneSplit::owner(double x, double y) const {
  if (nodes.empty()) return 0;
  int at = 0;
  while (at >= 0) {
    const Node& n = nodes[static_cast<std::size_t>(at)];
    at = (n.axis == 0 ? x : y) < n.cut ? n.below : n.above;
  }
  return ~at;
}

PlaneSplit split_plane(std::vector<SamplePoint> sample, int ranks, const host::Box& domain) {
  PlaneSplit split;
  split.regions.resize(static_cast<std::size_t>(ranks));
  Builder{split, domain}.build(sample, 0, ranks, {-infinity, -infinity, infinity, infinity});
  return split;
}

}  // namespace vorn::mpi
