// The internals of the weight fit: cell masses and the linear system of one
// Newton step.
#pragma once

#include <Eigen/SparseCore>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "vorn/host/fit_weights.hpp"
#include "vorn/host/pixel_density.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn::host::detail {

// The cells' masses: their areas, or their integrals under the fit's density.
std::vector<double> cell_masses(const PowerDiagram& diagram, const FitOptions& o);

// Writes into `h` the lower triangle, diagonal included, of H with H(i, j)
// = ∂ mass_i / ∂ w_j: for neighbours i ≠ j, −(density integral along the
// shared edge) / (2 |p_i − p_j|), the edge's length under the uniform
// density (density == nullptr); each diagonal entry is minus the sum of its
// row's other entries. H is symmetric and every row sums to zero. Each
// shared edge is read once, from the lower-numbered cell; the same result
// for any thread count. A periodic diagram's positions are its wrapped ones
// (periodic_positions): an edge couples cell i with the copy of j that its
// shift names, several copies of one neighbour add up, and edges with i's
// own copies move with w_i on both sides, so they add nothing. Given `rank`
// (a permutation of the cells), H is assembled in that numbering: seed i's
// row and column are rank[i]. `h` keeps its memory from one call to the
// next, which spares a fit's later iterations the cost of fresh pages.
void mass_derivatives(const PowerDiagram& diagram, std::span<const double> positions, const PixelDensity* density,
                      const Box& box, int threads, std::span<const std::int32_t> rank,
                      Eigen::SparseMatrix<double>& h);

// Each seed's rank along a Hilbert curve through the seeds' bounding box
// (ties by index): neighbouring cells get nearby numbers. In that numbering
// the Newton matrix's fill-reducing ordering runs about twice as fast and
// its products read memory in order.
std::vector<std::int32_t> curve_ranks(std::span<const double> positions);

struct NewtonStep {
  std::vector<double> step;  // n: the weight change, of mean 0
  int iterations = 0;        // conjugate-gradient iterations; 0 for a fresh factorisation
};

// Solves the Newton systems of one fit. The first system is factorised
// (sparse Cholesky); later ones, whose matrices differ little from it, are
// solved by conjugate gradients preconditioned with that factorisation, and
// factorised afresh only when that takes too long. H is singular along the
// constant vector (its rows sum to zero), so the first unknown is pinned
// while solving and the mean taken out afterwards; rhs must sum to nearly
// zero, and what it sums to (rounding) is taken out evenly first.
class NewtonSolver {
 public:
  class Factor;  // the sparse Cholesky factorisation, with its ordering

  // `rank` numbers the systems' unknowns as mass_derivatives did (empty:
  // the seeds' own numbering); solves run on up to `threads` threads.
  explicit NewtonSolver(std::vector<std::int32_t> rank = {}, int threads = 1);
  ~NewtonSolver();

  // The solution of H δ = rhs with mean(δ) = 0, to the relative residual
  // `tolerance` (exact up to rounding when freshly factorised); rhs and δ
  // in the seeds' numbering, H in the ranks'.
  // H's first diagonal entry is changed to pin the first unknown.
  NewtonStep solve(Eigen::SparseMatrix<double>& h, std::span<const double> rhs, double tolerance);

 private:
  std::vector<std::int32_t> rank_;
  int threads_;
  std::unique_ptr<Factor> factor_;
};

}  // namespace vorn::host::detail
