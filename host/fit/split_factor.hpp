// A sparse Cholesky factor whose triangular solves run on two threads.
//
// Column k of L (P A Pᵀ = L Lᵀ) updates, in the forward solve, only rows
// that are its ancestors in the elimination tree. Two sets of whole
// subtrees, no subtree in both, are therefore solved independently; what
// lies above them (the top) is solved after them, reading both. The
// backward solve runs the same way in reverse. A fit applies one factor
// dozens of times, each a memory-bound pass over tens of millions of
// entries on one core otherwise.
#pragma once

#include <Eigen/SparseCore>
#include <cstdint>
#include <span>
#include <vector>

namespace vorn::host::detail {

enum class FactorPart : std::uint8_t { first, second, top };

// Splits a forest, given as parent[v] > v (−1 at a root) and work[v] ≥ 0,
// into `first` and `second`, each a union of whole subtrees, and the
// `top`, every node above them (a set closed under taking parents), so that
// work(top) + max(work(first), work(second)) is about as small as taking
// subtrees off the top allows: the time of a solve on two threads.
std::vector<FactorPart> split_tree(std::span<const std::int32_t> parent, std::span<const double> work);

class SplitFactor {
 public:
  // Columns are handed over as append(k, rows, values), the rows
  // increasing and the diagonal first, each part's columns in increasing
  // order of k; the three parts may be filled on three threads at once.
  // Entries that are exactly zero are dropped. part[k] is column k's part
  // (a column of first or second may have entries only in its own part's
  // rows and the top's: its ancestors); unknown[k] is the unknown of A that
  // column k stands for (P's row k).
  SplitFactor(std::span<const FactorPart> part, std::vector<std::int32_t> unknown);
  // Room for at most `entries` entries in each of a part's blocks: memory
  // only touched as it fills.
  void reserve(FactorPart part, std::size_t entries);
  void append(std::int32_t k, std::span<const std::int32_t> rows, std::span<const double> values);

  Eigen::Index rows() const { return static_cast<Eigen::Index>(unknown_.size()); }

  // x with A x = b, on up to two threads; the same bits for any count.
  Eigen::VectorXd solve(const Eigen::VectorXd& b, int threads) const;

 private:
  // One block of L in compressed columns, numbered within its parts.
  struct Block {
    Eigen::Index rows = 0, cols = 0;
    std::vector<int> outer{0}, inner;
    std::vector<double> values;
    void add(int row, double value) { inner.push_back(row), values.push_back(value); }
    void close_column() { outer.push_back(static_cast<int>(inner.size())), ++cols; }
    Eigen::Map<const Eigen::SparseMatrix<double>> view() const;
  };

  std::vector<FactorPart> part_;
  std::vector<std::int32_t> local_;    // a column's number within its part
  std::vector<std::int32_t> unknown_;  // the unknowns in part order: first, second, top
  Eigen::Index first_size_ = 0, second_size_ = 0;
  Block first_, second_, top_;          // the diagonal blocks
  Block first_to_top_, second_to_top_;  // the top's rows of the first and second parts' columns
};

}  // namespace vorn::host::detail
