#include "newton_system.hpp"

#include <Eigen/IterativeLinearSolvers>
#include <Eigen/SparseCholesky>
#ifdef VORN_FIT_CHOLMOD
#include <Eigen/CholmodSupport>
#elif defined(VORN_FIT_METIS)
#include <iostream>  // Eigen's METIS support reports errors on std::cerr without including it
#include <Eigen/MetisSupport>
#endif
#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <utility>

#include "../worker_threads.hpp"
#include "split_factor.hpp"
#include "vorn/queue/thread_count.hpp"

namespace vorn::host::detail {

namespace {

// The coupling of cell i with its neighbour across the edge from vertex k:
// the edge's mass over twice the distance to the seed it faces (in a
// periodic diagram, the copy of seed j that the edge's shift names).
double coupling(const PowerDiagram& d, std::span<const double> p, const PixelDensity* density, const Box& box,
                std::size_t i, std::size_t j, std::size_t k, std::size_t next) {
  const bool periodic = !d.neighbour_shifts.empty();
  double edge;
  if (!density) {
    edge = std::hypot(d.xs[next] - d.xs[k], d.ys[next] - d.ys[k]);
  } else if (periodic) {
    edge = periodic_segment_mass(*density, box, d.xs[k], d.ys[k], d.xs[next], d.ys[next]);
  } else {
    edge = segment_mass(*density, box, d.xs[k], d.ys[k], d.xs[next], d.ys[next]);
  }
  double dx = p[2 * j] - p[2 * i], dy = p[2 * j + 1] - p[2 * i + 1];
  if (periodic) {
    dx += d.neighbour_shifts[2 * k] * (box.x_max - box.x_min);
    dy += d.neighbour_shifts[2 * k + 1] * (box.y_max - box.y_min);
  }
  return edge / (2.0 * std::hypot(dx, dy));
}

// Cells ahead whose neighbours' positions are fetched early.
constexpr std::size_t prefetch_distance = 8;

}  // namespace

void mass_derivatives(const PowerDiagram& diagram, std::span<const double> positions, const PixelDensity* density,
                      const Box& box, int threads, std::span<const std::int32_t> rank,
                      Eigen::SparseMatrix<double>& h) {
  const std::size_t n = static_cast<std::size_t>(diagram.cell_count());
  // Seed i's row and column; negative edge markers stay negative.
  auto number = [&](std::int32_t i) { return rank.empty() || i < 0 ? i : rank[static_cast<std::size_t>(i)]; };
  const auto& begin = diagram.cell_begin;
  const int workers = threads > 0 ? threads : vorn::detail::configured_thread_count();
  constexpr std::size_t block = 4096;
  const std::size_t blocks = (n + block - 1) / block;
  auto each_cell = [&](auto&& work) {
    for_each_index(blocks, workers, [&](std::size_t b) {
      for (std::size_t i = b * block; i < std::min(n, b * block + block); ++i) work(i);
    });
  };

  // Column c of seed i (c = its number): the diagonal, then one entry per
  // higher-numbered neighbour in increasing row order, in room for every
  // edge to a higher-numbered cell. Edges to one neighbour (copies of it,
  // in a periodic diagram) are summed, and the room they leave is closed
  // up afterwards.
  h.resize(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(n));  // keeps the arrays' memory
  int* const room = h.outerIndexPtr();
  each_cell([&](std::size_t i) {
    const std::int32_t c = number(static_cast<std::int32_t>(i));
    int edges = 0;
    for (auto k = static_cast<std::size_t>(begin[i]); k < static_cast<std::size_t>(begin[i + 1]); ++k) {
      edges += number(diagram.neighbours[k]) > c;
    }
    room[c + 1] = 1 + edges;
  });
  std::partial_sum(room, room + n + 1, room);
  h.resizeNonZeros(room[n]);
  int* const rows = h.innerIndexPtr();
  double* const values = h.valuePtr();
  std::vector<int> used(n);
  each_cell([&](std::size_t i) {
    // Neighbours' positions and numbers lie anywhere in memory: those of a
    // cell a few ahead are asked for while this one is worked on, so that
    // their cache misses overlap.
    if (const std::size_t later = i + prefetch_distance; later < n) {
      for (auto k = static_cast<std::size_t>(begin[later]); k < static_cast<std::size_t>(begin[later + 1]); ++k) {
        const std::int32_t j = diagram.neighbours[k];
        if (j < 0) continue;
        __builtin_prefetch(&positions[2 * static_cast<std::size_t>(j)]);
        if (!rank.empty()) __builtin_prefetch(&rank[static_cast<std::size_t>(j)]);
      }
    }
    const std::int32_t c = number(static_cast<std::int32_t>(i));
    int* const column = rows + room[c];
    double* const value = values + room[c];
    int size = 1;
    column[0] = c, value[0] = 0.0;
    const auto first = static_cast<std::size_t>(begin[i]), last = static_cast<std::size_t>(begin[i + 1]);
    for (std::size_t k = first; k < last; ++k) {
      const std::int32_t j = diagram.neighbours[k], row = number(j);
      if (row <= c) continue;
      const double v = coupling(diagram, positions, density, box, i, static_cast<std::size_t>(j), k,
                                k + 1 < last ? k + 1 : first);
      int at = 1;
      while (at < size && column[at] < row) ++at;
      if (at < size && column[at] == row) {
        value[at] -= v;
        continue;
      }
      std::copy_backward(column + at, column + size, column + size + 1);
      std::copy_backward(value + at, value + size, value + size + 1);
      column[at] = row, value[at] = -v;
      ++size;
    }
    used[static_cast<std::size_t>(c)] = size;
  });

  // The diagonal makes every row (and column) sum to zero; summed in one
  // fixed order, whatever the number of threads.
  for (std::size_t c = 0; c < n; ++c) {
    for (int e = room[c] + 1; e < room[c] + used[c]; ++e) {
      values[room[c]] -= values[e];
      values[room[rows[e]]] -= values[e];
    }
  }

  int end = 0;
  for (std::size_t c = 0; c < n; ++c) {
    if (room[c] != end) {
      std::copy_n(rows + room[c], used[c], rows + end);
      std::copy_n(values + room[c], used[c], values + end);
    }
    room[c] = end;
    end += used[c];
  }
  room[n] = end;
  h.resizeNonZeros(end);
}

std::vector<std::int32_t> curve_ranks(std::span<const double> positions) {
  const std::size_t n = positions.size() / 2;
  double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
  for (std::size_t i = 0; i < 2 * n; ++i) {
    lo[i % 2] = std::min(lo[i % 2], positions[i]);
    hi[i % 2] = std::max(hi[i % 2], positions[i]);
  }
  constexpr std::uint32_t side = 1u << 16;  // grid cells per axis
  auto cell = [&](std::size_t i, int axis) {
    const double extent = hi[axis] - lo[axis];
    const double t = extent > 0 ? (positions[2 * i + axis] - lo[axis]) / extent : 0.0;
    return static_cast<std::uint32_t>(std::clamp(t * side, 0.0, side - 1.0));
  };
  std::vector<std::pair<std::uint64_t, std::int32_t>> keys(n);
  for (std::size_t i = 0; i < n; ++i) {
    // The curve's index of grid cell (x, y), quadrant by quadrant from the
    // coarsest, each quadrant turned so that the curve stays continuous.
    std::uint32_t x = cell(i, 0), y = cell(i, 1);
    std::uint64_t d = 0;
    for (std::uint32_t s = side / 2; s > 0; s /= 2) {
      const std::uint32_t rx = (x & s) ? 1 : 0, ry = (y & s) ? 1 : 0;
      d += std::uint64_t{s} * s * ((3 * rx) ^ ry);
      if (ry == 0) {
        if (rx == 1) x = side - 1 - x, y = side - 1 - y;
        std::swap(x, y);
      }
    }
    keys[i] = {d, static_cast<std::int32_t>(i)};
  }
  std::sort(keys.begin(), keys.end());
  std::vector<std::int32_t> rank(n);
  for (std::size_t r = 0; r < n; ++r) rank[static_cast<std::size_t>(keys[r].second)] = static_cast<std::int32_t>(r);
  return rank;
}

// CHOLMOD's supernodal Cholesky picks its own fill-reducing ordering
// (nested dissection among them) and factors dense blocks through BLAS.
// Without it, a nested-dissection ordering (METIS) keeps the simplicial
// factor of these planar graphs' Laplacians far sparser than minimum degree
// does.
#ifdef VORN_FIT_CHOLMOD
class NewtonSolver::Factor {
 public:
  Factor(const Eigen::SparseMatrix<double>& h, int threads) : threads_(threads) {
    Supernodal llt;
    // Minimum degree only: where its factor would take many flops per
    // entry, CHOLMOD's default also tries METIS, which on the periodic
    // matrices of 10^6 seeds costs 6 s and is not taken.
    llt.cholmod().nmethods = 1;
    llt.cholmod().method[0].ordering = CHOLMOD_AMD;
    llt.compute(h);
    if (llt.info() == Eigen::Success) split_.emplace(llt.split(threads));
  }
  bool ok() const { return split_.has_value(); }
  Eigen::Index rows() const { return split_->rows(); }
  Eigen::VectorXd solve(const Eigen::VectorXd& b) const { return split_->solve(b, threads_); }

