// vorn-power's --fit and --lloyd: the seeds' weights fitted to prescribed
// cell sizes and the seeds moved to their cells' centroids.
#pragma once

#include <optional>
#include <string>

#include "power_options.hpp"
#include "seed_input.hpp"
#include "vorn/host/pixel_density.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn::tools {

struct FitOutcome {
  host::PowerDiagram diagram;  // the cells at the final positions and weights
  std::string summary;         // lines for the run's summary
  bool converged = true;       // false when the fit ran out of iterations
  std::string shortfall;       // why not, for the error stream
  double seconds = 0.0;
};

// Whether this build can fit (it needs the fitting library).
bool fitting_available();

// `count` seeds drawn from the density over the box (a pixel in proportion
// to its mass, then uniformly inside it), with zero weights.
SeedTable seeds_from_density(long long count, unsigned long long rng_seed, const host::PixelDensity& density,
                             const host::Box& box);

// Fits and moves `seeds` as the options say, reporting every Newton
// iteration and Lloyd move on standard error; `seeds` ends with the final
// positions and weights. Throws as the fitting library, and ToolError for a
// seed file without the target column that --fit target needs.
FitOutcome fit_seeds(const PowerOptions& o, SeedTable& seeds, const host::PowerDiagramOptions& diagram,
                     const std::optional<host::PixelDensity>& density);

}  // namespace vorn::tools
