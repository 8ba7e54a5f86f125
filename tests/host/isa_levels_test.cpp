// Instruction-set levels: which build the loader picks for a CPU (features
// faked through the selection's CpuHas seam, so no illegal instruction is
// ever run), how a forced level is refused, and that every level this CPU
// runs gives bit-identical trees, image masses and whole diagrams.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "fake_cpu.hpp"
#include "host/isa_selection.hpp"
#include "support/same_diagram.hpp"
#include "support/sanitized_build.hpp"
#include "vorn/host.hpp"

namespace vorn {
namespace {

using host::IsaLevel;

using test::avx2_cpu;
using test::avx512_cpu;
using test::cpu_with;

TEST(IsaSelection, TheHighestLevelWhoseEveryFeatureTheCpuHasIsChosen) {
  EXPECT_EQ(isa::choose_level({}, cpu_with(avx512_cpu)), 2);
  EXPECT_EQ(isa::choose_level({}, cpu_with(avx2_cpu)), 1);
  // AVX-512 without BMI2 is not the avx512 level, nor the avx2 one.
  EXPECT_EQ(isa::choose_level({}, cpu_with("sse4.1 avx avx2 fma bmi popcnt avx512f avx512vl avx512dq avx512bw")), 0);
  EXPECT_EQ(isa::choose_level({}, cpu_with("sse4.1 avx avx2")), 0);  // AVX2 without FMA
  EXPECT_EQ(isa::choose_level({}, cpu_with("")), 0);
}

TEST(IsaSelection, AForcedLevelTheCpuLacksIsRefusedNamingTheMissingFeatures) {
  EXPECT_EQ(isa::choose_level("avx2", cpu_with(avx512_cpu)), 1);
  EXPECT_EQ(isa::choose_level("x86-64", cpu_with("")), 0);
  try {
    isa::choose_level("avx512", cpu_with(avx2_cpu));
    FAIL() << "avx512 accepted on an AVX2 CPU";
  } catch (std::runtime_error const& e) {
    EXPECT_STREQ(e.what(),
                 "instruction-set level avx512 needs CPU features this CPU lacks: avx512f, avx512vl, avx512dq, avx512bw");
  }
  EXPECT_THROW(isa::choose_level("avx2", cpu_with("sse4.1 avx avx2 bmi bmi2 popcnt")), std::runtime_error);
}

TEST(IsaSelection, AnUnknownLevelIsRefusedListingTheLevels) {
  try {
    isa::choose_level("avx3", cpu_with(avx512_cpu));
    FAIL() << "unknown level accepted";
  } catch (std::invalid_argument const& e) {
    EXPECT_STREQ(e.what(), "unknown instruction-set level 'avx3' (levels: x86-64, avx2, avx512)");
  }
}

// For every library and level: the build taken is the highest one at or
// below the level, and every library has an x86-64 build to fall back on.
TEST(IsaSelection, EachLibraryTakesItsHighestBuildAtOrBelowTheLevel) {
  std::set<std::string_view> libraries;
  for (auto const& b : build::library_builds) libraries.insert(b.library);
  ASSERT_EQ(libraries.size(), 5u);
  for (std::string_view library : libraries) {
    for (int level = 0; level < 3; ++level) {
      build::LibraryBuild const* chosen = isa::build_for(library, level);
      ASSERT_NE(chosen, nullptr) << library << " at level " << level;
      int const chosen_level = isa::level_named(chosen->level);
      EXPECT_LE(chosen_level, level) << library;
      for (auto const& b : build::library_builds) {
        if (b.library != library) continue;
        int const k = isa::level_named(b.level);
        EXPECT_FALSE(k <= level && k > chosen_level) << library << ": the " << b.level << " build was passed over";
      }
    }
    EXPECT_EQ(isa::build_for(library, 0)->level, "x86-64") << library;
  }
}

TEST(IsaSelection, ABuildIsOnlyCompiledForFeaturesOfItsLevel) {
  for (auto const& b : build::library_builds) {
    std::string const level_features(build::isa_levels[isa::level_named(b.level)].features);
    EXPECT_EQ(isa::missing_features(b.features, cpu_with(level_features)), "") << b.library << " " << b.level;
  }
}

// Restores the environment variable around a test.
class ForcedLevel : public ::testing::Test {
 protected:
  void SetUp() override {
    if (char const* v = std::getenv("VORN_ISA_LEVEL")) saved_ = v, had_ = true;
  }
  void TearDown() override {
    if (had_) {
      setenv("VORN_ISA_LEVEL", saved_.c_str(), 1);
    } else {
      unsetenv("VORN_ISA_LEVEL");
    }
  }