 private:
  // Supernodes factor fast, their dense blocks through BLAS, but a solve
  // with them makes BLAS calls per supernode, on one core, and reads the
  // zeros that relaxed supernodes hold (a third of the entries here). A fit
  // solves with one factor dozens of times: the factor's nonzeros are
  // copied into a SplitFactor along the supernodes' tree, and CHOLMOD's
  // copy freed.
  class Supernodal : public Eigen::CholmodSupernodalLLT<Eigen::SparseMatrix<double>, Eigen::Lower> {
   public:
    using CholmodSupernodalLLT::CholmodSupernodalLLT;
    SplitFactor split(int threads) const {
      const cholmod_factor& l = *m_cholmodFactor;
      if (!l.is_super || !l.is_ll || l.itype != CHOLMOD_INT || l.xtype != CHOLMOD_REAL) {
        throw std::logic_error("CHOLMOD returned a factor of an unexpected kind");
      }
      const auto supernodes = static_cast<std::int32_t>(l.nsuper);
      const int* first_column = static_cast<const int*>(l.super);
      const int* row_begin = static_cast<const int*>(l.pi);
      const int* value_begin = static_cast<const int*>(l.px);
      const int* rows = static_cast<const int*>(l.s);
      const double* values = static_cast<const double*>(l.x);
      // Supernode s holds columns [first_column[s], first_column[s + 1]),
      // a dense block of their rows (its own columns first) by columns.
      std::vector<std::int32_t> supernode_of(l.n), parent(l.nsuper, -1);
      std::vector<double> work(l.nsuper);
      for (std::int32_t s = 0; s < supernodes; ++s) {
        const int columns = first_column[s + 1] - first_column[s], height = row_begin[s + 1] - row_begin[s];
        std::fill(supernode_of.begin() + first_column[s], supernode_of.begin() + first_column[s + 1], s);
        work[static_cast<std::size_t>(s)] = double(height) * columns - 0.5 * double(columns) * (columns - 1);
      }
      // A supernode's parent holds the first row below its own columns.
      for (std::int32_t s = 0; s < supernodes; ++s) {
        const int columns = first_column[s + 1] - first_column[s], height = row_begin[s + 1] - row_begin[s];
        if (height > columns) {
          parent[static_cast<std::size_t>(s)] = supernode_of[static_cast<std::size_t>(rows[row_begin[s] + columns])];
        }
      }
      const std::vector<FactorPart> supernode_part = split_tree(parent, work);
      std::vector<FactorPart> part(l.n);
      for (std::size_t k = 0; k < l.n; ++k) part[k] = supernode_part[static_cast<std::size_t>(supernode_of[k])];
      const int* perm = static_cast<const int*>(l.Perm);
      SplitFactor out(part, std::vector<std::int32_t>(perm, perm + l.n));
      for_each_index(3, threads, [&](std::size_t p) {
        const auto filling = static_cast<FactorPart>(p);
        double entries = 0.0;
        for (std::size_t s = 0; s < l.nsuper; ++s) entries += supernode_part[s] == filling ? work[s] : 0.0;
        out.reserve(filling, static_cast<std::size_t>(entries));
        for (std::int32_t s = 0; s < supernodes; ++s) {
          if (supernode_part[static_cast<std::size_t>(s)] != filling) continue;
          const int height = row_begin[s + 1] - row_begin[s];
          for (int k = first_column[s], c = 0; k < first_column[s + 1]; ++k, ++c) {
            const auto below = static_cast<std::size_t>(height - c);
            out.append(k, {rows + row_begin[s] + c, below},
                       {values + value_begin[s] + std::ptrdiff_t{c} * height + c, below});
          }
        }
      });
      return out;
    }
  };

