// CSV seed text: a table of finite seeds with one weight per position, or a
// ToolError that names the input and shows its excerpt escaped.
#include <cmath>
#include <string_view>

#include "fuzz_check.hpp"
#include "seed_input.hpp"
#include "tool_error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vorn::fuzz::require;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const vorn::tools::SeedTable seeds = vorn::tools::parse_csv_seeds(text, "fuzz.csv");
    require(seeds.positions.size() == 2 * seeds.weights.size(), "two coordinates per weight");
    for (const double v : seeds.positions) require(std::isfinite(v), "finite coordinates");
    for (const double v : seeds.weights) require(std::isfinite(v), "finite weights");
  } catch (const vorn::tools::ToolError& e) {
    const std::string_view message = e.what();
    require(message.starts_with("fuzz.csv:"), "the message names the input");
    require(vorn::fuzz::printable_message(message), "the message is printable");
  }
  return 0;
}
