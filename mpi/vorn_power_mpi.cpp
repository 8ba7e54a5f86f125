// vorn-power-mpi: the power diagram of a .npy seed file computed by the
// ranks of an MPI job, each rank reading its share of the file, computing
// the cells of its region's seeds and writing them to a file of its own.
#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "atomic_file.hpp"
#include "build_level.hpp"
#include "communicator.hpp"
#include "diagram_writers.hpp"
#include "distributed_diagram.hpp"
#include "number_text.hpp"
#include "output_set.hpp"
#include "power_options.hpp"
#include "seed_input.hpp"
#include "tool_error.hpp"

namespace {

using namespace vorn;
using tools::ToolError;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const char usage[] =
    "usage: mpirun -n K vorn-power-mpi [options] SEEDS.npy\n"
    "The power diagram of a .npy seed file, computed by K ranks: each reads its own rows,\n"
    "the ranks split the plane into K balanced regions, and each writes the cells of its\n"
    "region's seeds, numbered as in the file, to FILE's name with its rank before the\n"
    "extension (cells.csv: cells.0.csv, cells.1.csv, ...).\n"
    "  --box XMIN,YMIN,XMAX,YMAX  domain box (default: the seeds' bounding box)\n"
    "  --float, --double          cell arithmetic precision (default: double)\n"
    "  --threads N                threads per rank (default: the machine's hardware threads\n"
    "                             shared among its ranks)\n"
    "  --leaf-size N              seeds per BSP leaf (default: 16)\n"
    "  --output FILE              write the cells, as .csv or .json (by extension), one file per rank\n"
    "  --format csv|json          the cells' format, whatever --output's name\n"
    "  --version                  the version and the library builds this CPU gets\n";

// The options vorn-power takes that a distributed run refuses, and why.
void refuse_unsupported(const tools::PowerOptions& o) {
  if (!o.input) throw ToolError("give a .npy seed file: each rank reads its own rows of it");
  if (*o.input == "-" || std::filesystem::path(*o.input).extension() != ".npy") {
    throw ToolError(tools::input_name(*o.input) +
                    ": the seeds must be a .npy file, whose rows each rank reads by position (convert CSV with "
                    "numpy.save)");
  }
  const auto refuse = [](bool given, const std::string& what) {
    if (given) throw ToolError(what + " is not supported by vorn-power-mpi; use vorn-power");
  };
  refuse(o.unbounded, "--unbounded (cells of the whole plane)");
  refuse(o.periodic, "--periodic");
  refuse(o.svg_path.has_value(), "--svg (a picture)");
  refuse(o.colour_by_weight, "--color-by");
  refuse(o.fit.has_value() || o.lloyd_moves > 0 || o.density_path.has_value(), "fitting (--fit, --lloyd, --density)");
  if (o.cells_path && *o.cells_path == "-") {
    throw ToolError("--output -: the ranks write a file each; name a file, such as cells.csv");
  }
}

// Rank r's cell file: the name given with ".r" before its extension.
std::filesystem::path rank_file(const std::string& name, int rank) {
  const std::filesystem::path p(name);
  return p.parent_path() / (p.stem().string() + "." + std::to_string(rank) + p.extension().string());
}

// The peak resident memory of this process, in bytes (VmHWM), or 0 where unknown.
double peak_memory() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return 1024.0 * std::stod(line.substr(6));
  }
  return 0.0;
}

std::string milliseconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", 1e3 * seconds);
  return text;
}

// "12.3 MiB", or "45.6 KiB" below a mebibyte.
std::string mebibytes(double bytes) {
  char text[32];
  if (bytes < (1 << 20)) {
    std::snprintf(text, sizeof text, "%.1f KiB", bytes / (1 << 10));
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1 << 20));
  }
  return text;
}

// One figure over the ranks: its largest value and its mean.
struct Spread {
  double largest, mean;
};

Spread spread(const mpi::Communicator& comm, double v) { return {comm.max(v), comm.sum(v) / comm.size()}; }

struct RunTimes {
  double read = 0.0, write = 0.0;
};

