#include "distributed_diagram.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>

#include "cell_reach.hpp"
#include "host/cell_completeness.hpp"
#include "plane_split.hpp"

namespace vorn::mpi {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

constexpr double infinity = std::numeric_limits<double>::infinity();

// Sample points per rank that the split is drawn from: enough that each
// region's share is within a few per cent of 1/K.
constexpr std::int64_t sample_per_rank = 2048;

// The band of ghosts around each region, in mean seed spacings: a cell
// reaches about one spacing from its seed, and a seed beyond the band must
// be farther from its vertices than the cell's own seed.
constexpr double band_spacings = 3.0;

// A cell's reach shrinks from one round to the next, so a second round
// certifies it; more rounds mean vertices that rounding moves by more
// than the requests' margin.
constexpr int max_request_rounds = 8;

// What every rank knows of the whole set.
struct SetFacts {
  std::int64_t count = 0;
  double heaviest = -infinity, lightest = infinity;
  host::Box bounds{infinity, infinity, -infinity, -infinity};  // of the seeds
};

SetFacts set_facts(const Communicator& comm, const std::vector<SeedRecord>& share) {
  SetFacts f;
  for (const SeedRecord& s : share) {
    f.heaviest = std::max(f.heaviest, s.weight), f.lightest = std::min(f.lightest, s.weight);
    f.bounds = {std::min(f.bounds.x_min, s.x), std::min(f.bounds.y_min, s.y), std::max(f.bounds.x_max, s.x),
                std::max(f.bounds.y_max, s.y)};
  }
  f.count = comm.sum(static_cast<std::int64_t>(share.size()));
  f.heaviest = comm.max(f.heaviest), f.lightest = comm.min(f.lightest);
  f.bounds = {comm.min(f.bounds.x_min), comm.min(f.bounds.y_min), comm.max(f.bounds.x_max), comm.max(f.bounds.y_max)};
  return f;
}

PlaneSplit agreed_split(const Communicator& comm, const std::vector<SeedRecord>& share, const SetFacts& facts,
                        const host::Box& domain) {
  const std::int64_t stride = std::max<std::int64_t>(1, facts.count / (sample_per_rank * comm.size()));
  std::vector<SamplePoint> mine;
  for (const SeedRecord& s : share) {
    if (s.seed % stride == 0) mine.push_back({s.x, s.y, s.seed});
  }
  return split_plane(comm.gather_all(std::span<const SamplePoint>(mine)), comm.size(), domain);
}

bool by_seed(const SeedRecord& a, const SeedRecord& b) { return a.seed < b.seed; }

std::vector<SeedRecord> distributed(const Communicator& comm, std::vector<SeedRecord> share, const PlaneSplit& split,
                                    std::uint64_t& bytes) {
  std::vector<std::vector<SeedRecord>> outgoing(static_cast<std::size_t>(comm.size()));
  for (const SeedRecord& s : share) outgoing[static_cast<std::size_t>(split.owner(s.x, s.y))].push_back(s);
  std::vector<SeedRecord>().swap(share);
  std::vector<SeedRecord> owned = comm.exchange(outgoing, bytes);
  std::sort(owned.begin(), owned.end(), by_seed);
  return owned;
}

bool inside(const host::Box& b, double x, double y) {
  return x >= b.x_min && x <= b.x_max && y >= b.y_min && y <= b.y_max;
}

// A request for every seed in a rectangle, from rank `from`.
struct GhostRequest {
  host::Box box;
  std::int64_t from;
};

// The rank's seeds sorted by x, to find those in a rectangle.
struct SeedsByX {
  std::vector<std::size_t> order;  // indices into the owned seeds
  std::vector<double> xs;          // their x, increasing

  explicit SeedsByX(const std::vector<SeedRecord>& owned) : order(owned.size()) {
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return owned[a].x < owned[b].x; });
    for (const std::size_t i : order) xs.push_back(owned[i].x);
  }
};

// This rank's state through the ghost rounds.
struct Neighbourhood {
  const Communicator& comm;
  const PlaneSplit& split;
  const SetFacts& facts;
  double band;
  std::vector<SeedRecord> owned, ghosts;  // each by increasing seed number
  // Per owned seed, the rectangle whose every seed it knows beyond the
  // band, once a request for it was answered.
  std::vector<std::optional<host::Box>> answered;
  DistributedStats stats;

