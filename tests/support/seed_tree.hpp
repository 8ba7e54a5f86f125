// A test-side BSP of weighted 2-D seeds in the cell engine's node numbering,
// owning its arrays and exposing them as one engine::WeightedSeeds2 record.
//
// Nodes are numbered depth-first pre-order: root 0 at level L; the children
// of node d at level l >= 2 are d + 1 (lower half along the box's longer
// side) and d + 2^(l-1) (upper half); leaves are at level 1. Every node gets
// its box and a weight majorant w <= g·p + W that holds for all its points.
// Empty nodes carry NaN boxes and majorants, which a reader must not need.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "vorn/engine/bsp_seeds.hpp"

namespace vorn::test {

struct WeightedPoint {
  double x, y, w;
};

// n points uniform in the unit square, weights uniform in [0, max_weight).
inline std::vector<WeightedPoint> random_points(int n, unsigned seed, double max_weight) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0, 1), w(0, max_weight);
  std::vector<WeightedPoint> p;
  for (int i = 0; i < n; ++i) p.push_back({u(rng), u(rng), w(rng)});
  return p;
}

enum class Majorant {
  flat,    // g = 0, W just above the largest weight
  sloped,  // g = a fixed slope (1, -0.5)·spread, W the largest residual: exercises g in the bound
};

class SeedTree {
 public:
  // `spread` > 1 stores every array with gaps of (spread - 1) NaN elements,
  // so the record must be read through its strides.
  SeedTree(std::vector<WeightedPoint> points, int levels, Majorant majorant = Majorant::flat, int spread = 1)
      : levels_(levels), spread_(spread), majorant_(majorant) {
    long long const nodes = (1LL << levels) - 1;
    double const nan = std::numeric_limits<double>::quiet_NaN();
    long long const n = static_cast<long long>(points.size());
    positions_.assign(static_cast<std::size_t>(n * 2 * spread), nan);
    weights_.assign(static_cast<std::size_t>(n * spread), nan);
    begin_.assign(static_cast<std::size_t>(nodes * spread), -1);
    end_.assign(static_cast<std::size_t>(nodes * spread), -1);
    box_.assign(static_cast<std::size_t>(nodes * 4 * spread), nan);
    gradient_.assign(static_cast<std::size_t>(nodes * 2 * spread), nan);
    offset_.assign(static_cast<std::size_t>(nodes * spread), nan);
    order_.resize(points.size());
    std::iota(order_.begin(), order_.end(), 0LL);
    points_ = std::move(points);
    build(0, levels, 0, n);
    for (long long k = 0; k < n; ++k) {
      WeightedPoint const& p = points_[static_cast<std::size_t>(order_[static_cast<std::size_t>(k)])];
      position(k, 0) = p.x;
      position(k, 1) = p.y;
      weights_[static_cast<std::size_t>(k * spread)] = p.w;
    }
    describe();
  }

  // Levels for leaves of at most `leaf_size` points.
  static int levels_for(long long n, long long leaf_size) {
    int levels = 1;
    while ((n + (1LL << (levels - 1)) - 1) / (1LL << (levels - 1)) > leaf_size) ++levels;
    return levels;
  }

  engine::WeightedSeeds2 const& seeds() const { return seeds_; }
  engine::WeightedSeeds2& seeds() { return seeds_; }
  long long size() const { return static_cast<long long>(points_.size()); }
  // Input index of tree point k.
  long long original(long long k) const { return order_[static_cast<std::size_t>(k)]; }
  // Tree point k as stored.
  WeightedPoint point(long long k) const {
    return {seeds_.positions(k, 0), seeds_.positions(k, 1), seeds_.weights(k)};
  }

 private:
  double& position(long long k, int c) { return positions_[static_cast<std::size_t>((k * 2 + c) * spread_)]; }
  double& box(long long d, int high, int c) {
    return box_[static_cast<std::size_t>(((d * 2 + high) * 2 + c) * spread_)];
  }
  WeightedPoint const& at(long long k) const {
    return points_[static_cast<std::size_t>(order_[static_cast<std::size_t>(k)])];
  }