// Collective: the whole run's figures, printed by rank 0.
void print_summary(const mpi::Communicator& comm, const tools::PowerOptions& o, const mpi::DistributedDiagram& d,
                   const host::PowerDiagramOptions& options, std::int64_t seeds, RunTimes times) {
  const host::Box& box = *options.domain;
  std::int64_t empty = 0, outside = 0;
  double area = 0.0;
  for (std::size_t i = 0; i < d.seeds.size(); ++i) {
    empty += d.cells.empty[i];
    area += d.cells.areas[i];
    const mpi::SeedRecord& s = d.seeds[i];
    outside += s.x < box.x_min || s.x > box.x_max || s.y < box.y_min || s.y > box.y_max;
  }
  empty = comm.sum(empty), outside = comm.sum(outside), area = comm.sum(area);
  const mpi::DistributedStats& s = d.stats;
  const std::int64_t ghosts = comm.sum(s.ghosts);
  const Spread owned = spread(comm, static_cast<double>(s.owned));
  const Spread seed_bytes = spread(comm, static_cast<double>(s.seed_bytes));
  const Spread ghost_bytes = spread(comm, static_cast<double>(s.ghost_bytes));
  const Spread memory = spread(comm, peak_memory());
  const double read = comm.max(times.read), split = comm.max(s.split), distribute = comm.max(s.distribute),
               exchange = comm.max(s.ghost_exchange), cells = comm.max(s.cells), write = comm.max(times.write);
  if (comm.rank() != 0) return;
  const double domain_area = (box.x_max - box.x_min) * (box.y_max - box.y_min);
  std::printf("seeds        %lld (%s)\n", static_cast<long long>(seeds), tools::input_name(*o.input).c_str());
  std::printf("domain       [%s, %s] x [%s, %s]\n", tools::shortest(box.x_min).c_str(),
              tools::shortest(box.x_max).c_str(), tools::shortest(box.y_min).c_str(),
              tools::shortest(box.y_max).c_str());
  if (outside > 0) {
    std::printf("outside      %lld seed%s outside the box; %s cell is the part inside the box, if any\n",
                static_cast<long long>(outside), outside == 1 ? "" : "s", outside == 1 ? "its" : "each one's");
  }
  std::printf("area         cells %s, domain %s, relative difference %.3g\n", tools::shortest(area).c_str(),
              tools::shortest(domain_area).c_str(), (area - domain_area) / domain_area);
  std::printf("ranks        %d, seeds per rank at most %.0f (mean %.0f)\n", comm.size(), owned.largest, owned.mean);
  std::printf("ghosts       %lld, %.2f%% of the seeds; %d round%s of ghost requests\n", static_cast<long long>(ghosts),
              100.0 * static_cast<double>(ghosts) / static_cast<double>(seeds), s.requests, s.requests == 1 ? "" : "s");
  std::printf("sent         per rank at most %s (mean %s) of seeds to their regions, %s (mean %s) of ghosts\n",
              mebibytes(seed_bytes.largest).c_str(), mebibytes(seed_bytes.mean).c_str(),
              mebibytes(ghost_bytes.largest).c_str(), mebibytes(ghost_bytes.mean).c_str());
  std::printf("memory       peak per rank at most %s (mean %s)\n", mebibytes(memory.largest).c_str(),
              mebibytes(memory.mean).c_str());
  std::printf("cells        %s, %d thread%s per rank, leaf size %lld\n",
              o.precision == host::CellPrecision::single_precision ? "float" : "double", options.threads,
              options.threads == 1 ? "" : "s", o.leaf_size);
  std::printf("empty cells  %lld\n", static_cast<long long>(empty));
  std::printf("time         slowest rank: read %s, split %s, distribute %s, ghosts %s, cells %s%s\n",
              milliseconds(read).c_str(), milliseconds(split).c_str(), milliseconds(distribute).c_str(),
              milliseconds(exchange).c_str(), milliseconds(cells).c_str(),
              o.cells_path ? (", write " + milliseconds(write)).c_str() : "");
  if (o.cells_path) {
    std::printf("wrote        %s to %s\n", rank_file(*o.cells_path, 0).c_str(),
                rank_file(*o.cells_path, comm.size() - 1).c_str());
  } else {
    std::printf("hint         nothing was written: --output FILE.csv (or .json) writes the cells\n");
  }
}

// Every rank's share of the file, as seed records numbered by row.
std::vector<mpi::SeedRecord> read_share(const mpi::Communicator& comm, const std::string& input, std::int64_t& total) {
  long long first = 0, rows = 0;
  const tools::SeedTable table = tools::read_npy_seed_share(input, comm.rank(), comm.size(), first, rows);
  total = rows;
  std::vector<mpi::SeedRecord> share(table.weights.size());
  for (std::size_t i = 0; i < share.size(); ++i) {
    share[i] = {first + static_cast<std::int64_t>(i), table.positions[2 * i], table.positions[2 * i + 1],
                table.weights[i]};
  }
  return share;
}

