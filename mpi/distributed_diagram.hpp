// The power diagram of a seed set spread over the ranks of an MPI
// communicator, each rank computing the cells of the seeds in its region of
// the plane among ghost seeds from the other regions.
//
// Steps, all ranks together:
// 1. split: a sample of the seeds (every seed whose number is a multiple of
//    a stride) gathered on every rank gives the same PlaneSplit everywhere;
// 2. distribute: every seed moves to the rank owning its region;
// 3. ghosts: each rank sends every other rank its seeds in that rank's
//    region widened by a band (a few mean spacings plus the square root of
//    the weights' spread);
// 4. cells: each rank computes the diagram of its seeds and ghosts and
//    keeps its own seeds' cells, each certified complete when no seed it
//    does not know can cut it: by the band (the test of completeness of
//    periodic diagrams, with the region widened by the band as the known
//    region) or by an answered request. A cell not certified asks every
//    rank for its seeds in the cell's cut reach (cell_reach.hpp); the
//    answers come back, the rank computes its cells again, and so on until
//    no cell is left. More seeds only shrink a cell and with it its reach,
//    so a cell whose reach was answered is certified in the next round.
//
// The cells are those of the whole set's diagram with the same domain (the
// seeds at one position all lie in one region, so the rule of the heaviest,
// then lowest-numbered, holds too), the same for a given rank count on every
// run.
#pragma once

#include <cstdint>
#include <vector>

#include "communicator.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn::mpi {

// A seed as it travels between ranks (32 bytes).
struct SeedRecord {
  std::int64_t seed;  // its number in the caller's set, from 0
  double x, y, weight;
};

struct DistributedStats {
  std::int64_t owned = 0;         // seeds of this rank's region
  std::int64_t ghosts = 0;        // other ranks' seeds among which its cells were computed
  int requests = 0;               // rounds of requests for more ghosts (the same on every rank)
  std::uint64_t seed_bytes = 0;   // bytes this rank sent to move seeds to their regions
  std::uint64_t ghost_bytes = 0;  // bytes this rank sent as ghosts, requests and answers
  // Wall-clock seconds of each step on this rank.
  double split = 0.0, distribute = 0.0, ghost_exchange = 0.0, cells = 0.0;
};

struct DistributedDiagram {
  std::vector<SeedRecord> seeds;  // this rank's seeds, by increasing number
  // Their cells, in that order; neighbours name seeds by their numbers in
  // the caller's set (or host::domain_edge).
  host::PowerDiagram cells;
  DistributedStats stats;
};

// The cells of the seeds of every rank's `share` (each seed on exactly one
// rank, numbered 0 to n - 1 over all ranks) in options.domain, which must be
// given; periodic diagrams are refused. Collective: every rank of `comm`
// calls it. Throws RankFailure on every rank when a step fails on one (its
// message names seeds by their numbers in the caller's set where the host's
// checks name them by the rank's own).
DistributedDiagram distributed_power_diagram(const Communicator& comm, std::vector<SeedRecord> share,
                                             const host::PowerDiagramOptions& options);

}  // namespace vorn::mpi