  host::Box known_region(int rank) const { return widened(split.regions[static_cast<std::size_t>(rank)], band); }

  void exchange_band() {
    std::vector<std::vector<SeedRecord>> outgoing(static_cast<std::size_t>(comm.size()));
    for (int r = 0; r < comm.size(); ++r) {
      if (r == comm.rank()) continue;
      const host::Box known = known_region(r);
      for (const SeedRecord& s : owned) {
        if (inside(known, s.x, s.y)) outgoing[static_cast<std::size_t>(r)].push_back(s);
      }
    }
    ghosts = comm.exchange(outgoing, stats.ghost_bytes);
    std::sort(ghosts.begin(), ghosts.end(), by_seed);
  }

  // Sends every request to every rank and merges the answers into the ghosts.
  void answer_requests(const std::vector<GhostRequest>& mine) {
    const std::vector<GhostRequest> all = comm.gather_all(std::span<const GhostRequest>(mine));
    stats.ghost_bytes +=
        static_cast<std::uint64_t>(mine.size() * sizeof(GhostRequest)) * static_cast<std::uint64_t>(comm.size() - 1);
    const SeedsByX index(owned);
    std::vector<std::vector<std::size_t>> picked(static_cast<std::size_t>(comm.size()));
    for (const GhostRequest& q : all) {
      if (q.from == comm.rank()) continue;
      // The requester has the seeds in its band already.
      const host::Box known = known_region(static_cast<int>(q.from));
      auto& to = picked[static_cast<std::size_t>(q.from)];
      const auto first = std::lower_bound(index.xs.begin(), index.xs.end(), q.box.x_min);
      for (auto at = first; at != index.xs.end() && *at <= q.box.x_max; ++at) {
        const std::size_t i = index.order[static_cast<std::size_t>(at - index.xs.begin())];
        const SeedRecord& s = owned[i];
        if (inside(q.box, s.x, s.y) && !inside(known, s.x, s.y)) to.push_back(i);
      }
    }
    std::vector<std::vector<SeedRecord>> outgoing(picked.size());
    for (std::size_t r = 0; r < picked.size(); ++r) {
      std::sort(picked[r].begin(), picked[r].end());
      picked[r].erase(std::unique(picked[r].begin(), picked[r].end()), picked[r].end());
      for (const std::size_t i : picked[r]) outgoing[r].push_back(owned[i]);
    }
    std::vector<SeedRecord> arrived = comm.exchange(outgoing, stats.ghost_bytes);
    arrived.insert(arrived.end(), ghosts.begin(), ghosts.end());
    std::sort(arrived.begin(), arrived.end(), by_seed);
    arrived.erase(std::unique(arrived.begin(), arrived.end(),
                              [](const SeedRecord& a, const SeedRecord& b) { return a.seed == b.seed; }),
                  arrived.end());
    ghosts = std::move(arrived);
  }
};

// The owned seeds and the ghosts in one list by seed number (so that the
// rule of coincident seeds, lowest number first, is the caller's), and
// where each owned seed is in it.
struct LocalSet {
  std::vector<double> positions, weights;
  std::vector<std::int64_t> seed;      // per local index
  std::vector<std::int32_t> owned_at;  // per owned seed, its local index
};

LocalSet local_set(const std::vector<SeedRecord>& owned, const std::vector<SeedRecord>& ghosts) {
  LocalSet l;
  const std::size_t n = owned.size() + ghosts.size();
  l.positions.reserve(2 * n), l.weights.reserve(n), l.seed.reserve(n), l.owned_at.reserve(owned.size());
  std::size_t a = 0, b = 0;
  while (a < owned.size() || b < ghosts.size()) {
    const bool take_owned = b == ghosts.size() || (a < owned.size() && owned[a].seed < ghosts[b].seed);
    const SeedRecord& s = take_owned ? owned[a++] : ghosts[b++];
    if (take_owned) l.owned_at.push_back(static_cast<std::int32_t>(l.seed.size()));
    l.positions.push_back(s.x), l.positions.push_back(s.y), l.weights.push_back(s.weight), l.seed.push_back(s.seed);
  }
  return l;
}

