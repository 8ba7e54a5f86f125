// Host-encoded argument records against the units' own decoding: for every
// unit's declaration, the record a host encodes decodes back, as the unit
// decodes it, to every pointer, extent, stride and shape value the host set.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "units/bsp_build_level/bsp_level_units.hpp"
#include "units/frame/record_encoder.hpp"
#include "units/mass/image_mass_unit.hpp"

namespace vorn {
namespace {

using frame::RecordLayout;

constexpr bool same_layout(const RecordLayout& a, const RecordLayout& b) {
  return a.input_triples == b.input_triples && a.output_triples == b.output_triples &&
         a.shape_values == b.shape_values && a.space_extents == b.space_extents;
}

// The agreed binary interface of each unit: a change here is a change of
// the units' interface, which must change their entry symbols too. The
// status triple comes on top of the inputs and outputs; the shape-variable
// array holds the bundles' values, then the index space's extents.
struct WeightedBsp2d {
  using Decl = records::unit_bsp_level_2d_weighted;
  static constexpr const char* name = "unit_bsp_level_2d_weighted";
  static constexpr RecordLayout layout{6, 8, 1, 1};
  static constexpr int triples = 15;
  static constexpr int shape_array = 2;
};
struct Bsp3d {
  using Decl = records::unit_bsp_level_3d;
  static constexpr const char* name = "unit_bsp_level_3d";
  static constexpr RecordLayout layout{5, 5, 1, 1};
  static constexpr int triples = 11;
  static constexpr int shape_array = 2;
};
struct Bsp2d {
  using Decl = records::unit_bsp_level_2d;
  static constexpr const char* name = "unit_bsp_level_2d";
  static constexpr RecordLayout layout{5, 5, 0, 1};
  static constexpr int triples = 11;
  static constexpr int shape_array = 1;
};
struct ImageMass3d {
  using Decl = records::unit_image_mass_3d;
  static constexpr const char* name = "unit_image_mass_3d";
  static constexpr RecordLayout layout{5, 1, 1, 0};
  static constexpr int triples = 7;
  static constexpr int shape_array = 1;
};

template <class Case>
constexpr bool has_agreed_layout() {
  constexpr RecordLayout layout = Case::Decl::layout;
  return same_layout(layout, Case::layout) && layout.triples() == Case::triples &&
         layout.shape_array() == Case::shape_array;
}

static_assert(has_agreed_layout<WeightedBsp2d>());
static_assert(has_agreed_layout<Bsp3d>());
static_assert(has_agreed_layout<Bsp2d>());
static_assert(has_agreed_layout<ImageMass3d>());

// Calls f(a, b) for each pair of corresponding leaves of two bundles of one type.
template <class B, class F>
void for_each_leaf_pair(B& a, B& b, F&& f) {
  if constexpr (Bundle<B>) {
    auto members_a = a.members();
    auto members_b = b.members();
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (for_each_leaf_pair(std::get<I>(members_a), std::get<I>(members_b), f), ...);
    }(std::make_index_sequence<std::tuple_size_v<decltype(members_a)>>{});
  } else {
    f(a, b);
  }
}

// Points every view of a unit's host bundles at its own place in an arena
// (never dereferenced), with its own dynamic extents, and gives every shape
// variable its own value, so that any two mixed up differ.
class DistinctFiller {
 public:
  explicit DistinctFiller(std::byte* arena) : arena_(arena) {}

  template <class M>
  void operator()(M& member) {
    if constexpr (is_tensor_view_v<M>) {
      point(member);
    } else if constexpr (is_shape_var_view_v<M>) {
      if constexpr (is_tensor_view_v<decltype(member.source)>) point(member.source);
      frame::set_shape_value(member, 1000 + next_extent_++);
    }
  }

  template <class View>
  void point(View& view) {
    using Shape = typename View::shape_type;
    std::array<long long, View::rank> extents{};
    [&]<std::size_t... K>(std::index_sequence<K...>) {
      ((extents[K] = Shape::template is_static<K> ? Shape{}.template get<K>() : next_extent_++), ...);
    }(std::make_index_sequence<View::rank>{});
    frame::point_at(view, reinterpret_cast<typename View::element_type*>(arena_ + next_offset_), extents);
    next_offset_ += 64;
  }

  long long next_extent() { return next_extent_++; }

 private:
  std::byte* arena_;
  std::size_t next_offset_ = 64;
  long long next_extent_ = 3;
};

template <class View>
void expect_same_view(const View& host, const View& decoded) {
  EXPECT_EQ(static_cast<const void*>(decoded.data), static_cast<const void*>(host.data));
  [&]<std::size_t... K>(std::index_sequence<K...>) {
    (
        [&] {
          EXPECT_EQ(decoded.template extent<K>(), host.template extent<K>()) << "axis " << K;
          EXPECT_EQ(decoded.strides.template get<K>(), host.strides.template get<K>()) << "axis " << K;
        }(),
        ...);
  }(std::make_index_sequence<View::rank>{});
}

// Every member of the decoded bundles equals its counterpart in the host's.
struct ExpectSameLeaf {
  int leaf = 0;

