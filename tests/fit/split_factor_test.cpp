// The Cholesky factor solved on two threads: the tree split keeps whole
// subtrees on each side and balances them, and solves match a plain
// factorisation's on any thread count.
#include "host/fit/split_factor.hpp"

#include <gtest/gtest.h>

#include <Eigen/SparseCholesky>
#include <cstring>
#include <random>
#include <vector>

namespace vorn::host::detail {
namespace {

double span_of(const std::vector<FactorPart>& part, const std::vector<double>& work) {
  double sum[3] = {0.0, 0.0, 0.0};
  for (std::size_t v = 0; v < part.size(); ++v) sum[static_cast<int>(part[v])] += work[v];
  return sum[2] + std::max(sum[0], sum[1]);
}

// Every top node's parent is top; every other node's parent is on its side
// or top: the sides hold whole subtrees and nothing depends across them.
void expect_whole_subtrees(const std::vector<std::int32_t>& parent, const std::vector<FactorPart>& part) {
  for (std::size_t v = 0; v < parent.size(); ++v) {
    if (parent[v] < 0) continue;
    const FactorPart up = part[static_cast<std::size_t>(parent[v])];
    if (part[v] == FactorPart::top) {
      EXPECT_EQ(up, FactorPart::top) << "node " << v;
    } else {
      EXPECT_TRUE(up == part[v] || up == FactorPart::top) << "node " << v;
    }
  }
}

TEST(SplitTree, KeepsSubtreesWholeAndBalancesThem) {
  // A complete binary tree below a chain of 50: the chain goes to the top,
  // the two halves below it to either side.
  const int leaves = 512, tree = 2 * leaves - 1, chain = 50;
  std::vector<std::int32_t> parent(tree + chain, -1);
  // Heap numbering reversed, so that parents come after their children.
  auto id = [&](int heap) { return tree - 1 - heap; };
  for (int heap = 1; heap < tree; ++heap) parent[static_cast<std::size_t>(id(heap))] = id((heap - 1) / 2);
  parent[static_cast<std::size_t>(id(0))] = tree;
  for (int c = tree; c + 1 < tree + chain; ++c) parent[static_cast<std::size_t>(c)] = c + 1;
  const std::vector<double> work(parent.size(), 1.0);
  const std::vector<FactorPart> part = split_tree(parent, work);
  expect_whole_subtrees(parent, part);
  EXPECT_LE(span_of(part, work), chain + 1 + leaves) << "the chain, the tree's root, and one half";

  // Random forests: the split is never worse than one thread.
  std::mt19937 rng(3);
  for (int trial = 0; trial < 20; ++trial) {
    const int n = 2000;
    std::vector<std::int32_t> p(n, -1);
    std::vector<double> w(n);
    for (int v = 0; v < n; ++v) {
      w[static_cast<std::size_t>(v)] = 1.0 + rng() % 50;
      if (v + 1 < n && rng() % 40 != 0) {
        p[static_cast<std::size_t>(v)] = v + 1 + static_cast<std::int32_t>(rng() % std::min(30u, unsigned(n - v - 1)));
      }
    }
    const std::vector<FactorPart> split = split_tree(p, w);
    expect_whole_subtrees(p, split);
    double total = 0.0;
    for (double x : w) total += x;
    EXPECT_LE(span_of(split, w), total);
  }
  EXPECT_THROW(split_tree(std::vector<std::int32_t>{0}, std::vector<double>{1.0}), std::logic_error);
}

// A 2-D grid's Laplacian made definite, with random couplings: the
// pattern of the Newton matrices.
Eigen::SparseMatrix<double> grid_matrix(int side) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> coupling(0.1, 1.0);
  std::vector<Eigen::Triplet<double>> entries;
  std::vector<double> diagonal(static_cast<std::size_t>(side * side), 1e-3);
  auto couple = [&](int a, int b) {
    const double c = coupling(rng);
    entries.emplace_back(a, b, -c), entries.emplace_back(b, a, -c);
    diagonal[static_cast<std::size_t>(a)] += c, diagonal[static_cast<std::size_t>(b)] += c;
  };
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      if (x + 1 < side) couple(y * side + x, y * side + x + 1);
      if (y + 1 < side) couple(y * side + x, (y + 1) * side + x);
      if (x + 1 < side && y + 1 < side && rng() % 2) couple(y * side + x, (y + 1) * side + x + 1);
    }
  }
  for (std::size_t i = 0; i < diagonal.size(); ++i) entries.emplace_back(int(i), int(i), diagonal[i]);
  Eigen::SparseMatrix<double> a(side * side, side * side);
  a.setFromTriplets(entries.begin(), entries.end());
  return a;
}

