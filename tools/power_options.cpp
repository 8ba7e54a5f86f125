#include "power_options.hpp"

#include <charconv>
#include <cmath>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tool_error.hpp"

namespace vorn::tools {

const char power_usage[] =
    "usage: vorn-power [options] [SEEDS.csv | SEEDS.npy | -]\n"
    "\n"
    "Computes the power diagram of weighted seeds. Without a seed file it uses a\n"
    "generated set of 20000 weighted seeds in the unit square and writes the\n"
    "picture vorn-power.svg.\n"
    "\n"
    "  --box XMIN,YMIN,XMAX,YMAX  domain box (default: the unit square for\n"
    "                             generated seeds, else the seeds' bounding box)\n"
    "  --unbounded                cells of the whole plane, no domain box\n"
    "  --periodic                 cells of the torus whose period cell is the box\n"
    "                             (a seed file needs --box; seeds are wrapped in)\n"
    "  --float, --double          cell arithmetic precision (default: double)\n"
    "  --threads N                threads (default: all hardware threads)\n"
    "  --leaf-size N              seeds per BSP leaf (default: 16)\n"
    "  --output FILE              write the cells, as .csv or .json\n"
    "  --format csv|json          the cells' format (default: by the extension of\n"
    "                             --output; csv for -)\n"
    "  --svg FILE.svg             write a picture of the diagram\n"
    "  --no-svg                   write no picture\n"
    "  --color-by area|weight     what the picture's colours show (default: area)\n"
    "  --fit equal|target         fit the weights so that every cell gets an equal\n"
    "                             share of the box (or of the density's mass), or\n"
    "                             the area in the seed file's target column\n"
    "  --lloyd N                  move the seeds to their cells' centroids N times\n"
    "                             (with --fit, fitting again after every move)\n"
    "  --density IMAGE            a density over the box for --fit and --lloyd:\n"
    "                             .npy (ny, nx) values, row 0 at the bottom, or a\n"
    "                             .pgm image whose dark parts weigh most; generated\n"
    "                             seeds are then drawn from it\n"
    "  --tolerance T              the fit's largest relative error (default 1e-9)\n"
    "  --max-iterations N         the fit's Newton iterations at most (default 100)\n"
    "  --seeds N                  number of generated seeds (default: 20000)\n"
    "  --rng-seed S               seed of the generator (default: 1)\n"
    "  --version                  show the version and the library builds this CPU gets\n"
    "  -h, --help                 show this text\n"
    "\n"
    "A seed file or an output named - is the standard input or output (one\n"
    "output at most); the summary then goes to standard error.\n"
    "Each option may be given once.\n"
    "\n"
    "Exit status: 0 done, 1 the computation could not run (missing library,\n"
    "unsupported CPU, out of memory), 2 bad command line, input or output,\n"
    "3 the fit did not converge (the outputs hold the best weights reached).\n";

namespace {

long long integer_value(std::string_view option, std::string_view text, long long low, long long high) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
    throw ToolError(std::string(option) + ": expected an integer from " + std::to_string(low) + " to " +
                    std::to_string(high) + ", got '" + std::string(text) + "'");
  }
  return value;
}

host::Box box_value(std::string_view text) {
  std::vector<double> bounds;
  for (std::size_t begin = 0; begin <= text.size();) {
    const std::size_t comma = std::min(text.find(',', begin), text.size());
    double v = 0.0;
    const std::string_view field = text.substr(begin, comma - begin);
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), v);
    if (error != std::errc{} || end != field.data() + field.size() || field.empty() || !std::isfinite(v)) {
      throw ToolError("--box: bound " + std::to_string(bounds.size() + 1) + " '" + std::string(field) +
                      "' is not a finite number");
    }
    bounds.push_back(v);
    begin = comma + 1;
  }
  if (bounds.size() != 4) {
    throw ToolError("--box: expected XMIN,YMIN,XMAX,YMAX (4 numbers), got " + std::to_string(bounds.size()));
  }
  if (!(bounds[0] < bounds[2]) || !(bounds[1] < bounds[3])) {
    throw ToolError("--box: the box '" + std::string(text) + "' is empty or inverted (need XMIN < XMAX, YMIN < YMAX)");
  }
  return {bounds[0], bounds[1], bounds[2], bounds[3]};
}

