// The seed set as the cell engine reads it: seed positions and weights in the
// BSP's tree order, and the tree's nodes in depth-first pre-order. The record
// crosses the engine library's boundary, so it is a fixed sequence of 64-bit
// slots forming seven strided array descriptors (data pointer, then one byte
// stride per axis, then one extent per axis):
//
//   slots   field              element     axes (strides, then extents)
//   0-4     positions          double      point, coordinate (2)
//   5-7     weights            double      point
//   8-10    node_begin         int64       node                       (slot 10: node count)
//   11-13   node_end           int64       node
//   14-20   node_box           double      node, low/high (2), coordinate (2)
//   21-25   majorant_gradient  double      node, coordinate (2)
//   26-28   majorant_offset    double      node
//
// Element (i, j, k) of a descriptor lies at data + i·stride0 + j·stride1 +
// k·stride2 bytes. The engine reads every pointer and stride, and of the
// extents only the node count. Nodes: root 0; the children of node d at
// level L >= 2 are d + 1 and d + 2^(L-1); leaves are at level 1. For every
// point b of node d: weight(b) <= majorant_gradient[d]·b + majorant_offset[d].
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace vorn::engine {

// A strided view of `rank` axes over elements of type E, strides in bytes.
template <class E, int rank>
struct ArrayDescriptor {
  E const* data;
  std::int64_t strides[rank];
  std::int64_t extents[rank];

  template <class... I>
  E const& operator()(I... index) const {
    static_assert(sizeof...(I) == rank);
    return at(std::make_index_sequence<rank>{}, static_cast<std::int64_t>(index)...);
  }

 private:
  // One scalar product per axis, summed in registers: a loop over an index
  // array on the stack is vectorised by GCC into stalled store-to-load pairs.
  template <std::size_t... axis, class... I>
  E const& at(std::index_sequence<axis...>, I... index) const {
    std::int64_t const bytes = ((index * strides[axis]) + ...);
    return *reinterpret_cast<E const*>(reinterpret_cast<char const*>(data) + bytes);
  }
};

// Seed set of coordinate type Real, index type Index and dimension dim. The
// first flag says that the seeds carry weights and the nodes a weight
// majorant; the delivered engine defines only the weighted 2-D record with
// the second flag false.
template <class Real, class Index, int dim, bool weighted, bool second_flag>
struct BspSeeds;

template <>
struct BspSeeds<double, long long, 2, true, false> {
  ArrayDescriptor<double, 2> positions;
  ArrayDescriptor<double, 1> weights;
  ArrayDescriptor<long long, 1> node_begin;
  ArrayDescriptor<long long, 1> node_end;
  ArrayDescriptor<double, 3> node_box;
  ArrayDescriptor<double, 2> majorant_gradient;
  ArrayDescriptor<double, 1> majorant_offset;

  long long node_count() const { return node_begin.extents[0]; }
};

using WeightedSeeds2 = BspSeeds<double, long long, 2, true, false>;

namespace detail {
constexpr bool seeds_have_fixed_layout() {
  using S = WeightedSeeds2;
  return sizeof(S) == 29 * 8 && offsetof(S, weights) == 5 * 8 && offsetof(S, node_begin) == 8 * 8 &&
         offsetof(S, node_end) == 11 * 8 && offsetof(S, node_box) == 14 * 8 &&
         offsetof(S, majorant_gradient) == 21 * 8 && offsetof(S, majorant_offset) == 26 * 8;
}
}  // namespace detail
static_assert(detail::seeds_have_fixed_layout(), "the seed set is 29 fixed 64-bit slots");

}  // namespace vorn::engine
