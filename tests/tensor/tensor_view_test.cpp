#include <gtest/gtest.h>

#include <cstddef>

#include "vorn/tensor/tensor.hpp"

namespace vorn {
namespace {

using Points2 = TensorView<double, Tuple<long long, Ct<long long, 2>>, CpuHostMemorySpace, Tuple<_num_point, _dim>,
                           Tuple<Ct<long long, 16>, Ct<int, 8>>>;
using Boxes2 = TensorView<double, Tuple<long long, Ct<long long, 2>, Ct<long long, 2>>, CpuHostMemorySpace,
                          Tuple<_batch_0, _num_lohi, _dim>, Tuple<Ct<long long, 32>, Ct<long long, 16>, Ct<int, 8>>>;
using Scalar = TensorView<double, Tuple<>, CpuHostMemorySpace, Tuple<>, Tuple<>>;
using Axes3 = TensorView<double, Tuple<Ct<long long, 3>, Ct<long long, 3>>, CpuHostMemorySpace, Tuple<_dir, _dim>,
                         Tuple<Ct<long long, 24>, Ct<int, 8>>>;
using Volume = TensorView<double, Tuple<long long, long long, long long>, CpuHostMemorySpace,
                          Tuple<_img_pos_0, _img_pos_1, _img_pos_2>, Tuple<long long, long long, Ct<int, 8>>>;

long long byte_distance(const void* from, const void* to) {
  return static_cast<const std::byte*>(to) - static_cast<const std::byte*>(from);
}

// Static extents and strides fold into the type: only dynamic values take space.
static_assert(sizeof(Axes3) == sizeof(double*));
static_assert(sizeof(Points2) == sizeof(double*) + sizeof(long long));
static_assert(sizeof(Volume) == sizeof(double*) + 5 * sizeof(long long));

constexpr bool dense_strides_follow_row_major_rule() {
  Tuple<long long, long long, long long> shape{};
  shape.set<0>(4);
  shape.set<1>(5);
  shape.set<2>(6);
  const auto strides = dense_strides<Tuple<long long, long long, Ct<int, 8>>>(shape, 8);
  return strides.get<0>() == 5 * 6 * 8 && strides.get<1>() == 6 * 8 && strides.get<2>() == 8;
}
static_assert(dense_strides_follow_row_major_rule());

TEST(TensorView, AddressesElementsByByteStrides) {
  double buffer[10] = {};
  Tuple<long long, Ct<long long, 2>> shape{};
  shape.set<0>(5);
  const auto view = make_dense_view<Points2>(buffer, shape);
  EXPECT_EQ(view.element_count(), 10);
  EXPECT_EQ(byte_distance(buffer, &view(3, 1)), 3 * 16 + 8);
  EXPECT_TRUE(dense_strides_follow_row_major_rule());
}

TEST(TensorView, ZeroDimensionalViewHasOneElementAtData) {
  double value = 0.0;
  const Scalar view{{}, {}, &value};
  EXPECT_EQ(view.element_count(), 1);
  EXPECT_EQ(&view(), &value);
}

TEST(TensorView, ZeroExtentGivesNoElements) {
  Tuple<long long, Ct<long long, 2>> shape{};
  shape.set<0>(0);
  EXPECT_EQ(make_dense_view<Points2>(nullptr, shape).element_count(), 0);
}

TEST(TensorView, LeadingAxisIndexingSlicesOneNode) {
  double boxes[5 * 4] = {};
  Tuple<long long, Ct<long long, 2>, Ct<long long, 2>> shape{};
  shape.set<0>(5);
  const auto view = make_dense_view<Boxes2>(boxes, shape);
  const auto box = view[3];
  static_assert(decltype(box)::rank == 2);
  EXPECT_EQ(byte_distance(boxes, box.data), 96);
  EXPECT_EQ(&box(1, 0), &view(3, 1, 0));
  const auto low = box[0];
  const auto low_y = low[1];
  static_assert(decltype(low_y)::rank == 0);
  EXPECT_EQ(&low_y(), &view(3, 0, 1));
}

TEST(TensorView, DynamicStridesAreDenseRowMajor) {
  double values[2 * 3 * 4] = {};
  Tuple<long long, long long, long long> shape{};
  shape.set<0>(2);
  shape.set<1>(3);
  shape.set<2>(4);
  const auto view = make_dense_view<Volume>(values, shape);
  EXPECT_EQ(view.strides.get<0>(), 3 * 4 * 8);
  EXPECT_EQ(view.strides.get<1>(), 4 * 8);
  EXPECT_EQ(&view(1, 2, 3), &values[23]);
  EXPECT_EQ(view.element_count(), 24);
}

TEST(TensorView, HostToKernelConversionKeepsEveryField) {
  double values[2 * 3 * 4] = {};
  Tuple<long long, long long, long long> shape{};
  shape.set<0>(2);
  shape.set<1>(3);
  shape.set<2>(4);
  const auto host = make_dense_view<Volume>(values, shape);
  const auto kernel = to_kernel(host);
  static_assert(std::is_same_v<decltype(kernel)::memory_space, CpuKernelMemorySpace>);
  EXPECT_EQ(kernel.data, host.data);
  EXPECT_EQ(kernel.extent<0>(), 2);
  EXPECT_EQ(kernel.extent<2>(), 4);
  EXPECT_EQ(kernel.strides.get<0>(), host.strides.get<0>());
  EXPECT_EQ(kernel.strides.get<1>(), host.strides.get<1>());
}

TEST(ShapeVarView, DefaultsMarkHostValuesAbsent) {
  const ShapeVarView<ScalarValue<long long>, NoErrorBuffer> variable{};
  EXPECT_EQ(variable.aux0, -1);
  EXPECT_EQ(variable.aux1, -1);
}

}  // namespace
}  // namespace vorn
