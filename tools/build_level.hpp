// The instruction-set level a program runs its libraries at, chosen once
// before any work, and how its summary names it.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "vorn/host/isa_level.hpp"

namespace vorn::tools {

// host::default_isa_level(), with an unknown name in $VORN_ISA_LEVEL turned
// into a ToolError (a bad input: exit status 2). A level this CPU cannot run
// stays a std::runtime_error (the computation cannot run: exit status 1).
host::IsaLevel chosen_isa_level();

// E.g. "avx512 (the highest level this CPU runs): cell engine avx512, BSP unit avx2":
// the level, why it was chosen, and the build each named library loads, as
// {library file stem, what to call it}.
std::string build_summary(host::IsaLevel level,
                          std::initializer_list<std::pair<std::string_view, std::string_view>> libraries);

}  // namespace vorn::tools