// The host's message with the rank's own seed numbers ("seed 12") put back
// into the caller's.
std::string in_caller_numbers(const std::string& message, const LocalSet& l) {
  static const std::regex seed_number("seed ([0-9]+)");
  std::string out;
  auto at = message.cbegin();
  for (std::sregex_iterator m(message.begin(), message.end(), seed_number), end; m != end; ++m) {
    out.append(at, (*m)[0].first);
    const std::size_t local = std::stoul((*m)[1].str());
    out += "seed " + (local < l.seed.size() ? std::to_string(l.seed[local]) : (*m)[1].str());
    at = (*m)[0].second;
  }
  return out.append(at, message.cend());
}

host::PowerDiagram local_diagram(const LocalSet& l, const host::PowerDiagramOptions& options) {
  try {
    return host::power_diagram(l.positions, l.weights, options);
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(in_caller_numbers(e.what(), l));
  } catch (const std::range_error& e) {
    throw std::range_error(in_caller_numbers(e.what(), l));
  }
}

// The rounding level of the cells' vertices in the caller's units: that of
// the engine's frame (2^-44 of its reach in double, 2^-20 in float), with
// the reach taken as twice the extent of seeds and box, and the shift's.
double vertex_rounding(const SetFacts& f, const host::Box& domain, host::CellPrecision precision) {
  const double x0 = std::min(f.bounds.x_min, domain.x_min), x1 = std::max(f.bounds.x_max, domain.x_max);
  const double y0 = std::min(f.bounds.y_min, domain.y_min), y1 = std::max(f.bounds.y_max, domain.y_max);
  const double level = precision == host::CellPrecision::double_precision ? 0x1p-44 : 0x1p-20;
  return level * 2.0 * std::max(x1 - x0, y1 - y0) + 0x1p-50 * (std::fabs(x0 + x1) + std::fabs(y0 + y1));
}

// The owned cells not yet certified complete, and the request each makes.
struct OpenCells {
  std::vector<std::size_t> cells;  // indices of owned seeds
  std::vector<GhostRequest> requests;
};

OpenCells uncertified(const Neighbourhood& hood, const host::PowerDiagram& d, const LocalSet& l, double rounding) {
  const host::detail::KnownRegion band{hood.known_region(hood.comm.rank()), infinity, infinity, hood.facts.heaviest};
  const host::Box everything = hood.facts.bounds;
  OpenCells open;
  for (std::size_t i = 0; i < l.owned_at.size(); ++i) {
    const auto c = static_cast<std::size_t>(l.owned_at[i]);
    const auto begin = static_cast<std::size_t>(d.cell_begin[c]),
               count = static_cast<std::size_t>(d.vertex_count(static_cast<std::int64_t>(c)));
    const double x = l.positions[2 * c], y = l.positions[2 * c + 1], w = l.weights[c];
    const double* xs = d.xs.data() + begin;
    const double* ys = d.ys.data() + begin;
    if (host::detail::is_complete(band, x, y, w, xs, ys, count, rounding)) continue;
    const auto& answered = hood.answered[i];
    if (answered && holds(*answered, everything)) continue;  // every seed is known
    const std::optional<host::Box> reach = cut_reach(x, y, w, xs, ys, count, hood.facts.heaviest, rounding);
    if (!reach || (answered && holds(*answered, *reach))) continue;
    // A margin of a thirty-second of the reach's mean side absorbs the
    // rounding of the next round's reach, which is no larger in exact
    // arithmetic.
    const double margin = (reach->x_max - reach->x_min + reach->y_max - reach->y_min) / 64;
    open.cells.push_back(i);
    open.requests.push_back({widened(*reach, margin), hood.comm.rank()});
  }
  return open;
}