// The seeds' bounding box over every rank (collective).
host::Box bounding_box(const mpi::Communicator& comm, const std::vector<mpi::SeedRecord>& share,
                       const std::string& input) {
  constexpr double infinity = std::numeric_limits<double>::infinity();
  host::Box b{infinity, infinity, -infinity, -infinity};
  for (const mpi::SeedRecord& s : share) {
    b = {std::min(b.x_min, s.x), std::min(b.y_min, s.y), std::max(b.x_max, s.x), std::max(b.y_max, s.y)};
  }
  b = {comm.min(b.x_min), comm.min(b.y_min), comm.max(b.x_max), comm.max(b.y_max)};
  if (!(b.x_min < b.x_max) || !(b.y_min < b.y_max)) {
    throw mpi::RankFailure(
        {tools::input_name(input) + ": the seeds' bounding box has no area (no seeds, or all on one line): give --box",
         2});
  }
  return b;
}

int run(const mpi::Communicator& comm, int argc, char** argv) {
  std::optional<tools::PowerOptions> parsed;
  comm.agreed([&] {
    parsed = tools::parse_power_options(argc, argv);
    if (parsed && !parsed->version) refuse_unsupported(*parsed);
  });
  if (!parsed || parsed->version) {
    if (comm.rank() != 0) return 0;
    if (!parsed) std::fputs(usage, stdout);
    if (parsed) {
      std::printf("vorn-power-mpi %s\nbuild        %s\n", VORN_VERSION,
                  tools::build_summary(tools::chosen_isa_level(), {{"unit_cell_engine_2d", "cell engine"},
                                                                   {"unit_bsp_level_2d_weighted", "BSP unit"}})
                      .c_str());
    }
    return 0;
  }
  const tools::PowerOptions& o = *parsed;
  const std::string& input = *o.input;

  host::PowerDiagramOptions options;
  std::unique_ptr<tools::OutputSet> outputs;
  tools::TextOutput* cells = nullptr;
  tools::CellFormat format = tools::CellFormat::csv;
  std::vector<mpi::SeedRecord> share;
  std::int64_t total = 0;
  RunTimes times;
  const auto start = Clock::now();
  comm.agreed([&] {
    options.isa = tools::chosen_isa_level();
    // The outputs are checked before any work, so that a bad one fails at once.
    outputs = std::make_unique<tools::OutputSet>(std::filesystem::path(input));
    if (o.cells_path) {
      cells = &outputs->add(rank_file(*o.cells_path, comm.rank()), "--output");
      format = o.cells_format ? *o.cells_format : tools::cell_format_for(*o.cells_path);
    }
    share = read_share(comm, input, total);
  });
  times.read = seconds_since(start);
  if (total == 0) throw mpi::RankFailure({tools::input_name(input) + ": no seeds", 2});
  options.domain = o.box ? *o.box : bounding_box(comm, share, input);
  options.precision = o.precision;
  options.threads = o.threads > 0
                        ? o.threads
                        : std::max(1, static_cast<int>(std::thread::hardware_concurrency()) / comm.ranks_on_node());
  options.leaf_size = o.leaf_size;
  const mpi::DistributedDiagram diagram = mpi::distributed_power_diagram(comm, std::move(share), options);

  const auto write_start = Clock::now();
  if (cells) {
    std::vector<std::int64_t> numbers(diagram.seeds.size());
    tools::SeedTable seeds{std::vector<double>(2 * numbers.size()), std::vector<double>(numbers.size()), {}};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      const mpi::SeedRecord& s = diagram.seeds[i];
      numbers[i] = s.seed, seeds.positions[2 * i] = s.x, seeds.positions[2 * i + 1] = s.y, seeds.weights[i] = s.weight;
    }
    const tools::DiagramView view{seeds, diagram.cells, options.domain, o.precision, tools::PictureColour::area,
                                  false, numbers};
    comm.agreed([&] {
      (format == tools::CellFormat::csv ? tools::write_cells_csv : tools::write_cells_json)(*cells, view);
      cells->finish();
    });
    // Every rank's file is whole: now they replace their targets.
    comm.agreed([&] { outputs->commit(); });
  }
  times.write = seconds_since(write_start);
  print_summary(comm, o, diagram, options, total, times);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int status = 0;
  {
    const mpi::Communicator comm(MPI_COMM_WORLD);
    try {
      status = run(comm, argc, argv);
    } catch (const mpi::RankFailure& e) {
      // Every rank has the same failure: one message and the status, from
      // rank 0 (the launcher returns it); the others end quietly, so that
      // a quiet launcher (mpirun -q) adds nothing to the message.
      if (comm.rank() == 0) std::fprintf(stderr, "vorn-power-mpi: error: %s\n", e.what());
      status = comm.rank() == 0 ? e.status : 0;
    }
  }
  MPI_Finalize();
  return status;
}
