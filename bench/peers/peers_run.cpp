// One paired run of vorn and its peers on one seed set: vorn's power diagram
// against the regular triangulation plus cell extraction, and vorn's BSP
// builds against the kd-tree, each repeated and reported as the best (least)
// wall time: on a shared machine other work only ever adds time. With --check, the last repeat's cells of both sides are compared.
//
//   peers_run --set uniform|clustered|degenerate --n N [--threads T]
//             [--repeats R] [--leaf-size L] [--random-seed S] [--check]
//
// T (default: every hardware thread) is both vorn's thread count (the BSP
// units and the cell workers, through the options) and the peer's extraction
// threads. Prints one line of key=value fields, times in seconds;
// others_cpu is the share of the machine's CPU that other processes used
// during the repeats.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cell_check.hpp"
#include "cgal_power.hpp"
#include "kd_tree.hpp"
#include "others_cpu.hpp"
#include "seed_sets.hpp"
#include "vorn/host/bsp_tree.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vb = vorn::bench;
namespace vh = vorn::host;

namespace {

struct Options {
  std::string set = "uniform";
  long long n = 100000;
  int threads = 0;
  int repeats = 3;
  long long leaf_size = 16;
  unsigned long long random_seed = 20261208;
  bool check = false;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--check") {
      o.check = true;
      continue;
    }
    if (i + 1 == argc) throw std::invalid_argument("missing value after " + flag);
    const std::string value = argv[++i];
    if (flag == "--set") o.set = value;
    else if (flag == "--n") o.n = std::stoll(value);
    else if (flag == "--threads") o.threads = std::stoi(value);
    else if (flag == "--repeats") o.repeats = std::stoi(value);
    else if (flag == "--leaf-size") o.leaf_size = std::stoll(value);
    else if (flag == "--random-seed") o.random_seed = std::stoull(value);
    else throw std::invalid_argument("unknown option " + flag);
  }
  if (o.threads <= 0) o.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (o.n < 3 || o.repeats < 1) throw std::invalid_argument("need --n >= 3 and --repeats >= 1");
  return o;
}

using Clock = std::chrono::steady_clock;

template <class F>
double time_of(const F& f) {
  const auto start = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

// Every figure of the run, one sample per repeat.
struct Samples {
  std::vector<double> vorn_total, vorn_tree, vorn_cells, vorn_assemble;
  std::vector<double> peer_total, peer_triangulation, peer_extraction;
  std::vector<double> bsp_weighted, bsp_plain, kd_tree;
};

vh::PowerDiagramOptions diagram_options(const Options& o) {
  vh::PowerDiagramOptions d;
  d.domain = vh::Box{0.0, 0.0, 1.0, 1.0};
  d.threads = o.threads;
  d.leaf_size = o.leaf_size;
  return d;
}

vb::CellsView view_of(const vh::PowerDiagram& d) {
  return {d.cell_begin, d.xs, d.ys, d.neighbours, d.areas};
}

void time_trees(const Options& o, const vb::SeedSet& set, Samples& s) {
  std::size_t leaves = 0;
  s.bsp_weighted.push_back(time_of([&] {
    leaves = vh::build_bsp_tree(vh::BspUnit::weighted_2d, set.positions, set.weights, o.leaf_size,
                                vh::default_isa_level(), o.threads)
                 .ids.size();
  }));
  s.bsp_plain.push_back(time_of([&] {
    leaves = vh::build_bsp_tree(vh::BspUnit::plain_2d, set.positions, {}, o.leaf_size, vh::default_isa_level(), o.threads)
                 .ids.size();
  }));
  const vb::KdTreeBuild kd = vb::build_kd_tree(set.positions, o.leaf_size);
  if (kd.leaves == 0 || leaves != set.weights.size()) throw std::runtime_error("a tree came out empty");
  s.kd_tree.push_back(kd.seconds);
}

void print_check(const vb::CheckReport& r) {
  std::cout << " check=" << (r.agrees() ? "agree" : "DISAGREE") << " empty_cells=" << r.empty_cells
            << " degenerate_empty=" << r.degenerate_empty << " degenerate_edges=" << r.degenerate_edges
            << " area_mismatches=" << r.area_mismatches << " neighbour_mismatches=" << r.neighbour_mismatches
            << " max_area_difference=" << r.max_area_difference;
  if (!r.agrees()) std::cout << " first_mismatch=\"" << r.first_mismatch << '"';
}

void print_best(const Options& o, const Samples& s) {
  std::printf("set=%s n=%lld threads=%d repeats=%d", o.set.c_str(), o.n, o.threads, o.repeats);
  const std::pair<const char*, const std::vector<double>*> fields[] = {
      {"vorn_total", &s.vorn_total},     {"vorn_tree", &s.vorn_tree},
      {"vorn_cells", &s.vorn_cells},     {"vorn_assemble", &s.vorn_assemble},
      {"peer_total", &s.peer_total},     {"peer_triangulation", &s.peer_triangulation},
      {"peer_extraction", &s.peer_extraction}, {"bsp_weighted", &s.bsp_weighted},
      {"bsp_plain", &s.bsp_plain},       {"kd_tree", &s.kd_tree}};
  for (const auto& [name, values] : fields) std::printf(" %s=%.6f", name, best(*values));
  std::fflush(stdout);
}

int run(const Options& o) {
  const vb::SeedSet set = vb::make_seed_set(o.set, o.n, o.random_seed);
  const vh::PowerDiagramOptions options = diagram_options(o);
  const vb::BoxDomain box{0.0, 0.0, 1.0, 1.0};
  // Untimed warm-up: loads the units and the engine, starts the pools.
  const std::size_t warm = std::min<std::size_t>(set.weights.size(), 1000);
  vh::power_diagram(std::span(set.positions).first(2 * warm), std::span(set.weights).first(warm), options);

  Samples s;
  const vb::OthersCpu others;
  vh::PowerDiagram diagram;
  vb::CellLists peer;
  for (int r = 0; r < o.repeats; ++r) {
    diagram = {};
    s.vorn_total.push_back(time_of([&] { diagram = vh::power_diagram(set.positions, set.weights, options); }));
    s.vorn_tree.push_back(diagram.timings.tree);
    s.vorn_cells.push_back(diagram.timings.cells);
    s.vorn_assemble.push_back(diagram.timings.assemble);
    peer = {};
    vb::PeerTimings t;
    s.peer_total.push_back(time_of([&] { peer = vb::cgal_power_cells(set.positions, set.weights, box, o.threads, t); }));
    s.peer_triangulation.push_back(t.triangulation);
    s.peer_extraction.push_back(t.extraction);
    time_trees(o, set, s);
  }
  print_best(o, s);
  std::printf(" others_cpu=%.3f level=%s engine_build=%s", others.share(), vh::isa_level_name(diagram.isa).data(),
              vh::isa_level_name(vh::library_build_level("unit_cell_engine_2d", diagram.isa)).data());
  int status = 0;
  if (o.check) {
    vb::CheckTolerances tolerances;
    const double mean_area = 1.0 / static_cast<double>(o.n);  // of a cell in the unit square
    tolerances.area_floor = 1e-3 * mean_area;
    tolerances.edge = 1e-9 * std::sqrt(mean_area);  // 1e-9 of the mean seed spacing
    const vb::CheckReport report = vb::compare_cells(view_of(diagram), peer.view(), tolerances);
    print_check(report);
    status = report.agrees() ? 0 : 1;
  }
  std::cout << '\n';
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = parse(argc, argv);
    return run(o);
  } catch (const std::exception& e) {
    std::cerr << "peers_run: " << e.what() << '\n';
    return 2;
  }
}
