// The command line of vorn-power, arguments separated by NUL bytes: options
// that satisfy every documented bound, or a ToolError. No other exception
// (a number too long for stoll, say) may escape.
#include <cmath>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "power_options.hpp"
#include "tool_error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vorn::fuzz::require;
  std::vector<std::string> arguments{"vorn-power"};
  std::string current;
  for (std::size_t k = 0; k < size; ++k) {
    if (data[k] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[k]));
    }
  }
  if (!current.empty()) arguments.push_back(current);
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  try {
    const auto options = vorn::tools::parse_power_options(static_cast<int>(arguments.size()), argv.data());
    if (!options) return 0;  // help
    require(options->threads >= 0 && options->threads <= 4096, "threads in range");
    require(options->leaf_size >= 1, "leaf size at least 1");
    require(options->seed_count >= 0, "seed count not negative");
    require(!(options->box && options->unbounded), "a box or the whole plane, not both");
    require(options->tolerance > 0 && options->tolerance < 1, "a fit tolerance in (0, 1)");
    require(options->max_iterations >= 0 && options->lloyd_moves >= 0, "counts not negative");
    require(!((options->fit || options->lloyd_moves > 0) && options->unbounded), "fitting needs a box");
    require(!options->density_path || options->fit || options->lloyd_moves > 0, "a density only for fitting");
    require(!(options->cells_path && options->svg_path && *options->cells_path == "-" && *options->svg_path == "-"),
            "at most one output on the standard output");
    if (options->box) {
      const vorn::host::Box& b = *options->box;
      require(std::isfinite(b.x_min) && std::isfinite(b.y_min) && std::isfinite(b.x_max) && std::isfinite(b.y_max),
              "a finite box");
      require(b.x_min < b.x_max && b.y_min < b.y_max, "a box that is not empty or inverted");
    }
  } catch (const vorn::tools::ToolError&) {
  }
  return 0;
}
