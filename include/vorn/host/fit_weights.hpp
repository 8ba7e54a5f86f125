// Cells of prescribed size: weights fitted so that every cell gets its
// target area (or mass, under a density), and Lloyd relaxation.
//
// fit_weights solves A_i(w) = t_i for the weights by a damped Newton method.
// The derivative of cell i's mass with respect to a neighbour j's weight is
// −(density integral along their shared edge) / (2 |p_i − p_j|) (the edge's
// length under the uniform density), and each diagonal entry makes its row
// sum to zero. Weights are defined up to a constant: every step keeps their
// mean. The Newton systems are solved by a sparse Cholesky factorisation
// (CHOLMOD's where the build found it, else Eigen's LDLT) for the first,
// and by conjugate gradients preconditioned with it for the following ones
// (factorised again when that converges slowly). A step is halved until no
// cell's mass falls below half the smallest of the targets and of the
// starting masses, and the error's Euclidean norm falls by at least a factor
// 1 − step/2; after a halved step, the next one starts from twice the step
// taken rather than from the full step. A start that leaves cells empty is
// first pulled toward
// zero weights (halved) until every cell has mass.
//
// lloyd moves every seed to its cell's (mass) centroid, a number of times or
// until no seed moves more than a tolerance; with targets it fits the
// weights again after every move, so the cells keep their prescribed sizes
// (capacity-constrained point sets).
#pragma once

#include <functional>
#include <span>
#include <vector>

#include "vorn/host/pixel_density.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn::host {

// One Newton iteration, as reported and kept in the history. Iteration 0
// is the start.
struct FitIteration {
  int iteration = 0;
  double max_relative_error = 0.0;  // max over cells of |mass − target| / target, after the iteration
  double step = 0.0;                // the fraction of the Newton step taken (1, 1/2, ...; 0 at the
                                    // start and when the fit stalled)
  int diagrams = 0;                 // diagrams computed in this iteration (1 + the halvings; a rejected
                                    // step's diagram stops at its first cell below the floor)
  int solver_iterations = 0;        // conjugate-gradient iterations of its linear solve (0: factorised)
  double solve_seconds = 0.0;       // time of the linear solve
  double seconds = 0.0;             // time of the whole iteration
};

struct FitOptions {
  // The diagrams' settings: a domain box is required (cells of the whole
  // plane have no finite area to prescribe); with `periodic`, the cells tile
  // the flat torus of the box (seeds are wrapped into it, and the results'
  // positions and cells are the wrapped ones). Its progress hook is not used.
  PowerDiagramOptions diagram;
  // Over the domain box (on a periodic domain it repeats with the box);
  // nullptr: uniform, the targets are areas.
  const PixelDensity* density = nullptr;
  double tolerance = 1e-9;                // stop at this largest relative error
  int max_iterations = 100;
  std::function<void(const FitIteration&)> on_iteration;  // called after the start and every iteration
};

struct FitResult {
  std::vector<double> weights;         // n
  PowerDiagram diagram;                // the cells under `weights`
  std::vector<double> masses;          // n: areas, or masses under the density
  std::vector<FitIteration> history;   // the start, then every iteration
  bool converged = false;              // the tolerance was reached within max_iterations
  bool stalled = false;                // stopped short of it: no fraction of a Newton step (down to
                                       // 1/4096) reduced the error, which is then at the level the
                                       // arithmetic of the cells resolves
};

// Weights under which the cell of seed i (positions: x then y per seed) has
// mass targets[i], starting from `initial_weights` (n values, or empty for
// all zero). Throws std::invalid_argument before any work when the targets
// are not n positive finite numbers adding up to the domain's area (or the
// density's total mass) to within the tolerance, a seed is not finite, lies
// outside the box (unless periodic) or on another seed, the density is invalid, or the options are (a
// missing domain, a tolerance not positive, no iterations); for the other
// errors, as power_diagram. Throws std::range_error when no start with
// every cell holding mass is found (a seed whose cell lies where the
// density is zero). Returns with converged == false when the iterations run
// out or the fit stalls (the tolerance asks for more than the arithmetic
// resolves): the weights are the best reached, and the history says how far.
FitResult fit_weights(std::span<const double> positions, std::span<const double> targets,
                      std::span<const double> initial_weights, const FitOptions& options);

struct LloydOptions {
  FitOptions fit;           // the diagrams, density and, with targets, the fitting
  int iterations = 10;      // moves at most
  double tolerance = 0.0;   // stop once no seed moves farther than this
  std::function<void(int iteration, double largest_move, const FitResult& fitted)> on_iteration;
};

struct LloydResult {
  std::vector<double> positions;     // x then y per seed, after the last move
  FitResult fitted;                  // weights, cells and masses at those positions
  std::vector<double> largest_move;  // per move: the farthest any seed went
};

// Moves the seeds to their cells' (mass) centroids (on a periodic domain,
// wrapped back into the box: the positions returned are wrapped). With `targets` (n
// values), weights are fitted to them before the first move and after every
// move (starting from the previous weights); without, the weights stay
// `weights` (n values, or empty for zero). Throws as fit_weights, and
// std::invalid_argument for a negative tolerance or iteration count; a cell
// that comes out empty (possible without targets) keeps its seed in place.
LloydResult lloyd(std::span<const double> positions, std::span<const double> weights,
                  std::span<const double> targets, const LloydOptions& options);

}  // namespace vorn::host
