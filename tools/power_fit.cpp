#include "power_fit.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "number_text.hpp"
#include "tool_error.hpp"
#ifdef VORN_TOOLS_FIT
#include "vorn/host/fit_weights.hpp"
#endif

namespace vorn::tools {

namespace {

std::string plural(long long count, const char* word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string scientific(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

}  // namespace

SeedTable seeds_from_density(long long count, unsigned long long rng_seed, const host::PixelDensity& density,
                             const host::Box& box) {
  std::vector<double> cumulative(density.values.size());
  double sum = 0.0;
  for (std::size_t k = 0; k < cumulative.size(); ++k) cumulative[k] = sum += std::max(0.0, density.values[k]);
  if (!(sum > 0)) throw ToolError("--density: the image has no mass to draw seeds from (every pixel is 0)");
  std::mt19937_64 rng(rng_seed);
  auto unit = [&rng] { return static_cast<double>(rng() >> 11) * 0x1.0p-53; };  // same bits on every platform
  const double hx = (box.x_max - box.x_min) / static_cast<double>(density.nx);
  const double hy = (box.y_max - box.y_min) / static_cast<double>(density.ny);
  SeedTable seeds{std::vector<double>(2 * static_cast<std::size_t>(count)),
                  std::vector<double>(static_cast<std::size_t>(count), 0.0),
                  {}};
  for (std::size_t i = 0; i < seeds.weights.size(); ++i) {
    const double pick = unit() * sum;
    const auto k = static_cast<std::size_t>(std::upper_bound(cumulative.begin(), cumulative.end(), pick) -
                                            cumulative.begin());
    const std::size_t pixel = std::min(k, cumulative.size() - 1);
    const auto ix = static_cast<double>(pixel % static_cast<std::size_t>(density.nx));
    const auto iy = static_cast<double>(pixel / static_cast<std::size_t>(density.nx));
    seeds.positions[2 * i] = std::min(box.x_max, box.x_min + (ix + unit()) * hx);
    seeds.positions[2 * i + 1] = std::min(box.y_max, box.y_min + (iy + unit()) * hy);
  }
  return seeds;
}

#ifdef VORN_TOOLS_FIT

bool fitting_available() { return true; }

FitOutcome fit_seeds(const PowerOptions& o, SeedTable& seeds, const host::PowerDiagramOptions& diagram,
                     const std::optional<host::PixelDensity>& density) {
  const auto start = std::chrono::steady_clock::now();
  const std::size_t n = seeds.weights.size();
  host::FitOptions fit;
  fit.diagram = diagram;
  fit.diagram.progress = nullptr;
  fit.density = density ? &*density : nullptr;
  fit.tolerance = o.tolerance;
  fit.max_iterations = o.max_iterations;
  fit.on_iteration = [](const host::FitIteration& it) {
    if (it.iteration == 0) {
      std::fprintf(stderr, "fit          start: largest relative error %s\n", scientific(it.max_relative_error).c_str());
      return;
    }
    std::fprintf(stderr, "fit          iteration %d: largest relative error %s, step %s, %s, solve %.2f s, %.2f s\n",
                 it.iteration, scientific(it.max_relative_error).c_str(), shortest(it.step).c_str(),
                 plural(it.diagrams, "diagram").c_str(), it.solve_seconds, it.seconds);
  };

  std::vector<double> targets;
  if (o.fit == "target") {
    if (seeds.targets.size() != n) {
      throw ToolError(input_name(*o.input) + ": --fit target needs a target column in the seed file's header "
                      "(x,y,weight,target)");
    }
    targets = seeds.targets;
  } else if (o.fit) {
    const host::Box& b = *diagram.domain;
    const double total = density ? host::total_mass(*density, b) : (b.x_max - b.x_min) * (b.y_max - b.y_min);
    targets.assign(n, total / static_cast<double>(n));
  }

  FitOutcome out;
  host::FitResult result;
  if (o.lloyd_moves > 0) {
    host::LloydOptions lloyd;
    lloyd.fit = fit;
    if (!targets.empty()) lloyd.fit.on_iteration = nullptr;  // one line per move is enough
    lloyd.iterations = o.lloyd_moves;
    lloyd.on_iteration = [&](int k, double moved, const host::FitResult& r) {
      std::fprintf(stderr, "lloyd        move %d of %d: largest move %s%s\n", k, o.lloyd_moves,
                   scientific(moved).c_str(),
                   targets.empty() ? ""
                                   : (", fitted in " + plural(static_cast<long long>(r.history.size()) - 1,
                                                              "iteration"))
                                         .c_str());
    };
    host::LloydResult moved = host::lloyd(seeds.positions, seeds.weights, targets, lloyd);
    seeds.positions = std::move(moved.positions);
    result = std::move(moved.fitted);
    out.summary += "lloyd        " + plural(o.lloyd_moves, "move") + ", the last " +
                   scientific(moved.largest_move.empty() ? 0.0 : moved.largest_move.back()) + " at most\n";
  } else {
    result = host::fit_weights(seeds.positions, targets, seeds.weights, fit);
  }
  seeds.weights = result.weights;
  if (!targets.empty()) {
    const host::FitIteration& last = result.history.back();
    int diagrams = 0;
    for (const host::FitIteration& it : result.history) diagrams += it.diagrams;
    const std::string what = o.fit == "target" ? "target areas" : density ? "equal masses" : "equal areas";
    const std::string state = result.converged ? "converged" : result.stalled ? "STALLED" : "NOT converged";
    out.summary += "fit          " + what + ", " + state + " after " + plural(last.iteration, "iteration") + " (" +
                   plural(diagrams, "diagram") + "): largest relative error " +
                   scientific(last.max_relative_error) + ", tolerance " + scientific(o.tolerance) + "\n";
    out.converged = result.converged;
    if (result.stalled) {
      out.shortfall = "the fit stalled at largest relative error " + scientific(last.max_relative_error) +
                      " (tolerance " + scientific(o.tolerance) +
                      "): no fraction of a Newton step improves it, so the cells' arithmetic resolves no more; the "
                      "outputs hold the best weights reached (--tolerance)";
    } else if (!result.converged) {
      out.shortfall = "the fit did not converge in " + plural(o.max_iterations, "iteration") +
                      ": largest relative error " + scientific(last.max_relative_error) + " (tolerance " +
                      scientific(o.tolerance) + "); the outputs hold the best weights reached (--max-iterations)";
    }
  }
  out.diagram = std::move(result.diagram);
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char took[48];
  std::snprintf(took, sizeof took, "fit time     %.2f s\n", out.seconds);
  out.summary += took;
  return out;
}

#else

bool fitting_available() { return false; }

FitOutcome fit_seeds(const PowerOptions&, SeedTable&, const host::PowerDiagramOptions&,
                     const std::optional<host::PixelDensity>&) {
  throw std::runtime_error("this build cannot fit: it was built without Eigen (Debian: libeigen3-dev)");
}

#endif

}  // namespace vorn::tools
