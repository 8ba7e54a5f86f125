// Unit signatures: the text each entry symbol is made from follows every part
// of a declaration that the record or the kernel depends on.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "units/bsp_build_level/bsp_level_units.hpp"
#include "units/frame/unit_signature.hpp"
#include "units/mass/image_mass_unit.hpp"
#include "vorn/unit_entries.hpp"

namespace vorn {
namespace {

// The symbols this build exports were made from the declarations as they are
// now (a stale configuration would pair an old symbol with a new record).
TEST(UnitSignature, EveryUnitsSymbolWasMadeFromItsCurrentDeclaration) {
  EXPECT_EQ(units::unit_bsp_level_2d_weighted.signature, frame::unit_signature<records::unit_bsp_level_2d_weighted>());
  EXPECT_EQ(units::unit_bsp_level_3d.signature, frame::unit_signature<records::unit_bsp_level_3d>());
  EXPECT_EQ(units::unit_bsp_level_2d.signature, frame::unit_signature<records::unit_bsp_level_2d>());
  EXPECT_EQ(units::unit_image_mass_3d.signature, frame::unit_signature<records::unit_image_mass_3d>());
  std::set<std::string_view> symbols;
  for (const auto& unit : units::all) symbols.insert(unit.symbol);
  EXPECT_EQ(symbols.size(), std::size(units::all));
}

// The agreed interfaces, spelled out: changing one is a change of the
// units' binary interface (and of their symbols), made on purpose.
TEST(UnitSignature, TextsOfTheUnitsAreTheAgreedOnes) {
  EXPECT_EQ(frame::unit_signature<records::unit_bsp_level_2d_weighted>(),
            "bsp_build_level_kernel(<<f64[?,2], f64[?], i64[?], i64 shape var, 2>, i64[?]>, "
            "<<f64[?,2] out, f64[?] out, i64[?] out, -, 2>, "
            "<i64[?], i64[?], i64[?] out, f64[?,2,2] out, f64[?,2] out, f64[?] out, 2, 2>>, <i64[?] out>) over [?]");
  EXPECT_EQ(frame::unit_signature<records::unit_bsp_level_3d>(),
            "bsp_build_level_kernel(<<f64[?,3], -, i64[?], i64 shape var, 3>, i64[?]>, "
            "<<f64[?,3] out, -, i64[?] out, -, 3>, <i64[?], i64[?], i64[?] out, f64[?,2,3] out, -, -, 2, 3>>, "
            "<i64[?] out>) over [?]");
  EXPECT_EQ(frame::unit_signature<records::unit_bsp_level_2d>(),
            "bsp_build_level_kernel(<<f64[?,2], -, i64[?], -, 2>, i64[?]>, "
            "<<f64[?,2] out, -, i64[?] out, -, 2>, <i64[?], i64[?], i64[?] out, f64[?,2,2] out, -, -, 2, 2>>, "
            "<i64[?] out>) over [?]");
  EXPECT_EQ(frame::unit_signature<records::unit_image_mass_3d>(),
            "mass_kernel(<<f64[], 3, i32[?] shape var, f64[?,?,?], f64[3], f64[3,3], -, f64[] out, -, ->>) over []");
}

template <class A, class B>
struct Pair {
  A a;
  B b;
  constexpr auto members() { return std::tie(a, b); }
  constexpr auto members() const { return std::tie(a, b); }
};
template <class A, class B>
struct Pair_io {};

template <class T, class Shape>
using View = TensorView<T, Shape, CpuHostMemorySpace, Tuple<_num_point, _dim>, Tuple<long long, Ct<int, 8>>>;
using Rows = View<double, Tuple<long long, Ct<long long, 2>>>;
using HostCount = ShapeVarView<ScalarValue<long long>, NoErrorBuffer>;
using Items = CartesianIndices<Tuple<long long>, Tuple<_batch_0>>;

template <class A, class B, class IoA = InpList, class IoB = InpList, class Space = Items>
std::string signature_of() {
  return frame::unit_signature<frame::Record<"kernel", Space, frame::Arg<Pair_io<IoA, IoB>, Pair<A, B>>>>();
}

// Declarations that each differ from the first in one part of the record.
TEST(UnitSignature, EachPartOfADeclarationChangesTheText) {
  using IntCount = ShapeVarView<TensorView<int, Tuple<long long>, CpuHostMemorySpace, Tuple<UnnamedAxis>,
                                           Tuple<Ct<int, 4>>>,
                                NoErrorBuffer>;
  using NoCount = ShapeVarView<NoneTensor<int, Tuple<>, Tuple<>>, NoErrorBuffer>;
  using Column = TensorView<double, Tuple<long long>, CpuHostMemorySpace, Tuple<_num_point>, Tuple<Ct<int, 8>>>;
  const std::vector<std::pair<std::string, std::string>> texts{
      {"first", signature_of<Rows, HostCount>()},
      {"element type", signature_of<View<float, Tuple<long long, Ct<long long, 2>>>, HostCount>()},
      {"static extent", signature_of<View<double, Tuple<long long, Ct<long long, 3>>>, HostCount>()},
      {"dynamic extent", signature_of<View<double, Tuple<long long, long long>>, HostCount>()},
      {"rank", signature_of<Column, HostCount>()},
      {"written", signature_of<Rows, HostCount, OutList>()},
      {"unused", signature_of<Rows, HostCount, UndefList>()},
      {"absent", signature_of<NoneTensor<double, Tuple<long long, Ct<long long, 2>>, Tuple<_num_point, _dim>>,
                              HostCount, UndefList>()},
      {"shape variable in a tensor", signature_of<Rows, IntCount>()},
      {"no shape variable", signature_of<Rows, NoCount, InpList, UndefList>()},
      {"constant", signature_of<Rows, Ct<long long, 2>>()},
      {"other constant", signature_of<Rows, Ct<long long, 3>>()},
      {"sub-bundle", signature_of<Pair<Rows, Rows>, HostCount, Pair_io<InpList, InpList>>()},
      {"index space", signature_of<Rows, HostCount, InpList, InpList, CartesianIndices<Tuple<>, Tuple<>>>()},
      {"kernel", frame::unit_signature<frame::Record<"other_kernel", Items,
                                                     frame::Arg<Pair_io<InpList, InpList>, Pair<Rows, HostCount>>>>()},
  };
  EXPECT_EQ(texts[0].second, "kernel(<f64[?,2], i64 shape var>) over [?]");
  std::set<std::string> distinct;
  for (const auto& [change, text] : texts) {
    EXPECT_TRUE(distinct.insert(text).second) << change << " leaves the text as it was: " << text;
  }
}

}  // namespace
}  // namespace vorn