  int threads_;
  std::optional<SplitFactor> split_;
};
#else
class NewtonSolver::Factor {
 public:
  Factor(const Eigen::SparseMatrix<double>& h, int) : ldlt_(h) {}
  bool ok() const { return ldlt_.info() == Eigen::Success; }
  Eigen::Index rows() const { return ldlt_.rows(); }
  Eigen::VectorXd solve(const Eigen::VectorXd& b) const { return ldlt_.solve(b); }

 private:
#ifdef VORN_FIT_METIS
  Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::MetisOrdering<int>> ldlt_;
#else
  Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> ldlt_;
#endif
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
  Eigen::VectorXd solve(const Eigen::VectorXd& b) const { return factor_->solve(b); }
  Eigen::ComputationInfo info() const { return Eigen::Success; }

 private:
  const Factor* factor_ = nullptr;
};

// Past this many iterations a fresh factorisation is cheaper.
constexpr int preconditioned_iteration_limit = 40;

}  // namespace

NewtonSolver::NewtonSolver(std::vector<std::int32_t> rank, int threads) : rank_(std::move(rank)), threads_(threads) {}
NewtonSolver::~NewtonSolver() = default;

NewtonStep NewtonSolver::solve(Eigen::SparseMatrix<double>& h, std::span<const double> rhs, double tolerance) {
  const Eigen::Index n = h.rows();
  NewtonStep out;
  out.step.assign(static_cast<std::size_t>(n), 0.0);
  if (n < 2) return out;
  if (!rank_.empty() && rank_.size() != static_cast<std::size_t>(n)) {
    throw std::logic_error("the Newton system's numbering does not match its size");
  }
  auto number = [&](Eigen::Index i) { return rank_.empty() ? i : Eigen::Index{rank_[static_cast<std::size_t>(i)]}; };
  // Pinning the first unknown with a penalty of its own diagonal's size
  // makes H definite (the cells' graph is connected) without moving the
  // solution: any solution of H δ = rhs shifted to δ_0 = 0 also solves the
  // pinned system.
  h.coeffRef(0, 0) += std::max(h.coeff(0, 0), 1e-300);
  // The masses add up to the targets' total only up to rounding, and a
  // system whose rows sum to zero has no solution for the rest: left in, the
  // pinned row would absorb it all and its cell could never reach its
  // target. Spread evenly, it is nothing.
  const double excess = Eigen::Map<const Eigen::VectorXd>(rhs.data(), n).mean();
  Eigen::VectorXd b(n);
  for (Eigen::Index i = 0; i < n; ++i) b[number(i)] = rhs[static_cast<std::size_t>(i)] - excess;
  Eigen::VectorXd x;
  bool solved = false;
  if (factor_ && factor_->rows() == n) {
    Eigen::ConjugateGradient<Eigen::SparseMatrix<double>, Eigen::Lower, FactorPreconditioner> cg;
    cg.preconditioner().set(factor_.get());
    cg.setTolerance(tolerance);
    cg.setMaxIterations(preconditioned_iteration_limit);
    cg.compute(h);
    x = cg.solve(b);
    out.iterations = static_cast<int>(cg.iterations());
    solved = cg.info() == Eigen::Success;
  }
  if (!solved) {
    factor_ = std::make_unique<Factor>(h, threads_);
    if (!factor_->ok()) {
      factor_.reset();
      throw std::range_error("the Newton system could not be factorised (are the cells connected?)");
    }
    x = factor_->solve(b);
  }
  const double mean = x.mean();
  for (Eigen::Index i = 0; i < n; ++i) out.step[static_cast<std::size_t>(i)] = x[number(i)] - mean;
  return out;
}

}  // namespace vorn::host::detail
