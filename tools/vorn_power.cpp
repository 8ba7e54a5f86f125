// vorn-power: the power diagram of a weighted seed file (or of a generated
// seed set), written as cells (CSV or JSON) and as an SVG picture.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "build_level.hpp"
#include "diagram_writers.hpp"
#include "number_text.hpp"
#include "output_set.hpp"
#include "density_image.hpp"
#include "power_fit.hpp"
#include "power_options.hpp"
#include "seed_input.hpp"
#include "signal_cleanup.hpp"
#include "text_output.hpp"
#include "tool_error.hpp"
#include "vorn/host/power_diagram.hpp"

namespace {

using namespace vorn;
using tools::ToolError;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// `count` seeds uniform in the unit square, weights uniform in [0, 0.8/count)
// (comparable to the squared spacing, so that some cells come out empty).
tools::SeedTable generated_seeds(long long count, unsigned long long rng_seed) {
  std::mt19937_64 rng(rng_seed);
  auto unit = [&rng] { return static_cast<double>(rng() >> 11) * 0x1.0p-53; };  // same bits on every platform
  tools::SeedTable seeds{std::vector<double>(2 * static_cast<std::size_t>(count)),
                         std::vector<double>(static_cast<std::size_t>(count)), {}};
  for (std::size_t i = 0; i < seeds.weights.size(); ++i) {
    seeds.positions[2 * i] = unit();
    seeds.positions[2 * i + 1] = unit();
    seeds.weights[i] = 0.8 / static_cast<double>(count) * unit();
  }
  return seeds;
}

// The default domain of an input file: the seeds' bounding box.
host::Box bounding_box(const tools::SeedTable& seeds, const std::string& name) {
  const auto& p = seeds.positions;
  host::Box b{p[0], p[1], p[0], p[1]};
  for (std::size_t i = 0; i < p.size(); i += 2) {
    b.x_min = std::min(b.x_min, p[i]), b.x_max = std::max(b.x_max, p[i]);
    b.y_min = std::min(b.y_min, p[i + 1]), b.y_max = std::max(b.y_max, p[i + 1]);
  }
  if (!(b.x_min < b.x_max) || !(b.y_min < b.y_max)) {
    throw ToolError(name + ": the seeds' bounding box has no area (all seeds on one line): give --box or --unbounded");
  }
  return b;
}

// "1 seed", "2 seeds": `count` and the noun, plural unless the count is 1.
std::string counted(long long count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

// A rate rounded to three significant digits, thousands grouped: "187,000".
std::string rate(double per_second) {
  if (!std::isfinite(per_second)) return "-";
  const double magnitude = per_second >= 1.0 ? std::floor(std::log10(per_second)) : 0.0;
  const double unit = std::pow(10.0, std::max(0.0, magnitude - 2.0));
  return tools::grouped(static_cast<std::uint64_t>(std::round(per_second / unit) * unit));
}

std::string milliseconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", 1e3 * seconds);
  return text;
}

// A bar on standard error with the rate and the time left, once the cell
// phase has run for a second, and only when standard error is a terminal;
// cleared when done, and by Ctrl-C.
class ProgressBar {
 public:
  ProgressBar() : enabled_(::isatty(2) == 1) {}
  ~ProgressBar() { finish(); }

  // The rate is measured from the first report on, when the cells have begun.
  void operator()(long long done, long long total) {
    const auto now = Clock::now();
    if (!enabled_) return;
    if (!started_) started_ = true, first_ = last_ = now, first_done_ = done;
    if (now - first_ < std::chrono::seconds(1)) return;
    if (now - last_ < std::chrono::milliseconds(100) && done < total) return;
    last_ = now;
    constexpr int width = 30;
    const long long all = std::max(total, 1LL);
    const int filled = static_cast<int>(width * done / all);
    const double per_second = static_cast<double>(done - first_done_) / seconds_since(first_);
    const double left = per_second > 0.0 ? static_cast<double>(total - done) / per_second : 0.0;
    if (!drawn_) tools::clear_line_on_signal(true);
    std::fprintf(stderr, "\rcells [%s%s] %3d%%  %s/s, %s left\033[K", std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), static_cast<int>(100 * done / all),
                 rate(per_second).c_str(), duration(left).c_str());
    drawn_ = true;
  }
  void finish() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    tools::clear_line_on_signal(false);
    drawn_ = false;
  }

 private:
  // "12 s", "3 min 05 s": what is left, to the second.
  static std::string duration(double seconds) {
    const long long s = std::llround(seconds);
    char text[32];
    if (s < 60) {
      std::snprintf(text, sizeof text, "%lld s", s);
    } else {
      std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
    }
    return text;
  }

  bool enabled_;
  bool started_ = false;
  bool drawn_ = false;
  Clock::time_point first_, last_;
  long long first_done_ = 0;
};

