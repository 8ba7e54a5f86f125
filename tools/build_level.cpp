#include "build_level.hpp"

#include <cstdlib>
#include <stdexcept>

#include "tool_error.hpp"

namespace vorn::tools {

host::IsaLevel chosen_isa_level() {
  try {
    return host::default_isa_level();
  } catch (const std::invalid_argument& e) {
    throw ToolError(e.what());
  }
}

std::string build_summary(host::IsaLevel level,
                          std::initializer_list<std::pair<std::string_view, std::string_view>> libraries) {
  const host::IsaLevel cpu = host::cpu_isa_level();
  const char* forced = std::getenv("VORN_ISA_LEVEL");
  std::string text(host::isa_level_name(level));
  if (forced != nullptr && *forced != '\0') {
    text += " (set by VORN_ISA_LEVEL; this CPU runs " + std::string(host::isa_level_name(cpu)) + "): ";
  } else {
    text += " (the highest level this CPU runs): ";
  }
  bool first = true;
  for (const auto& [library, what] : libraries) {
    text += (first ? "" : ", ") + std::string(what) + " " +
            std::string(host::isa_level_name(host::library_build_level(library, level)));
    first = false;
  }
  return text;
}

}  // namespace vorn::tools
