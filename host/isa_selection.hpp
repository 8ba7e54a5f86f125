// Choosing the library builds for this CPU, from the build's table of levels
// and library builds (<vorn/build_isa.hpp>). The CPU is asked through
// `CpuHas`, so that the choice can be tested for any feature set.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "vorn/build_isa.hpp"

namespace vorn::isa {

// Whether the CPU has one feature, named as __builtin_cpu_supports names it.
using CpuHas = std::function<bool(std::string_view feature)>;

// The CPU this process runs on.
bool this_cpu_has(std::string_view feature);

// The names in the space-separated `features` that the CPU lacks, joined by
// ", "; empty when it has them all.
std::string missing_features(std::string_view features, CpuHas const& cpu_has);

// Index in build::isa_levels of the level called `name`; throws
// std::invalid_argument listing the level names for any other name.
int level_named(std::string_view name);

// The level to load: `forced` when not empty (std::runtime_error naming the
// features the CPU lacks when it cannot run it), else the highest level
// whose every feature the CPU has.
int choose_level(std::string_view forced, CpuHas const& cpu_has);

// The build of `library` that a process at `level` loads: the highest build
// at or below that level. nullptr when the library has none there.
build::LibraryBuild const* build_for(std::string_view library, int level);

}  // namespace vorn::isa
