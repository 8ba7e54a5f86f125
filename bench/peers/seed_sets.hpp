// The seed sets of the peer comparison: n weighted seeds in the unit square,
// made from a fixed random seed so that every run and every program sees the
// same points.
//
//   uniform     positions uniform in [0, 1)^2; weights uniform in
//               [0, 0.5 / n), half the mean area per seed, so that a few
//               close pairs lose a cell entirely
//   clustered   64 Gaussian clusters of spreads from 0.002 to 0.05 and
//               populations falling off as 1/rank, kept inside the square;
//               weights uniform in [0, half the cluster's area per seed)
//   degenerate  a square lattice (spacing h, cells of four co-circular
//               seeds) moved by at most 1e-10 h per coordinate, zero
//               weights, in shuffled order: almost every power vertex is
//               nearly shared by four cells
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::bench {

struct SeedSet {
  std::string kind;
  std::vector<double> positions;  // n x 2, x then y
  std::vector<double> weights;    // n
};

// The seed set `kind` ("uniform", "clustered" or "degenerate") of n seeds;
// throws std::invalid_argument for any other kind.
SeedSet make_seed_set(std::string_view kind, long long n, std::uint64_t random_seed);

}  // namespace vorn::bench
