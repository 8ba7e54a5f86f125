// The distributed diagram against the whole set's diagram, run by ctest
// under mpirun with 1 to 4 ranks: every rank computes both and checks the
// cells of its own seeds. Collectives run unconditionally (non-fatal
// checks only), so that a failure on one rank never leaves the others
// waiting.
#include "distributed_diagram.hpp"

#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "communicator.hpp"
#include "seed_sets.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn {
namespace {

using test::SeedSet;

// This rank's share of the rows, as vorn-power-mpi reads a file.
std::vector<mpi::SeedRecord> share_of(const SeedSet& s, const mpi::Communicator& comm) {
  const std::size_t n = s.weights.size();
  const std::size_t first = n * static_cast<std::size_t>(comm.rank()) / static_cast<std::size_t>(comm.size());
  const std::size_t end = n * static_cast<std::size_t>(comm.rank() + 1) / static_cast<std::size_t>(comm.size());
  std::vector<mpi::SeedRecord> share;
  for (std::size_t i = first; i < end; ++i) {
    share.push_back({static_cast<std::int64_t>(i), s.positions[2 * i], s.positions[2 * i + 1], s.weights[i]});
  }
  return share;
}

host::PowerDiagramOptions unit_square_options() {
  host::PowerDiagramOptions options;
  options.domain = host::Box{0.0, 0.0, 1.0, 1.0};
  options.threads = 1;
  return options;
}

std::multiset<std::int32_t> neighbour_set(const host::PowerDiagram& d, std::int64_t cell) {
  return {d.neighbours.begin() + d.cell_begin[cell], d.neighbours.begin() + d.cell_begin[cell + 1]};
}

class DistributedDiagram : public ::testing::TestWithParam<SeedSet> {};

// Areas agree to 1e-12 of the cell's area or of the mean cell's, whichever
// is larger: a cell far smaller than the mean has vertices as rounded as
// any other's, which the two computations (different trees, different
// orders of cuts) round differently.
TEST_P(DistributedDiagram, OwnsEverySeedOnceAndAgreesWithTheWholeDiagram) {
  const SeedSet& s = GetParam();
  const mpi::Communicator comm(MPI_COMM_WORLD);
  const host::PowerDiagramOptions options = unit_square_options();
  const host::PowerDiagram whole = host::power_diagram(s.positions, s.weights, options);
  const mpi::DistributedDiagram mine = mpi::distributed_power_diagram(comm, share_of(s, comm), options);

  std::vector<std::int64_t> ids;
  for (const mpi::SeedRecord& r : mine.seeds) ids.push_back(r.seed);
  std::vector<std::int64_t> all = comm.gather_all(std::span<const std::int64_t>(ids));
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), s.weights.size()) << "seeds owned by no rank or by two";
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a seed owned twice";

  const double mean_area = 1.0 / static_cast<double>(s.weights.size());
  ASSERT_EQ(mine.cells.cell_count(), static_cast<std::int64_t>(ids.size()));
  for (std::size_t k = 0; k < ids.size(); ++k) {
    const std::int64_t i = ids[k];
    const auto c = static_cast<std::int64_t>(k);
    EXPECT_EQ(mine.cells.empty[k], whole.empty[static_cast<std::size_t>(i)]) << "seed " << i;
    EXPECT_NEAR(mine.cells.areas[k], whole.areas[static_cast<std::size_t>(i)],
                1e-12 * std::max(whole.areas[static_cast<std::size_t>(i)], mean_area))
        << "seed " << i << " on rank " << comm.rank();
    EXPECT_EQ(neighbour_set(mine.cells, c), neighbour_set(whole, i)) << "seed " << i << " on rank " << comm.rank();
  }
}

TEST_P(DistributedDiagram, GivesTheSameBitsOnEveryRunWithTheSameRanks) {
  const SeedSet& s = GetParam();
  const mpi::Communicator comm(MPI_COMM_WORLD);
  const mpi::DistributedDiagram first = mpi::distributed_power_diagram(comm, share_of(s, comm), unit_square_options());
  const mpi::DistributedDiagram second = mpi::distributed_power_diagram(comm, share_of(s, comm), unit_square_options());
  ASSERT_EQ(first.cells.xs.size(), second.cells.xs.size());
  for (std::size_t k = 0; k < first.cells.xs.size(); ++k) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(first.cells.xs[k]), std::bit_cast<std::uint64_t>(second.cells.xs[k]));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(first.cells.ys[k]), std::bit_cast<std::uint64_t>(second.cells.ys[k]));
  }
  EXPECT_EQ(first.cells.neighbours, second.cells.neighbours);
  EXPECT_EQ(first.stats.ghosts, second.stats.ghosts);
}

INSTANTIATE_TEST_SUITE_P(Sets, DistributedDiagram,
                         ::testing::Values(test::uniform_set("uniform", 3000, 0.5, 1), test::clustered_set(3000),
                                           test::uniform_set("heavy", 2000, 40.0, 3), test::grid_set(40),
                                           test::duplicates_set(400), test::uniform_set("three_seeds", 3, 0.0, 5),
                                           test::one_region_set()),
                         [](const auto& info) { return info.param.name; });

// A few very heavy seeds reach far beyond the band: their neighbours'
// cells ask for more ghosts, and the answers complete them.
TEST(DistributedDiagramGhosts, CellsBeyondTheBandAreCompletedByRequests) {
  SeedSet s = test::uniform_set("far_reaching", 2000, 0.0, 9);
  for (std::size_t i = 0; i < s.weights.size(); i += 400) s.weights[i] = 0.02;
  const mpi::Communicator comm(MPI_COMM_WORLD);
  const host::PowerDiagramOptions options = unit_square_options();
  const host::PowerDiagram whole = host::power_diagram(s.positions, s.weights, options);
  const mpi::DistributedDiagram mine = mpi::distributed_power_diagram(comm, share_of(s, comm), options);
  if (comm.size() > 1) {
    EXPECT_GE(mine.stats.requests, 1) << "the band alone was expected to leave cells uncertified";
  }
  for (std::size_t k = 0; k < mine.seeds.size(); ++k) {
    const auto i = static_cast<std::size_t>(mine.seeds[k].seed);
    EXPECT_NEAR(mine.cells.areas[k], whole.areas[i], 1e-12 * std::max(whole.areas[i], 1.0 / 2000)) << "seed " << i;
    EXPECT_EQ(neighbour_set(mine.cells, static_cast<std::int64_t>(k)),
              neighbour_set(whole, static_cast<std::int64_t>(i)))
        << "seed " << i;
  }
}

// A seed the host refuses, on whichever rank owns it: every rank stops
// with the same message, naming the seed by its number in the whole set.
TEST(DistributedDiagramFailure, ABadSeedOnOneRankStopsEveryRankWithOneMessage) {
  SeedSet s = test::uniform_set("bad", 500, 0.0, 13);
  s.positions[2 * 321] = 1e200;
  const mpi::Communicator comm(MPI_COMM_WORLD);
  try {
    mpi::distributed_power_diagram(comm, share_of(s, comm), unit_square_options());
    ADD_FAILURE() << "no failure on rank " << comm.rank();
  } catch (const mpi::RankFailure& e) {
    EXPECT_EQ(std::string(e.what()), "seed 321 has x coordinate 1e+200, beyond the supported magnitude 1e+150");
    EXPECT_EQ(e.status, 2);
  }
}

}  // namespace
}  // namespace vorn

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  MPI_Finalize();
  return status;
}