  void build(long long node, int level, long long begin, long long end) {
    begin_[static_cast<std::size_t>(node * spread_)] = begin;
    end_[static_cast<std::size_t>(node * spread_)] = end;
    if (begin < end) bound(node, begin, end);
    if (level <= 1) return;
    bool const split_x = box(node, 1, 0) - box(node, 0, 0) >= box(node, 1, 1) - box(node, 0, 1);
    long long const mid = begin + (end - begin) / 2;
    if (end - begin > 1) {
      auto key = [&](long long k) { return split_x ? points_[k].x : points_[k].y; };
      std::nth_element(order_.begin() + begin, order_.begin() + mid, order_.begin() + end,
                       [&](long long a, long long b) { return key(a) < key(b); });
    }
    build(node + 1, level - 1, begin, mid);
    build(node + (1LL << (level - 1)), level - 1, mid, end);
  }

  // Box and majorant of the points [begin, end); W is the largest residual
  // w - g·p plus a relative margin, so the bound also holds after rounding.
  void bound(long long node, long long begin, long long end) {
    double lo[2] = {at(begin).x, at(begin).y}, hi[2] = {lo[0], lo[1]};
    double wmin = at(begin).w, wmax = wmin;
    for (long long k = begin; k < end; ++k) {
      lo[0] = std::min(lo[0], at(k).x), hi[0] = std::max(hi[0], at(k).x);
      lo[1] = std::min(lo[1], at(k).y), hi[1] = std::max(hi[1], at(k).y);
      wmin = std::min(wmin, at(k).w), wmax = std::max(wmax, at(k).w);
    }
    double const spread = wmax - wmin;
    double const gx = majorant_ == Majorant::sloped ? spread : 0.0;
    double const gy = majorant_ == Majorant::sloped ? -0.5 * spread : 0.0;
    long double top = -std::numeric_limits<long double>::infinity();
    long double scale = 0;
    for (long long k = begin; k < end; ++k) {
      long double const lin = static_cast<long double>(gx) * at(k).x + static_cast<long double>(gy) * at(k).y;
      top = std::max(top, at(k).w - lin);
      scale = std::max(scale, std::fabs(lin));
    }
    for (int c = 0; c < 2; ++c) box(node, 0, c) = lo[c], box(node, 1, c) = hi[c];
    gradient_[static_cast<std::size_t>(node * 2 * spread_)] = gx;
    gradient_[static_cast<std::size_t>((node * 2 + 1) * spread_)] = gy;
    offset_[static_cast<std::size_t>(node * spread_)] =
        static_cast<double>(top + 1e-6L * (scale + spread + std::fabs(top)));
  }

  void describe() {
    std::int64_t const s = spread_;
    long long const n = size();
    long long const nodes = (1LL << levels_) - 1;
    seeds_.positions = {positions_.data(), {16 * s, 8 * s}, {n, 2}};
    seeds_.weights = {weights_.data(), {8 * s}, {n}};
    seeds_.node_begin = {begin_.data(), {8 * s}, {nodes}};
    seeds_.node_end = {end_.data(), {8 * s}, {nodes}};
    seeds_.node_box = {box_.data(), {32 * s, 16 * s, 8 * s}, {nodes, 2, 2}};
    seeds_.majorant_gradient = {gradient_.data(), {16 * s, 8 * s}, {nodes, 2}};
    seeds_.majorant_offset = {offset_.data(), {8 * s}, {nodes}};
  }

  int levels_;
  int spread_;
  Majorant majorant_;
  std::vector<WeightedPoint> points_;
  std::vector<long long> order_;
  std::vector<double> positions_, weights_, box_, gradient_, offset_;
  std::vector<long long> begin_, end_;
  engine::WeightedSeeds2 seeds_{};
};

}  // namespace vorn::test
