// One call of a BSP level unit with buffers owned by the test.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "vorn/host/bsp_tree.hpp"

namespace vorn::testing {

inline std::string unit_name(host::BspUnit unit) {
  switch (unit) {
    case host::BspUnit::weighted_2d:
      return "weighted_2d";
    case host::BspUnit::plain_3d:
      return "plain_3d";
    case host::BspUnit::plain_2d:
      break;
  }
  return "plain_2d";
}

struct LevelCall {
  host::BspUnit unit;
  std::size_t d;
  std::vector<double> positions, weights;  // input cloud; weights only for the weighted unit
  std::vector<long long> ids;              // 1000 + k, so that ids and indices differ
  std::vector<long long> params;
  std::vector<long long> node_begin, node_end;
  std::vector<double> out_positions, out_weights;
  std::vector<long long> out_ids, node_split, order;
  std::vector<double> node_box, majorant_gradient, majorant_offset;
  std::vector<int> status = std::vector<int>(3, -7);

  // `positions` holds n rows of D coordinates; weights default to 1 + k.
  LevelCall(host::BspUnit u, std::vector<double> xs, std::vector<long long> begin, std::vector<long long> end,
            long long leaf_size)
      : unit(u), d(static_cast<std::size_t>(host::bsp_dimension(u))), positions(std::move(xs)),
        params{leaf_size, -99}, node_begin(std::move(begin)), node_end(std::move(end)) {
    const std::size_t n = positions.size() / d;
    for (std::size_t k = 0; k < n; ++k) ids.push_back(1000 + static_cast<long long>(k));
    if (host::bsp_weighted(unit)) {
      for (std::size_t k = 0; k < n; ++k) weights.push_back(1.0 + static_cast<double>(k));
    }
    const std::size_t m = node_begin.size();
    const std::size_t wm = host::bsp_weighted(unit) ? m : 0;
    out_positions.resize(n * d);
    out_weights.resize(weights.size());
    out_ids.resize(n);
    order.resize(n);
    node_split.resize(m);
    node_box.resize(2 * d * m);
    majorant_gradient.resize(d * wm);
    majorant_offset.resize(wm);
  }

  std::size_t n() const { return ids.size(); }

  // Every written buffer full of a pattern that the unit must overwrite.
  void fill_outputs_with_garbage() {
    for (auto* v : {&out_positions, &out_weights, &node_box, &majorant_gradient, &majorant_offset}) {
      if (!v->empty()) std::memset(v->data(), 0x5a, v->size() * sizeof(double));
    }
    for (auto* v : {&out_ids, &node_split, &order}) {
      if (!v->empty()) std::memset(v->data(), 0x5a, v->size() * sizeof(long long));
    }
  }

  void run() {
    host::run_bsp_level(unit, {positions, weights, ids, params, node_begin, node_end, out_positions, out_weights,
                               out_ids, node_split, node_box, majorant_gradient, majorant_offset, order, status});
  }

  double x(std::size_t k, std::size_t j) const { return out_positions[k * d + j]; }
  double box(std::size_t b, int corner, std::size_t j) const { return node_box[(2 * b + corner) * d + j]; }
};

}  // namespace vorn::testing
