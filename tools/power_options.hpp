// The command line of vorn-power.
#pragma once

#include <optional>
#include <string>

#include "diagram_writers.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn::tools {

struct PowerOptions {
  std::optional<std::string> input;       // seed file, "-" the standard input; none: generated seeds
  std::optional<host::Box> box;           // --box
  bool unbounded = false;                 // --unbounded
  bool periodic = false;                  // --periodic: the box is the period cell
  host::CellPrecision precision = host::CellPrecision::double_precision;
  int threads = 0;                        // 0: all hardware threads
  long long leaf_size = 16;
  std::optional<std::string> cells_path;  // --output, "-" the standard output
  std::optional<CellFormat> cells_format;  // --format; else by the extension of --output (csv for -)
  std::optional<std::string> svg_path;    // --svg ("-" the standard output), or vorn-power.svg for generated seeds
  bool colour_by_weight = false;          // --color-by weight (else area)
  long long seed_count = 20000;           // generated seeds
  unsigned long long rng_seed = 1;
  std::optional<std::string> fit;         // --fit equal|target: weights fitted to the cells' sizes
  int lloyd_moves = 0;                    // --lloyd N: seeds moved to their cells' centroids N times
  std::optional<std::string> density_path;  // --density: the fit's and Lloyd's density image
  double tolerance = 1e-9;                // --tolerance: the fit's largest relative error
  int max_iterations = 100;               // --max-iterations of the fit
  bool version = false;                   // --version: print the version and builds, nothing else
};

extern const char power_usage[];

// The options of argv, or nothing when help was asked for. Throws ToolError
// naming the offending argument.
std::optional<PowerOptions> parse_power_options(int argc, char** argv);

}  // namespace vorn::tools