// Walks argv; options take their value as the next argument or after '='.
class Arguments {
 public:
  Arguments(int argc, char** argv) : args_(argv + 1, argv + argc) {}
  bool done() const { return at_ >= args_.size(); }
  std::string_view next() {
    std::string_view arg = args_[at_++];
    value_.reset();
    if (arg.starts_with("--") && arg.find('=') != std::string_view::npos) {
      value_ = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
    }
    return arg;
  }
  std::string_view value(std::string_view option) {
    if (value_) return *std::exchange(value_, std::nullopt);
    if (done()) throw ToolError(std::string(option) + ": missing value");
    return args_[at_++];
  }
  void no_value(std::string_view option) const {
    if (value_) throw ToolError(std::string(option) + " takes no value");
  }

 private:
  std::vector<std::string_view> args_;
  std::size_t at_ = 0;
  std::optional<std::string_view> value_;
};

// Whether `path`'s last component has an extension other than .svg (any case).
bool other_extension_than_svg(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  std::string extension(name.substr(dot));
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return extension != ".svg";
}

// One option; false when `arg` is not an option of this program.
bool apply_option(std::string_view arg, Arguments& in, PowerOptions& o, bool& no_svg, bool& seeds_given) {
  if (arg == "--box") {
    o.box = box_value(in.value(arg));
  } else if (arg == "--unbounded" || arg == "--periodic" || arg == "--float" || arg == "--double" ||
             arg == "--no-svg") {
    in.no_value(arg);
    if (arg == "--unbounded") o.unbounded = true;
    if (arg == "--periodic") o.periodic = true;
    if (arg == "--float") o.precision = host::CellPrecision::single_precision;
    if (arg == "--double") o.precision = host::CellPrecision::double_precision;
    if (arg == "--no-svg") no_svg = true;
  } else if (arg == "--threads") {
    o.threads = static_cast<int>(integer_value(arg, in.value(arg), 1, 4096));
  } else if (arg == "--leaf-size") {
    o.leaf_size = integer_value(arg, in.value(arg), 1, (1LL << 31) - 1);
  } else if (arg == "--output" || arg == "-o") {
    o.cells_path = std::string(in.value(arg));
  } else if (arg == "--format") {
    const std::string_view format = in.value(arg);
    if (format != "csv" && format != "json") {
      throw ToolError("--format: expected csv or json, got '" + std::string(format) + "'");
    }
    o.cells_format = format == "csv" ? CellFormat::csv : CellFormat::json;
  } else if (arg == "--svg") {
    o.svg_path = std::string(in.value(arg));
    if (*o.svg_path != "-" && other_extension_than_svg(*o.svg_path)) {
      throw ToolError("--svg writes an SVG picture: name it FILE.svg, not '" + *o.svg_path + "'");
    }
  } else if (arg == "--color-by") {
    const std::string_view by = in.value(arg);
    if (by != "area" && by != "weight") {
      throw ToolError("--color-by: expected area or weight, got '" + std::string(by) + "'");
    }
    o.colour_by_weight = by == "weight";
  } else if (arg == "--fit") {
    const std::string_view what = in.value(arg);
    if (what != "equal" && what != "target") {
      throw ToolError("--fit: expected equal or target, got '" + std::string(what) + "'");
    }
    o.fit = std::string(what);
  } else if (arg == "--lloyd") {
    o.lloyd_moves = static_cast<int>(integer_value(arg, in.value(arg), 1, 100000));
  } else if (arg == "--density") {
    o.density_path = std::string(in.value(arg));
  } else if (arg == "--tolerance") {
    const std::string_view text = in.value(arg);
    double t = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), t);
    if (error != std::errc{} || end != text.data() + text.size() || !(t > 0) || !(t < 1)) {
      throw ToolError("--tolerance: expected a number between 0 and 1 (exclusive), got '" + std::string(text) + "'");
    }
    o.tolerance = t;
  } else if (arg == "--max-iterations") {
    o.max_iterations = static_cast<int>(integer_value(arg, in.value(arg), 0, 100000));
  } else if (arg == "--seeds") {
    o.seed_count = integer_value(arg, in.value(arg), 1, (1LL << 31) - 1);
    seeds_given = true;
  } else if (arg == "--rng-seed") {
    o.rng_seed = static_cast<unsigned long long>(integer_value(arg, in.value(arg), 0, (1LL << 62)));
  } else {
    return false;
  }
  return true;
}