// The output files, checked before any work so that a bad one fails at once.
struct Outputs {
  explicit Outputs(const tools::PowerOptions& o)
      : set(o.input && *o.input != "-" ? std::optional<std::filesystem::path>(*o.input) : std::nullopt) {
    if (o.cells_path) {
      cells = &set.add(*o.cells_path, "--output");
      cell_format = o.cells_format            ? *o.cells_format
                    : *o.cells_path == "-" ? tools::CellFormat::csv
                                           : tools::cell_format_for(*o.cells_path);
    }
    if (o.svg_path) picture = &set.add(*o.svg_path, "--svg");
  }

  tools::OutputSet set;
  tools::TextOutput* cells = nullptr;
  tools::CellFormat cell_format = tools::CellFormat::csv;
  tools::TextOutput* picture = nullptr;
};

double write_outputs(Outputs& out, const tools::DiagramView& view) {
  const auto start = Clock::now();
  if (out.cells) {
    if (out.cell_format == tools::CellFormat::csv) {
      tools::write_cells_csv(*out.cells, view);
    } else {
      tools::write_cells_json(*out.cells, view);
    }
  }
  if (out.picture) tools::write_svg(*out.picture, view);
  out.set.commit();
  return seconds_since(start);
}

// An output as the summary names it.
std::string output_name(const std::string& path, const char* what) {
  return path == "-" ? std::string(what) + " to the standard output" : path;
}

// How many seeds lie outside the domain (none without one).
long long seeds_outside(const tools::SeedTable& seeds, const std::optional<host::Box>& domain) {
  if (!domain) return 0;
  long long outside = 0;
  for (std::size_t i = 0; i < seeds.weights.size(); ++i) {
    const double x = seeds.positions[2 * i], y = seeds.positions[2 * i + 1];
    outside += x < domain->x_min || x > domain->x_max || y < domain->y_min || y > domain->y_max;
  }
  return outside;
}

// To `out`: the standard output, or standard error when an output goes there.
void print_summary(std::FILE* out, const tools::PowerOptions& o, const tools::DiagramView& v, long long outside,
                   double read_seconds, double write_seconds) {
  const host::PowerDiagram& d = v.diagram;
  const long long n = d.cell_count();
  long long empty = 0, unbounded = 0;
  double area = 0.0;
  for (long long i = 0; i < n; ++i) {
    empty += d.empty[i];
    unbounded += d.unbounded[i];
    if (!d.unbounded[i]) area += d.areas[i];
  }
  std::fprintf(out, "seeds        %lld (%s)\n", n,
              o.input ? tools::input_name(*o.input).c_str() : ("generated, rng seed " + std::to_string(o.rng_seed)).c_str());
  if (v.domain) {
    const host::Box& b = *v.domain;
    const double domain_area = (b.x_max - b.x_min) * (b.y_max - b.y_min);
    std::fprintf(out, "domain       [%s, %s] x [%s, %s]%s\n", tools::shortest(b.x_min).c_str(),
                tools::shortest(b.x_max).c_str(), tools::shortest(b.y_min).c_str(), tools::shortest(b.y_max).c_str(),
                v.periodic ? ", periodic" : "");
    if (outside > 0 && v.periodic) {
      std::fprintf(out, "outside      %s outside the box, wrapped into it by whole periods\n",
                  counted(outside, "seed").c_str());
    } else if (outside > 0) {
      std::fprintf(out, "outside      %s outside the box; %s cell is the part inside the box, if any\n",
                  counted(outside, "seed").c_str(), outside == 1 ? "its" : "each one's");
    }
    std::fprintf(out, "area         cells %s, domain %s, relative difference %.3g\n", tools::shortest(area).c_str(),
                tools::shortest(domain_area).c_str(), (area - domain_area) / domain_area);
  } else {
    std::fprintf(out, "domain       the whole plane\n");
    std::fprintf(out, "area         %s in %s; %s unbounded\n", tools::shortest(area).c_str(),
                counted(n - unbounded - empty, "bounded cell").c_str(), counted(unbounded, "cell").c_str());
  }
  if (v.periodic) {
    const std::string width = d.band_x == d.band_y ? tools::shortest(d.band_x)
                                                   : tools::shortest(d.band_x) + " (x), " + tools::shortest(d.band_y) + " (y)";
    std::fprintf(out, "band         %s wide, %s (copies of seeds near the sides), widened %s\n", width.c_str(),
                counted(d.ghost_count, "ghost").c_str(), counted(d.band_growths, "time").c_str());
  }
  std::fprintf(out, "cells        %s, %s, leaf size %lld\n",
              o.precision == host::CellPrecision::single_precision ? "float" : "double",
              counted(d.threads, "thread").c_str(), o.leaf_size);
  std::fprintf(out, "empty cells  %lld\n", empty);
  std::fprintf(out, "build        %s\n",
              tools::build_summary(d.isa, {{"unit_cell_engine_2d", "cell engine"}, {"unit_bsp_level_2d_weighted", "BSP unit"}})
                  .c_str());
  const bool wrote = o.cells_path || o.svg_path;
  std::fprintf(out, "time         %stree %s, cells %s, assemble %s%s\n",
              o.input ? ("read " + milliseconds(read_seconds) + ", ").c_str() : "",
              milliseconds(d.timings.tree).c_str(), milliseconds(d.timings.cells).c_str(),
              milliseconds(d.timings.assemble).c_str(), wrote ? (", write " + milliseconds(write_seconds)).c_str() : "");
  std::fprintf(out, "rate         %s cells per second in the cell phase, %s from seeds to cells\n",
              rate(static_cast<double>(n) / d.timings.cells).c_str(),
              rate(static_cast<double>(n) / (d.timings.tree + d.timings.cells + d.timings.assemble)).c_str());
  if (o.cells_path) std::fprintf(out, "wrote        %s\n", output_name(*o.cells_path, "the cells").c_str());
  if (o.svg_path) std::fprintf(out, "wrote        %s\n", output_name(*o.svg_path, "the picture").c_str());
  if (!wrote && o.input) {
    std::fprintf(out, "hint         nothing was written: --output FILE.csv (or .json) writes the cells, --svg FILE.svg a picture\n");
  }
}