  template <class M>
  void operator()(const M& host, const M& decoded) {
    SCOPED_TRACE("leaf " + std::to_string(leaf++));
    if constexpr (is_tensor_view_v<M>) {
      expect_same_view(host, decoded);
    } else if constexpr (is_shape_var_view_v<M>) {
      if constexpr (is_tensor_view_v<decltype(host.source)>) expect_same_view(host.source, decoded.source);
      if constexpr (is_scalar_value_v<decltype(host.source)>) {
        EXPECT_EQ(decoded.source.value, host.source.value);
      }
      EXPECT_EQ(decoded.aux0, host.aux0);
      EXPECT_EQ(decoded.aux1, host.aux1);
    }
  }
};

// A unit's host bundles, status and index space, every one distinct.
template <class Decl>
struct HostCall {
  alignas(64) std::array<std::byte, 64 * 64> arena{};
  typename Decl::bundles_type bundles{};
  frame::StatusView status{};
  typename Decl::space_type space{};

  HostCall() {
    DistinctFiller fill(arena.data());
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (for_each_leaf<std::tuple_element_t<I, typename Decl::io_types>>(std::get<I>(bundles),
                                                                       [&](auto& member, auto) { fill(member); }),
       ...);
    }(std::make_index_sequence<std::tuple_size_v<typename Decl::bundles_type>>{});
    fill.point(status);
    if constexpr (Decl::layout.space_extents > 0) space.extents.template set<0>(fill.next_extent());
  }
};

template <class Case>
class RecordEncoding : public ::testing::Test {};

using Units = ::testing::Types<WeightedBsp2d, Bsp3d, Bsp2d, ImageMass3d>;

struct UnitNames {
  template <class Case>
  static std::string GetName(int) {
    return Case::name;
  }
};
TYPED_TEST_SUITE(RecordEncoding, Units, UnitNames);

TYPED_TEST(RecordEncoding, LayoutIsTheAgreedOne) {
  using Decl = typename TypeParam::Decl;
  EXPECT_TRUE(has_agreed_layout<TypeParam>());
  EXPECT_EQ(Decl::layout.triples(), TypeParam::triples);
  EXPECT_EQ(Decl::layout.shape_array(), TypeParam::shape_array);
}

TYPED_TEST(RecordEncoding, DecodingGivesBackEveryViewExtentAndShapeValue) {
  using Decl = typename TypeParam::Decl;
  const HostCall<Decl> host;
  const frame::EncodedRecord<Decl> encoded(host.bundles, host.status, host.space);

  typename Decl::bundles_type bundles{};
  frame::StatusView status{};
  typename Decl::space_type space{};
  frame::decode_record<Decl>(encoded.record(), encoded.shape_values(), bundles, status, space);

  auto host_bundles = host.bundles;
  ExpectSameLeaf same;
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (for_each_leaf_pair(std::get<I>(host_bundles), std::get<I>(bundles), same), ...);
  }(std::make_index_sequence<std::tuple_size_v<decltype(bundles)>>{});
  {
    SCOPED_TRACE("status");
    expect_same_view(host.status, status);
  }
  if constexpr (Decl::layout.space_extents > 0) {
    EXPECT_EQ(space.extents.template get<0>(), host.space.extents.template get<0>());
  }
}

// The slots themselves: data, the full extents (static axes too), a null
// reserved slot; one triple per storage member in walk order, status last.
TYPED_TEST(RecordEncoding, EveryTripleHoldsDataFullExtentsAndANullReservedSlot) {
  using Decl = typename TypeParam::Decl;
  const HostCall<Decl> host;
  const frame::EncodedRecord<Decl> encoded(host.bundles, host.status, host.space);
  void* const* record = encoded.record();

  int k = 0;
  const auto expect_triple = [&](const auto& view) {
    SCOPED_TRACE("triple " + std::to_string(k));
    EXPECT_EQ(record[3 * k], static_cast<const void*>(view.data));
    const auto* extents = static_cast<const long long*>(record[3 * k + 1]);
    constexpr std::size_t rank = std::remove_cvref_t<decltype(view)>::rank;
    if constexpr (rank == 0) {
      EXPECT_EQ(extents, nullptr);
    } else {
      [&]<std::size_t... K>(std::index_sequence<K...>) {
        ([&] { EXPECT_EQ(extents[K], view.template extent<K>()) << "axis " << K; }(), ...);
      }(std::make_index_sequence<rank>{});
    }
    EXPECT_EQ(record[3 * k + 2], nullptr);
    ++k;
  };
  Decl::template for_each_storage<InpList>(host.bundles, expect_triple);
  EXPECT_EQ(k, Decl::layout.input_triples);
  Decl::template for_each_storage<OutList>(host.bundles, expect_triple);
  expect_triple(host.status);
  EXPECT_EQ(k, Decl::layout.triples());
}

