// bsp_build_level_kernel: the main kernel of the BSP units, one work item per
// node of the level being built.
#pragma once

#include <string_view>

#include "bsp_build_level.hpp"
#include "vorn/tensor/tensor.hpp"

namespace vorn {

namespace detail {

// Entry b of a per-node member, or the absent member itself.
template <class Member>
auto node_entry(const Member& member, long long b) {
  if constexpr (is_tensor_view_v<Member>) {
    return member[b];
  } else {
    return member;
  }
}

}  // namespace detail

struct bsp_build_level_kernel {
  static constexpr std::string_view name = "bsp_build_level_kernel";

  // Work item b reads the input cloud and writes the output cloud and `order`
  // only inside node b's range, and writes only entry b of the level's
  // per-node outputs: items of one launch never write the same element.
  template <class C, class Inputs, class Outputs, class Scratch>
  void operator()(const C& coords, const Inputs& inputs, const Outputs& outputs, const Scratch& scratch) const {
    const long long b = coords.template get<0>();
    const auto& level = outputs.level;
    bsp_build_level(inputs.cloud, outputs.cloud, scratch.order, level.node_begin[b], level.node_end[b],
                    level.node_box[b], detail::node_entry(level.majorant_gradient, b),
                    detail::node_entry(level.majorant_offset, b), level.node_split[b], inputs.params(0));
  }
};

}  // namespace vorn