int run(const tools::PowerOptions& o) {
  const host::IsaLevel level = tools::chosen_isa_level();
  Outputs outputs(o);
  auto start = Clock::now();
  if ((o.fit || o.lloyd_moves > 0) && !tools::fitting_available()) {
    throw std::runtime_error("this build of vorn-power cannot fit: it was built without Eigen (Debian: libeigen3-dev)");
  }
  const std::optional<host::PixelDensity> density =
      o.density_path ? std::optional(tools::read_density_image(*o.density_path)) : std::nullopt;
  tools::SeedTable seeds = o.input     ? tools::read_seeds(*o.input)
                           : density ? tools::seeds_from_density(o.seed_count, o.rng_seed, *density,
                                                                   o.box ? *o.box : host::Box{})
                                     : generated_seeds(o.seed_count, o.rng_seed);
  const double read_seconds = seconds_since(start);
  if (seeds.weights.empty()) throw ToolError(tools::input_name(*o.input) + ": no seeds");

  host::PowerDiagramOptions options;
  options.domain = o.unbounded ? std::nullopt
                   : o.box     ? o.box
                   : o.input   ? std::optional(bounding_box(seeds, tools::input_name(*o.input)))
                               : std::optional(host::Box{});
  options.periodic = o.periodic;
  options.precision = o.precision;
  options.threads = o.threads;
  options.leaf_size = o.leaf_size;
  options.isa = level;
  ProgressBar bar;
  options.progress = [&bar](long long done, long long total) { bar(done, total); };
  host::PowerDiagram diagram;
  tools::FitOutcome fitted;
  try {
    if (o.fit || o.lloyd_moves > 0) {
      fitted = tools::fit_seeds(o, seeds, options, density);
      diagram = std::move(fitted.diagram);
    } else {
      diagram = host::power_diagram(seeds.positions, seeds.weights, options);
    }
  } catch (const std::invalid_argument& e) {
    throw ToolError((o.input ? tools::input_name(*o.input) + ": " : std::string()) + e.what());
  } catch (const std::range_error& e) {
    throw ToolError((o.input ? tools::input_name(*o.input) + ": " : std::string()) + e.what());
  }
  bar.finish();
  const long long outside = seeds_outside(seeds, options.domain);
  // A periodic diagram's cells lie around the wrapped seeds: the files and
  // the picture show those.
  if (o.periodic) seeds.positions = host::periodic_positions(seeds.positions, *options.domain);
  const tools::DiagramView view{seeds,       diagram, options.domain, o.precision,
                                o.colour_by_weight ? tools::PictureColour::weight : tools::PictureColour::area,
                                o.periodic};
  const double write_seconds = write_outputs(outputs, view);
  std::FILE* summary = outputs.set.uses_standard_output() ? stderr : stdout;
  print_summary(summary, o, view, outside, read_seconds, write_seconds);
  if (!fitted.summary.empty()) std::fprintf(summary, "%s", fitted.summary.c_str());
  if (!fitted.converged) {
    std::fflush(summary);
    std::fprintf(stderr, "vorn-power: %s\n", fitted.shortfall.c_str());
    return 3;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const auto options = tools::parse_power_options(argc, argv);
    if (!options) {
      std::fputs(tools::power_usage, stdout);
      return 0;
    }
    if (options->version) {
      std::printf("vorn-power %s\nbuild        %s\n", VORN_VERSION,
                  tools::build_summary(tools::chosen_isa_level(), {{"unit_cell_engine_2d", "cell engine"},
                                                                   {"unit_bsp_level_2d_weighted", "BSP unit"}})
                      .c_str());
      return 0;
    }
    return run(*options);
  } catch (const ToolError& e) {
    std::fprintf(stderr, "vorn-power: error: %s\n", e.what());
    return 2;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "vorn-power: error: out of memory\n");
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vorn-power: error: %s\n", e.what());
    return 1;
  }
}