 private:
  std::string saved_;
  bool had_ = false;
};

TEST_F(ForcedLevel, TheEnvironmentVariableChoosesTheDefaultLevel) {
  unsetenv("VORN_ISA_LEVEL");
  EXPECT_EQ(host::default_isa_level(), host::cpu_isa_level());
  setenv("VORN_ISA_LEVEL", "x86-64", 1);
  EXPECT_EQ(host::default_isa_level(), IsaLevel::x86_64);
  std::vector<double> const xy{0.25, 0.5, 0.75, 0.5};
  EXPECT_EQ(host::power_diagram(xy, {}).isa, IsaLevel::x86_64);
  setenv("VORN_ISA_LEVEL", "pentium", 1);
  try {
    host::default_isa_level();
    FAIL() << "unknown level accepted";
  } catch (std::invalid_argument const& e) {
    EXPECT_EQ(std::string(e.what()).rfind("VORN_ISA_LEVEL: unknown instruction-set level 'pentium'", 0), 0u)
        << e.what();
  }
}

// ---- Every level this CPU runs gives the same bits --------------------------

class EveryLevel : public ::testing::TestWithParam<IsaLevel> {
 protected:
  void SetUp() override {
    try {
      host::require_isa_level(GetParam());
    } catch (std::exception const& e) {
      GTEST_SKIP() << e.what();
    }
  }
};

std::string level_param_name(::testing::TestParamInfo<IsaLevel> const& info) {
  std::string name(host::isa_level_name(info.param));
  return name == "x86-64" ? "x86_64" : name;
}

struct SeedSet {
  char const* name;
  std::vector<double> positions, weights;
};

// Uniform seeds with varied weights, and a degenerate set: a jittered grid
// with exact grid rows, coincident seeds and collinear runs.
std::vector<SeedSet> const& seed_sets() {
  constexpr int n = test::sanitized_build ? 3'000 : 100'000;
  static std::vector<SeedSet> const sets = [] {
    std::mt19937_64 rng(77);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    SeedSet uniform{"uniform", {}, {}};
    for (int i = 0; i < n; ++i) {
      uniform.positions.insert(uniform.positions.end(), {u(rng), u(rng)});
      uniform.weights.push_back(1e-5 * u(rng));
    }
    SeedSet degenerate{"degenerate", {}, {}};
    int const side = static_cast<int>(std::sqrt(n));
    for (int i = 0; i < side * side; ++i) {
      double x = (i % side + 0.5) / side, y = (i / side + 0.5) / side;
      if (i % 7 == 3) x += 1e-3 / side * u(rng);  // off the grid, rows kept exact
      if (i % 11 == 5 && i % side != 0) x = (i % side - 0.5) / side;  // on its left neighbour
      degenerate.positions.insert(degenerate.positions.end(), {x, y});
      degenerate.weights.push_back(i % 13 == 0 ? 1e-6 : 0.0);
    }
    return std::vector<SeedSet>{uniform, degenerate};
  }();
  return sets;
}

struct DiagramCase {
  SeedSet const* set;
  bool boxed;
  host::CellPrecision precision;
};

host::PowerDiagram diagram(DiagramCase const& c, IsaLevel level) {
  host::PowerDiagramOptions options;
  options.precision = c.precision;
  if (!c.boxed) options.domain.reset();
  options.isa = level;
  return host::power_diagram(c.set->positions, c.set->weights, options);
}

// The x86-64 diagrams, computed once for every level compared with them.
std::vector<std::pair<DiagramCase, host::PowerDiagram>> const& reference_diagrams() {
  static auto const references = [] {
    std::vector<std::pair<DiagramCase, host::PowerDiagram>> r;
    for (SeedSet const& set : seed_sets()) {
      for (bool const boxed : {true, false}) {
        for (auto const precision : {host::CellPrecision::double_precision, host::CellPrecision::single_precision}) {
          DiagramCase const c{&set, boxed, precision};
          r.emplace_back(c, diagram(c, IsaLevel::x86_64));
        }
      }
    }
    return r;
  }();
  return references;
}

TEST_P(EveryLevel, WholeDiagramsAreBitIdenticalToTheX8664Builds) {
  for (auto const& [c, reference] : reference_diagrams()) {
    SCOPED_TRACE(::testing::Message() << c.set->name << (c.boxed ? ", box" : ", unbounded")
                                      << (c.precision == host::CellPrecision::double_precision ? ", double" : ", float"));
    host::PowerDiagram const d = diagram(c, GetParam());
    EXPECT_EQ(d.isa, GetParam());
    ASSERT_TRUE(test::same_diagram(reference, d));
  }
}

TEST_P(EveryLevel, BspTreesOfEveryUnitAreBitIdenticalToTheX8664Builds) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> p2(2 * 30'000), p3(3 * 30'000), w(30'000);
  for (double& v : p2) v = u(rng);
  for (double& v : p3) v = std::round(8 * u(rng)) / 8;  // many equal keys
  for (double& v : w) v = u(rng);
  struct Case {
    host::BspUnit unit;
    std::vector<double> const& positions;
    std::vector<double> weights;
  };
  for (Case const& c : {Case{host::BspUnit::weighted_2d, p2, w}, Case{host::BspUnit::plain_3d, p3, {}},
                        Case{host::BspUnit::plain_2d, p2, {}}}) {
    SCOPED_TRACE(static_cast<int>(c.unit));
    host::BspTree const a = host::build_bsp_tree(c.unit, c.positions, c.weights, 7, IsaLevel::x86_64);
    host::BspTree const b = host::build_bsp_tree(c.unit, c.positions, c.weights, 7, GetParam());
    ASSERT_TRUE(test::same_bits(a.positions, b.positions, "positions"));
    ASSERT_TRUE(test::same_bits(a.weights, b.weights, "weights"));
    ASSERT_TRUE(test::same_bits(a.ids, b.ids, "ids"));
    ASSERT_TRUE(test::same_bits(a.node_begin, b.node_begin, "node_begin"));
    ASSERT_TRUE(test::same_bits(a.node_box, b.node_box, "node_box"));
    ASSERT_TRUE(test::same_bits(a.majorant_gradient, b.majorant_gradient, "majorant_gradient"));
    ASSERT_TRUE(test::same_bits(a.majorant_offset, b.majorant_offset, "majorant_offset"));
  }
}

TEST_P(EveryLevel, ImageMassIsBitIdenticalToTheX8664Build) {
  std::mt19937_64 rng(9);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> image(17 * 9 * 23);
  for (double& v : image) v = u(rng);
  std::array<double, 9> const axes{0.1, 0.02, 0.0, -0.01, 0.3, 0.005, 0.0, 0.0, 0.07};
  double const a = host::image_mass(image, {17, 9, 23}, axes, IsaLevel::x86_64);
  double const b = host::image_mass(image, {17, 9, 23}, axes, GetParam());
  EXPECT_EQ(std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b));
}

INSTANTIATE_TEST_SUITE_P(Host, EveryLevel, ::testing::Values(IsaLevel::avx2, IsaLevel::avx512), level_param_name);

}  // namespace
}  // namespace vorn
