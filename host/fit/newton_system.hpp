// The linear system of one Newton step of the weight fit.
#pragma once

#include <Eigen/SparseCore>
#include <span>
#include <vector>

#include "vorn/host/pixel_density.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn::host::detail {

// H with H(i, j) = ∂ mass_i / ∂ w_j: for neighbours i ≠ j,
// −(density integral along the shared edge) / (2 |p_i − p_j|), the edge's
// length under the uniform density (density == nullptr); each diagonal
// entry is minus the sum of its row's other entries. Symmetric; every row
// sums to zero. Each shared edge is read once, from the lower-numbered cell.
Eigen::SparseMatrix<double> mass_derivatives(const PowerDiagram& diagram, std::span<const double> positions,
                                             const PixelDensity* density, const Box& box, int threads);

struct NewtonStep {
  std::vector<double> step;  // n: the weight change, of mean 0
  int iterations = 0;        // conjugate-gradient iterations
};

// The solution of H δ = rhs with mean(δ) = 0, to the relative residual
// `tolerance`. rhs must sum to (nearly) zero, as H's rows do: the system
// is singular along the constant vector, so weight 0 is pinned while
// solving and the mean taken out afterwards.
NewtonStep solve_newton_step(Eigen::SparseMatrix<double> h, std::span<const double> rhs, double tolerance);

}  // namespace vorn::host::detail