// --fit, --lloyd and their settings: double cells in a box (periodic or
// not), settings only where they apply.
void check_fit_options(const PowerOptions& o, const std::set<std::string_view>& seen) {
  const bool fitting = o.fit || o.lloyd_moves > 0;
  if (fitting && o.unbounded) {
    throw ToolError(std::string(o.fit ? "--fit" : "--lloyd") +
                    " needs a domain box: cells of the whole plane have no finite area");
  }
  if (fitting && o.precision == host::CellPrecision::single_precision) {
    throw ToolError(std::string(o.fit ? "--fit" : "--lloyd") + " computes double cells: --float would not reach "
                    "the fit's tolerance");
  }
  if (o.density_path && !fitting) throw ToolError("--density applies to --fit and --lloyd; give one of them");
  for (const char* option : {"--tolerance", "--max-iterations"}) {
    if (seen.contains(option) && !o.fit) throw ToolError(std::string(option) + " sets up --fit; give --fit too");
  }
  if (o.fit == "target" && !o.input) {
    throw ToolError("--fit target takes each seed's area from the seed file's target column: give a seed file");
  }
}

}  // namespace

std::optional<PowerOptions> parse_power_options(int argc, char** argv) {
  PowerOptions o;
  bool no_svg = false, seeds_given = false;
  std::set<std::string_view> seen;  // options given, -o as --output
  Arguments in(argc, argv);
  while (!in.done()) {
    const std::string_view arg = in.next();
    if (arg == "-h" || arg == "--help") return std::nullopt;
    if (arg == "--version") {  // the other options do not matter then
      PowerOptions version_only;
      version_only.version = true;
      return version_only;
    }
    if (apply_option(arg, in, o, no_svg, seeds_given)) {
      // A second value would silently win over the first.
      if (!seen.insert(arg == "-o" ? "--output" : arg).second) {
        throw ToolError(std::string(arg == "-o" ? "--output" : arg) + " is given twice");
      }
      continue;
    }
    if (arg.starts_with("-") && arg != "-") throw ToolError("unknown option '" + std::string(arg) + "' (see --help)");
    if (o.input) throw ToolError("more than one seed file: '" + *o.input + "' and '" + std::string(arg) + "'");
    o.input = std::string(arg);
  }
  if (o.unbounded && o.box) throw ToolError("--box and --unbounded exclude each other");
  if (o.periodic && o.unbounded) throw ToolError("--periodic and --unbounded exclude each other: a period needs a box");
  // The seeds' bounding box would put the seeds on its high sides onto
  // those on its low sides, which the torus makes one: the period is asked for.
  if (o.periodic && o.input && !o.box) {
    throw ToolError("--periodic needs --box XMIN,YMIN,XMAX,YMAX with a seed file: the box is the period cell");
  }
  if (seen.contains("--float") && seen.contains("--double")) throw ToolError("--float and --double exclude each other");
  if (o.input && seeds_given) throw ToolError("--seeds sizes the generated seed set; it cannot go with a seed file");
  if (o.input && seen.contains("--rng-seed")) {
    throw ToolError("--rng-seed seeds the generated seed set; it cannot go with a seed file");
  }
  if (no_svg && o.svg_path) throw ToolError("--svg and --no-svg exclude each other");
  check_fit_options(o, seen);
  if (seen.contains("--format") && !o.cells_path) {
    throw ToolError("--format sets the format of the cells that --output writes; give --output too");
  }
  if (o.cells_path && o.svg_path && *o.cells_path == "-" && *o.svg_path == "-") {
    throw ToolError("--output and --svg both name the standard output (-): only one output can go there");
  }
  if (!o.input && !no_svg && !o.svg_path) o.svg_path = "vorn-power.svg";
  return o;
}

}  // namespace vorn::tools