TEST(SplitFactor, SolvesAsTheWholeFactorOnAnyThreadCount) {
  const Eigen::SparseMatrix<double> a = grid_matrix(60);
  const Eigen::SimplicialLLT<Eigen::SparseMatrix<double>> llt(a);
  ASSERT_EQ(llt.info(), Eigen::Success);
  const Eigen::SparseMatrix<double> l = llt.matrixL();
  const Eigen::Index n = a.rows();
  // The column tree: a column's parent is its first row below the diagonal.
  std::vector<std::int32_t> parent(static_cast<std::size_t>(n), -1);
  std::vector<double> work(static_cast<std::size_t>(n));
  for (Eigen::Index k = 0; k < n; ++k) {
    work[static_cast<std::size_t>(k)] = double(l.outerIndexPtr()[k + 1] - l.outerIndexPtr()[k]);
    if (work[static_cast<std::size_t>(k)] > 1)
      parent[static_cast<std::size_t>(k)] = l.innerIndexPtr()[l.outerIndexPtr()[k] + 1];
  }
  const std::vector<FactorPart> part = split_tree(parent, work);
  EXPECT_LT(span_of(part, work), 0.7 * l.nonZeros()) << "a grid's factor splits into two sizeable halves";
  const auto& unknown = llt.permutationPinv().indices();
  SplitFactor split(part, std::vector<std::int32_t>(unknown.data(), unknown.data() + n));
  for (Eigen::Index k = 0; k < n; ++k) {
    const int begin = l.outerIndexPtr()[k], end = l.outerIndexPtr()[k + 1];
    split.append(static_cast<std::int32_t>(k), {l.innerIndexPtr() + begin, std::size_t(end - begin)},
                 {l.valuePtr() + begin, std::size_t(end - begin)});
  }
  const Eigen::VectorXd b = Eigen::VectorXd::Random(n);
  const Eigen::VectorXd one = split.solve(b, 1), two = split.solve(b, 2);
  EXPECT_EQ(0, std::memcmp(one.data(), two.data(), sizeof(double) * std::size_t(n)))
      << "the same bits on 1 and 2 threads";
  EXPECT_LT((a * two - b).norm(), 1e-10 * b.norm());
  EXPECT_LT((two - llt.solve(b)).norm(), 1e-10 * two.norm());
  EXPECT_THROW(split.solve(Eigen::VectorXd::Zero(n + 1), 2), std::logic_error);
}

TEST(SplitFactor, RefusesAnEntryThatWouldCrossBetweenTheSides) {
  const std::vector<FactorPart> part = {FactorPart::first, FactorPart::second, FactorPart::top};
  SplitFactor split(part, {0, 1, 2});
  const std::int32_t rows[] = {0, 1};
  const double values[] = {2.0, 0.5};
  EXPECT_THROW(split.append(0, rows, values), std::logic_error);
  SplitFactor twice(part, {0, 1, 2});
  twice.append(0, {rows, 1}, {values, 1});
  EXPECT_THROW(twice.append(0, {rows, 1}, {values, 1}), std::logic_error);
  SplitFactor incomplete(part, {0, 1, 2});
  EXPECT_THROW(incomplete.solve(Eigen::VectorXd::Ones(3), 1), std::logic_error);
}

}  // namespace
}  // namespace vorn::host::detail
