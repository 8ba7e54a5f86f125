// The header dictionary of a .npy file: fields as written (extents never
// negative), or a ToolError whose quoted text is escaped.
#include <string>

#include "fuzz_check.hpp"
#include "npy.hpp"
#include "tool_error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vorn::fuzz::require;
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const vorn::tools::NpyHeader header = vorn::tools::parse_npy_header(text);
    for (const long long extent : header.shape) require(extent >= 0, "extents are not negative");
  } catch (const vorn::tools::ToolError& e) {
    require(vorn::fuzz::printable_message(e.what()), "the message is printable");
  }
  return 0;
}
