// The dynamic symbol tables of the delivered libraries hold exactly their interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <string_view>

#include "vorn/host/unit_library.hpp"
#include "vorn/build_isa.hpp"
#include "vorn/engine/engine_entry_names.hpp"
#include "vorn/unit_entries.hpp"

namespace vorn {
namespace {

// Defined dynamic symbols of a shared library, as the loader sees them.
std::set<std::string> exported_symbols(const std::filesystem::path& library, bool demangle) {
  const std::string command =
      std::string("nm -D --defined-only --format=posix ") + (demangle ? "--demangle " : "") + "'" + library.string() + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  EXPECT_NE(pipe, nullptr);
  std::set<std::string> symbols;
  char line[4096];
  while (pipe != nullptr && std::fgets(line, sizeof line, pipe.get()) != nullptr) {
    std::string text(line);
    // posix format: "<name> <type> <value> [<size>]"; demangled names contain spaces
    const auto type_at = text.find_last_of(' ', text.find_last_not_of(" \n0123456789abcdef"));
    symbols.insert(text.substr(0, type_at));
  }
  return symbols;
}

TEST(ExportedSymbols, EveryBuildOfEachUnitExportsOnlyItsEntry) {
  const std::regex entry_name("brask_body_[0-9a-f]{20}");
  ASSERT_GT(std::size(units::all), 0u);
  for (const auto& unit : units::all) {
    int builds = 0;
    for (const auto& build : build::library_builds) {
      if (build.library != unit.library) continue;
      ++builds;
      const auto path = host::unit_directory() / "vorn" / std::string(build.level) / ("lib" + std::string(unit.library) + ".so");
      ASSERT_TRUE(std::filesystem::exists(path)) << path;
      const auto symbols = exported_symbols(path, false);
      ASSERT_EQ(symbols.size(), 1u) << path;
      EXPECT_EQ(*symbols.begin(), unit.symbol);
      EXPECT_TRUE(std::regex_match(*symbols.begin(), entry_name)) << *symbols.begin();
    }
    EXPECT_GE(builds, 1) << unit.library << " has no build";
  }
}

// Read from the files, so the builds this CPU cannot run are checked too.
TEST(ExportedSymbols, EveryBuildOfTheCellEngineExportsOnlyTheTwoEngineRuns) {
  int builds = 0;
  for (const auto& build : build::library_builds) {
    if (build.library != "unit_cell_engine_2d") continue;
    ++builds;
    const auto path = host::unit_directory() / "vorn" / std::string(build.level) / "libunit_cell_engine_2d.so";
    EXPECT_EQ(exported_symbols(path, false),
              (std::set<std::string>{engine::engine_run_float_symbol, engine::engine_run_double_symbol}))
        << path;
  }
  EXPECT_GE(builds, 1);
}

TEST(ExportedSymbols, RuntimeExportsThePoolInterface) {
  const auto symbols = exported_symbols(host::unit_directory() / "libbrask_runtime.so", true);
  EXPECT_EQ(symbols, (std::set<std::string>{"vorn::cpu_thread_pool()",
                                            "vorn::CpuThreadPool::run_threads(int, std::function<void (int)> const&)",
                                            "vorn::CpuThreadPool::thread_count() const",
                                            "vorn_limit_caller_threads"}));
}

// The host exports its public API and none of its internals: a program
// that links an internal vorn::host::detail function would break whenever
// the host's inside changes. Its exception type's type information is
// public too, or a caller's handler would not catch it.
TEST(ExportedSymbols, HostExportsItsPublicApiOnly) {
  const auto symbols = exported_symbols(host::unit_directory() / "libvorn_host.so", true);
  for (std::string symbol : symbols) {
    for (const char* prefix : {"typeinfo for ", "typeinfo name for ", "vtable for "}) {
      if (symbol.starts_with(prefix)) symbol.erase(0, std::string_view(prefix).size());
    }
    EXPECT_EQ(symbol.rfind("vorn::host::", 0), 0u) << symbol;
    EXPECT_EQ(symbol.find("vorn::host::detail::"), std::string::npos) << symbol;
  }
  for (const char* api : {"vorn::host::power_diagram(", "vorn::host::build_bsp_tree(", "vorn::host::image_mass(",
                          "vorn::host::default_isa_level()", "vorn::host::UnitLibrary::UnitLibrary(",
                          "typeinfo for vorn::host::SmallCellError"}) {
    EXPECT_TRUE(std::any_of(symbols.begin(), symbols.end(), [&](const std::string& s) { return s.rfind(api, 0) == 0; }))
        << api;
  }
}

}  // namespace
}  // namespace vorn
