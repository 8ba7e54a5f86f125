#include "vorn/host/isa_level.hpp"

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "isa_selection.hpp"

namespace vorn::host {

namespace {

static_assert(std::size(build::isa_levels) == 3);
static_assert(build::isa_levels[static_cast<int>(IsaLevel::x86_64)].level == "x86-64");
static_assert(build::isa_levels[static_cast<int>(IsaLevel::avx2)].level == "avx2");
static_assert(build::isa_levels[static_cast<int>(IsaLevel::avx512)].level == "avx512");

constexpr char forced_level_variable[] = "VORN_ISA_LEVEL";

}  // namespace

std::string_view isa_level_name(IsaLevel level) { return build::isa_levels[static_cast<int>(level)].level; }

IsaLevel isa_level_named(std::string_view name) { return static_cast<IsaLevel>(isa::level_named(name)); }

IsaLevel cpu_isa_level() { return static_cast<IsaLevel>(isa::choose_level({}, isa::this_cpu_has)); }

IsaLevel default_isa_level() {
  char const* forced = std::getenv(forced_level_variable);
  if (forced == nullptr || *forced == '\0') return cpu_isa_level();
  try {
    return static_cast<IsaLevel>(isa::choose_level(forced, isa::this_cpu_has));
  } catch (std::invalid_argument const& e) {
    throw std::invalid_argument(std::string(forced_level_variable) + ": " + e.what());
  } catch (std::runtime_error const& e) {
    throw std::runtime_error(std::string(forced_level_variable) + ": " + e.what());
  }
}

void require_isa_level(IsaLevel level) {
  isa::choose_level(isa_level_name(level), isa::this_cpu_has);
}

IsaLevel library_build_level(std::string_view library, IsaLevel level) {
  build::LibraryBuild const* b = isa::build_for(library, static_cast<int>(level));
  if (b == nullptr) {
    throw std::runtime_error("no build of lib" + std::string(library) + ".so at or below instruction-set level " +
                             std::string(isa_level_name(level)));
  }
  return isa_level_named(b->level);
}

}  // namespace vorn::host