// The order of the hand-built records the units were first called with: a
// walk that reorders members breaks every host built before it.
TEST(RecordOrder, WeightedBspTriplesAndShapeValuesKeepTheFirstHostsOrder) {
  using Decl = records::unit_bsp_level_2d_weighted;
  const HostCall<Decl> host;
  const auto& [inputs, outputs, scratch] = host.bundles;
  const frame::EncodedRecord<Decl> encoded(host.bundles, host.status, host.space);
  const std::vector<const void*> expected{
      inputs.cloud.positions.data,     inputs.cloud.weights.data,        inputs.cloud.ids.data,
      inputs.params.data,              outputs.level.node_begin.data,    outputs.level.node_end.data,
      outputs.cloud.positions.data,    outputs.cloud.weights.data,       outputs.cloud.ids.data,
      outputs.level.node_split.data,   outputs.level.node_box.data,      outputs.level.majorant_gradient.data,
      outputs.level.majorant_offset.data, scratch.order.data,            host.status.data};
  std::vector<const void*> data;
  for (std::size_t k = 0; k < expected.size(); ++k) data.push_back(encoded.record()[3 * k]);
  EXPECT_EQ(data, expected);
  // The input point count, then m.
  EXPECT_EQ(encoded.shape_values()[0], inputs.cloud.num_points.source.value);
  EXPECT_EQ(encoded.shape_values()[1], host.space.extents.get<0>());
}

TEST(RecordOrder, ImageMassTriplesKeepTheFirstHostsOrder) {
  using Decl = records::unit_image_mass_3d;
  const HostCall<Decl> host;
  const auto& image = std::get<0>(host.bundles).image;
  const frame::EncodedRecord<Decl> encoded(host.bundles, host.status, host.space);
  const std::vector<const void*> expected{image.scalar_in.data, image.shape_var.source.data, image.values.data,
                                          image.origin.data,    image.axes.data,               image.mass.data,
                                          host.status.data};
  std::vector<const void*> data;
  for (std::size_t k = 0; k < expected.size(); ++k) data.push_back(encoded.record()[3 * k]);
  EXPECT_EQ(data, expected);
  EXPECT_EQ(encoded.shape_values()[0], image.shape_var.aux0);
}

TEST(PointAt, ExtentContradictingTheTypeIsRefused) {
  records::unit_image_mass_3d::bundles_type bundles{};
  auto& image = std::get<0>(bundles).image;
  std::array<double, 9> axes{};
  EXPECT_THROW(frame::point_at(image.axes, axes.data(), {3, 2}), std::logic_error);
  EXPECT_THROW(frame::point_at(image.origin, axes.data(), {4}), std::logic_error);
  frame::point_at(image.axes, axes.data(), {3, 3});
  EXPECT_EQ(image.axes.data, axes.data());
}

TEST(PointAt, AbsentMembersIgnoreWhatTheyAreGiven) {
  records::unit_bsp_level_2d::bundles_type bundles{};
  auto& cloud = std::get<0>(bundles).cloud;
  static_assert(is_none_tensor_v<decltype(cloud.weights)>);
  const double weights[2] = {1.0, 2.0};
  frame::point_at(cloud.weights, weights, {2});
  frame::set_shape_value(cloud.num_points, 2);

  records::unit_bsp_level_2d::space_type nodes{};
  nodes.extents.set<0>(9);

  const frame::EncodedRecord<records::unit_bsp_level_2d> encoded(bundles, frame::StatusView{}, nodes);
  for (int k = 0; k < records::unit_bsp_level_2d::layout.triples(); ++k) {
    EXPECT_NE(encoded.record()[3 * k], static_cast<const void*>(weights)) << "triple " << k;
  }
  EXPECT_EQ(encoded.shape_values()[0], 9);  // m alone: no point count
}

TEST(PointAt, ViewsAreDenseRowMajor) {
  using Values = decltype(std::get<0>(records::unit_image_mass_3d::bundles_type{}).image.values);
  Values values{};
  double voxel = 0.0;
  frame::point_at(values, &voxel, {5, 6, 7});
  EXPECT_EQ(values.strides.get<0>(), 8 * 6 * 7);
  EXPECT_EQ(values.strides.get<1>(), 8 * 7);
  EXPECT_EQ(values.strides.get<2>(), 8);
  EXPECT_EQ(values.element_count(), 5 * 6 * 7);
}

}  // namespace
}  // namespace vorn