// The owned cells of the local diagram, with neighbours in the caller's numbers.
host::PowerDiagram owned_cells(const host::PowerDiagram& d, const LocalSet& l) {
  host::PowerDiagram out;
  out.cell_begin.push_back(0);
  for (const std::int32_t at : l.owned_at) {
    const auto c = static_cast<std::size_t>(at);
    for (auto k = static_cast<std::size_t>(d.cell_begin[c]); k < static_cast<std::size_t>(d.cell_begin[c + 1]); ++k) {
      out.xs.push_back(d.xs[k]), out.ys.push_back(d.ys[k]);
      const std::int32_t j = d.neighbours[k];
      out.neighbours.push_back(j >= 0 ? static_cast<std::int32_t>(l.seed[static_cast<std::size_t>(j)]) : j);
    }
    out.cell_begin.push_back(static_cast<std::int64_t>(out.xs.size()));
    out.areas.push_back(d.areas[c]);
    out.centroid_x.push_back(d.centroid_x[c]), out.centroid_y.push_back(d.centroid_y[c]);
    out.empty.push_back(d.empty[c]), out.unbounded.push_back(d.unbounded[c]);
  }
  out.timings = d.timings;
  out.threads = d.threads;
  out.isa = d.isa;
  return out;
}

}  // namespace

DistributedDiagram distributed_power_diagram(const Communicator& comm, std::vector<SeedRecord> share,
                                             const host::PowerDiagramOptions& options) {
  if (!options.domain || options.periodic) {
    throw std::invalid_argument("a distributed diagram needs a domain box and is not periodic");
  }
  const host::Box domain = *options.domain;
  auto start = Clock::now();
  const SetFacts facts = set_facts(comm, share);
  DistributedDiagram out;
  if (facts.count == 0) return out;
  const PlaneSplit split = agreed_split(comm, share, facts, domain);
  const double split_seconds = seconds_since(start);

  start = Clock::now();
  std::uint64_t seed_bytes = 0;
  const double spacing =
      std::sqrt((domain.x_max - domain.x_min) * (domain.y_max - domain.y_min) / static_cast<double>(facts.count));
  Neighbourhood hood{comm,
                     split,
                     facts,
                     band_spacings * spacing + std::sqrt(facts.heaviest - facts.lightest),
                     distributed(comm, std::move(share), split, seed_bytes),
                     {},
                     {},
                     {}};
  hood.stats.distribute = seconds_since(start);
  hood.stats.split = split_seconds;
  hood.stats.seed_bytes = seed_bytes;
  hood.answered.resize(hood.owned.size());

  start = Clock::now();
  hood.exchange_band();
  hood.stats.ghost_exchange = seconds_since(start);
  const double rounding = vertex_rounding(facts, domain, options.precision);
  LocalSet local;
  host::PowerDiagram diagram;
  // A rank computes its cells again only when it received answers; a rank
  // without seeds computes none.
  for (bool compute = !hood.owned.empty();;) {
    OpenCells open;
    start = Clock::now();
    comm.agreed([&] {
      if (!compute) return;
      local = local_set(hood.owned, hood.ghosts);
      diagram = local_diagram(local, options);
      open = uncertified(hood, diagram, local, rounding);
    });
    hood.stats.cells += seconds_since(start);
    if (comm.sum(static_cast<std::int64_t>(open.requests.size())) == 0) break;
    if (hood.stats.requests == max_request_rounds) {
      throw RankFailure({"cells cannot be certified complete after " + std::to_string(max_request_rounds) +
                             " rounds of ghost requests: their vertices are not resolved within the arithmetic's "
                             "precision",
                         2});
    }
    start = Clock::now();
    ++hood.stats.requests;
    hood.answer_requests(open.requests);
    // Each request was answered in full: the cell knows every seed in it.
    for (std::size_t k = 0; k < open.cells.size(); ++k) hood.answered[open.cells[k]] = open.requests[k].box;
    hood.stats.ghost_exchange += seconds_since(start);
    compute = !open.requests.empty();
  }
  hood.stats.owned = static_cast<std::int64_t>(hood.owned.size());
  hood.stats.ghosts = static_cast<std::int64_t>(hood.ghosts.size());
  out.cells = owned_cells(diagram, local);
  out.seeds = std::move(hood.owned);
  out.stats = hood.stats;
  return out;
}

}  // namespace vorn::mpi
