#include "newton_system.hpp"

#include <Eigen/IterativeLinearSolvers>
#include <Eigen/SparseCholesky>
#ifdef VORN_FIT_METIS
#include <iostream>  // Eigen's METIS support reports errors on std::cerr without including it
#include <Eigen/MetisSupport>
#endif
#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

#include "../worker_threads.hpp"
#include "vorn/queue/thread_count.hpp"

namespace vorn::host::detail {

namespace {

using Triplet = Eigen::Triplet<double, int>;

// The coupling of cell i with each higher-numbered neighbour across its edges.
void couplings_of(const PowerDiagram& d, std::span<const double> p, const PixelDensity* density, const Box& box,
                  std::size_t i, std::vector<Triplet>& out) {
  const auto begin = static_cast<std::size_t>(d.cell_begin[i]), end = static_cast<std::size_t>(d.cell_begin[i + 1]);
  for (std::size_t k = begin; k < end; ++k) {
    const std::int32_t j = d.neighbours[k];
    if (j < 0 || static_cast<std::size_t>(j) <= i) continue;
    const std::size_t next = k + 1 < end ? k + 1 : begin;
    const double edge = density ? segment_mass(*density, box, d.xs[k], d.ys[k], d.xs[next], d.ys[next])
                                : std::hypot(d.xs[next] - d.xs[k], d.ys[next] - d.ys[k]);
    const auto jj = static_cast<std::size_t>(j);
    const double c = edge / (2.0 * std::hypot(p[2 * jj] - p[2 * i], p[2 * jj + 1] - p[2 * i + 1]));
    if (c == 0.0) continue;
    const int a = static_cast<int>(i), b = static_cast<int>(j);
    out.insert(out.end(), {Triplet(a, b, -c), Triplet(b, a, -c), Triplet(a, a, c), Triplet(b, b, c)});
  }
}

}  // namespace

Eigen::SparseMatrix<double> mass_derivatives(const PowerDiagram& diagram, std::span<const double> positions,
                                             const PixelDensity* density, const Box& box, int threads) {
  const std::size_t n = static_cast<std::size_t>(diagram.cell_count());
  constexpr std::size_t block = 4096;
  std::vector<std::vector<Triplet>> parts((n + block - 1) / block);
  const int workers = threads > 0 ? threads : vorn::detail::configured_thread_count();
  for_each_index(parts.size(), workers, [&](std::size_t b) {
    for (std::size_t i = b * block; i < std::min(n, b * block + block); ++i) {
      couplings_of(diagram, positions, density, box, i, parts[b]);
    }
  });
  std::vector<Triplet> all;
  std::size_t total = 0;
  for (const auto& part : parts) total += part.size();
  all.reserve(total);
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  Eigen::SparseMatrix<double> h(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(n));
  h.setFromTriplets(all.begin(), all.end());  // sums the diagonal contributions
  return h;
}

// A nested-dissection ordering (METIS) keeps the factor of these planar
// graphs' Laplacians far sparser than minimum degree does, where METIS is
// built in.
#ifdef VORN_FIT_METIS
class NewtonSolver::Factor
    : public Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::MetisOrdering<int>> {
  using SimplicialLDLT::SimplicialLDLT;
};
#else
class NewtonSolver::Factor : public Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> {
  using SimplicialLDLT::SimplicialLDLT;
};
#endif

namespace {

// A factorisation of an earlier, nearby matrix as the preconditioner of
// Eigen's conjugate gradients: compute() keeps it, solve() applies it.
class FactorPreconditioner {
 public:
  using Factor = NewtonSolver::Factor;
  FactorPreconditioner() = default;
  void set(const Factor* factor) { factor_ = factor; }
  template <class Matrix>
  FactorPreconditioner& analyzePattern(const Matrix&) { return *this; }
  template <class Matrix>
  FactorPreconditioner& factorize(const Matrix&) { return *this; }
  template <class Matrix>
  FactorPreconditioner& compute(const Matrix&) { return *this; }
  template <class Rhs>
  Rhs solve(const Rhs& b) const { return factor_->solve(b); }
  Eigen::ComputationInfo info() const { return Eigen::Success; }

 private:
  const Factor* factor_ = nullptr;
};

// Past this many iterations a fresh factorisation is cheaper.
constexpr int preconditioned_iteration_limit = 40;

}  // namespace

NewtonSolver::NewtonSolver() = default;
NewtonSolver::~NewtonSolver() = default;

NewtonStep NewtonSolver::solve(Eigen::SparseMatrix<double> h, std::span<const double> rhs, double tolerance) {
  const Eigen::Index n = h.rows();
  NewtonStep out;
  out.step.assign(static_cast<std::size_t>(n), 0.0);
  if (n < 2) return out;
  // Pinning w_0 with a penalty of its own diagonal's size makes H definite
  // (the cells' graph is connected) without moving the solution: any
  // solution of H δ = rhs shifted to δ_0 = 0 also solves the pinned system.
  h.coeffRef(0, 0) += std::max(h.coeff(0, 0), 1e-300);
  const Eigen::Map<const Eigen::VectorXd> b(rhs.data(), n);
  Eigen::VectorXd x;
  bool solved = false;
  if (factor_ && factor_->rows() == n) {
    Eigen::ConjugateGradient<Eigen::SparseMatrix<double>, Eigen::Lower | Eigen::Upper, FactorPreconditioner> cg;
    cg.preconditioner().set(factor_.get());
    cg.setTolerance(tolerance);
    cg.setMaxIterations(preconditioned_iteration_limit);
    cg.compute(h);
    x = cg.solve(b);
    out.iterations = static_cast<int>(cg.iterations());
    solved = cg.info() == Eigen::Success;
  }
  if (!solved) {
    factor_ = std::make_unique<Factor>(h);
    if (factor_->info() != Eigen::Success) {
      factor_.reset();
      throw std::range_error("the Newton system could not be factorised (are the cells connected?)");
    }
    x = factor_->solve(b);
  }
  const double mean = x.mean();
  for (Eigen::Index i = 0; i < n; ++i) out.step[static_cast<std::size_t>(i)] = x[i] - mean;
  return out;
}

}  // namespace vorn::host::detail
