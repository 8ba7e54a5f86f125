#include "split_factor.hpp"

#include <algorithm>
#include <limits>
#include <queue>
#include <stdexcept>
#include <utility>

#include "../huge_pages.hpp"
#include "../worker_threads.hpp"

namespace vorn::host::detail {

std::vector<FactorPart> split_tree(std::span<const std::int32_t> parent, std::span<const double> work) {
  const std::size_t n = parent.size();
  std::vector<double> subtree(work.begin(), work.end());
  std::vector<std::int32_t> child_begin(n + 1, 0), children(n);
  for (std::size_t v = 0; v < n; ++v) {
    if (parent[v] < 0) continue;
    if (static_cast<std::size_t>(parent[v]) <= v || static_cast<std::size_t>(parent[v]) >= n) {
      throw std::logic_error("an elimination tree's parent must come after its child");
    }
    subtree[static_cast<std::size_t>(parent[v])] += subtree[v];
    ++child_begin[static_cast<std::size_t>(parent[v]) + 1];
  }
  for (std::size_t v = 0; v < n; ++v) child_begin[v + 1] += child_begin[v];
  {
    std::vector<std::int32_t> at(child_begin.begin(), child_begin.end() - 1);
    for (std::size_t v = 0; v < n; ++v) {
      if (parent[v] < 0) continue;
      children[static_cast<std::size_t>(at[static_cast<std::size_t>(parent[v])]++)] = static_cast<std::int32_t>(v);
    }
  }

  // Taking subtrees off the top, the largest first: after each step the
  // solve takes at least top + max(largest subtree, half the rest). The
  // best step by that bound is replayed and its subtrees dealt out, the
  // largest first, each to the lighter side.
  using Entry = std::pair<double, std::int32_t>;
  auto walk = [&](std::size_t steps, std::vector<FactorPart>* part, std::priority_queue<Entry>* out) {
    std::priority_queue<Entry> frontier;
    double rest = 0.0, top = 0.0, best = std::numeric_limits<double>::infinity();
    std::size_t best_step = 0;
    for (std::size_t v = 0; v < n; ++v) {
      if (parent[v] < 0) frontier.emplace(subtree[v], static_cast<std::int32_t>(v)), rest += subtree[v];
    }
    for (std::size_t step = 0;; ++step) {
      const double bound = top + std::max(frontier.empty() ? 0.0 : frontier.top().first, 0.5 * rest);
      if (bound < best) best = bound, best_step = step;
      if (step == steps || frontier.empty() || top >= best) break;
      const auto [weight, v] = frontier.top();
      frontier.pop();
      const auto u = static_cast<std::size_t>(v);
      if (part) (*part)[u] = FactorPart::top;
      top += work[u], rest -= weight;
      for (std::int32_t c = child_begin[u]; c < child_begin[u + 1]; ++c) {
        const auto child = static_cast<std::size_t>(children[static_cast<std::size_t>(c)]);
        frontier.emplace(subtree[child], static_cast<std::int32_t>(child)), rest += subtree[child];
      }
    }
    if (out) *out = std::move(frontier);
    return best_step;
  };
  const std::size_t steps = walk(n, nullptr, nullptr);
  // `second` marks "not yet dealt" until the subtrees are dealt out below.
  std::vector<FactorPart> part(n, FactorPart::second);
  std::priority_queue<Entry> frontier;
  walk(steps, &part, &frontier);
  std::vector<std::uint8_t> side(n, 2);  // 0 first, 1 second, 2 not a subtree's root
  double load[2] = {0.0, 0.0};
  for (; !frontier.empty(); frontier.pop()) {
    const int lighter = load[1] < load[0] ? 1 : 0;
    load[lighter] += frontier.top().first;
    side[static_cast<std::size_t>(frontier.top().second)] = static_cast<std::uint8_t>(lighter);
  }
  for (std::size_t v = n; v-- > 0;) {
    if (part[v] == FactorPart::top) continue;
    if (side[v] != 2) {
      part[v] = side[v] == 0 ? FactorPart::first : FactorPart::second;
    } else {
      part[v] = part[static_cast<std::size_t>(parent[v])];  // a parent is never top here: its children were dealt
    }
  }
  return part;
}

Eigen::Map<const Eigen::SparseMatrix<double>> SplitFactor::Block::view() const {
  return {rows, cols, static_cast<Eigen::Index>(values.size()), outer.data(), inner.data(), values.data()};
}

SplitFactor::SplitFactor(std::span<const FactorPart> part, std::vector<std::int32_t> unknown)
    : part_(part.begin(), part.end()), local_(part.size()), unknown_(part.size()) {
  if (unknown.size() != part.size()) throw std::logic_error("a split factor needs one unknown per column");
  Eigen::Index count[3] = {0, 0, 0};
  for (std::size_t k = 0; k < part_.size(); ++k)
    local_[k] = static_cast<std::int32_t>(count[static_cast<int>(part_[k])]++);
  first_size_ = count[0], second_size_ = count[1];
  const Eigen::Index offset[3] = {0, first_size_, first_size_ + second_size_};
  for (std::size_t k = 0; k < part_.size(); ++k) {
    unknown_[static_cast<std::size_t>(offset[static_cast<int>(part_[k])] + local_[k])] = unknown[k];
  }
  first_.rows = count[0], second_.rows = count[1], top_.rows = count[2];
  first_to_top_.rows = second_to_top_.rows = count[2];
}

void SplitFactor::reserve(FactorPart part, std::size_t entries) {
  Block& diagonal = part == FactorPart::first ? first_ : part == FactorPart::second ? second_ : top_;
  reserve_on_huge_pages(diagonal.outer, static_cast<std::size_t>(diagonal.rows) + 1);
  reserve_on_huge_pages(diagonal.inner, entries), reserve_on_huge_pages(diagonal.values, entries);
  if (part == FactorPart::top) return;
  Block& below = part == FactorPart::first ? first_to_top_ : second_to_top_;
  reserve_on_huge_pages(below.outer, static_cast<std::size_t>(diagonal.rows) + 1);
  reserve_on_huge_pages(below.inner, entries), reserve_on_huge_pages(below.values, entries);
}

void SplitFactor::append(std::int32_t k, std::span<const std::int32_t> rows, std::span<const double> values) {
  const auto column = static_cast<std::size_t>(k);
  const FactorPart own = part_[column];
  Block& diagonal = own == FactorPart::first ? first_ : own == FactorPart::second ? second_ : top_;
  if (diagonal.cols != local_[column]) throw std::logic_error("a split factor's columns must come in order, each once");
  Block* below = own == FactorPart::first ? &first_to_top_ : own == FactorPart::second ? &second_to_top_ : nullptr;
  for (std::size_t e = 0; e < rows.size(); ++e) {
    if (values[e] == 0.0) continue;  // a relaxed supernode's padding, or cancellation: nothing to apply
    const auto row = static_cast<std::size_t>(rows[e]);
    if (part_[row] == own) {
      diagonal.add(local_[row], values[e]);
    } else if (part_[row] == FactorPart::top && below) {
      below->add(local_[row], values[e]);
    } else {
      throw std::logic_error("a factor column reaches beyond its subtree's ancestors");
    }
  }
  diagonal.close_column();
  if (below) below->close_column();
}

Eigen::VectorXd SplitFactor::solve(const Eigen::VectorXd& b, int threads) const {
  const Eigen::Index n = rows();
  if (b.size() != n || first_.cols != first_.rows || second_.cols != second_.rows || top_.cols != top_.rows) {
    throw std::logic_error("a split factor solved before all its columns were given, or with a wrong size");
  }
  const Eigen::Index top_begin = first_size_ + second_size_, top_size = n - top_begin;
  Eigen::VectorXd t(n), x(n);
  auto first = t.segment(0, first_size_);
  auto second = t.segment(first_size_, second_size_);
  auto top = t.segment(top_begin, top_size);
  // Each side also takes its share of the permutations, random reads and
  // writes over all of b and x.
  const auto gather = [&](Eigen::Index from, Eigen::Index to) {
    for (Eigen::Index q = from; q < to; ++q) t[q] = b[unknown_[static_cast<std::size_t>(q)]];
  };
  const auto scatter = [&](Eigen::Index from, Eigen::Index to) {
    for (Eigen::Index q = from; q < to; ++q) x[unknown_[static_cast<std::size_t>(q)]] = t[q];
  };
  const auto on_both = [&](const auto& work) { for_each_index(2, std::min(threads, 2), work); };

  // L y = t: the two sides' own blocks and what they add to the top, then
  // the top.
  Eigen::VectorXd from_first(top_size), from_second(top_size);
  on_both([&](std::size_t side) {
    if (side == 0) {
      gather(0, first_size_);
      first_.view().triangularView<Eigen::Lower>().solveInPlace(first);
      from_first.noalias() = first_to_top_.view() * first;
    } else {
      gather(first_size_, n);
      second_.view().triangularView<Eigen::Lower>().solveInPlace(second);
      from_second.noalias() = second_to_top_.view() * second;
    }
  });
  top -= from_first;
  top -= from_second;
  top_.view().triangularView<Eigen::Lower>().solveInPlace(top);
  // Lᵀ x = y: the top first, then each side with what the top takes from it.
  top_.view().transpose().triangularView<Eigen::Upper>().solveInPlace(top);
  on_both([&](std::size_t side) {
    if (side == 0) {
      first.noalias() -= first_to_top_.view().transpose() * top;
      first_.view().transpose().triangularView<Eigen::Upper>().solveInPlace(first);
      scatter(0, first_size_);
    } else {
      second.noalias() -= second_to_top_.view().transpose() * top;
      second_.view().transpose().triangularView<Eigen::Upper>().solveInPlace(second);
      scatter(first_size_, n);
    }
  });
  return x;
}

}  // namespace vorn::host::detail
