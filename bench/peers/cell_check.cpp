#include "cell_check.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <utility>
#include <vector>

namespace vorn::bench {

namespace {

// (neighbour, length of its longest edge) for every seed neighbour of cell i,
// sorted by neighbour.
std::vector<std::pair<std::int32_t, double>> seed_neighbours(const CellsView& v, std::size_t i) {
  std::vector<std::pair<std::int32_t, double>> out;
  const auto first = static_cast<std::size_t>(v.cell_begin[i]);
  const auto n = static_cast<std::size_t>(v.cell_begin[i + 1]) - first;
  for (std::size_t k = 0; k < n; ++k) {
    if (v.neighbours[first + k] < 0) continue;
    const std::size_t j = first + (k + 1 == n ? 0 : k + 1);
    const double length = std::hypot(v.xs[j] - v.xs[first + k], v.ys[j] - v.ys[first + k]);
    out.emplace_back(v.neighbours[first + k], length);
  }
  std::sort(out.begin(), out.end());
  // One entry per neighbour, with its longest edge.
  std::vector<std::pair<std::int32_t, double>> merged;
  for (const auto& e : out) {
    if (!merged.empty() && merged.back().first == e.first) {
      merged.back().second = std::max(merged.back().second, e.second);
    } else {
      merged.push_back(e);
    }
  }
  return merged;
}

// Neighbours of `from` missing in `to`: degenerate ones are counted, the
// others returned.
std::vector<std::int32_t> missing_neighbours(const std::vector<std::pair<std::int32_t, double>>& from,
                                             const std::vector<std::pair<std::int32_t, double>>& to, double edge,
                                             long long& degenerate) {
  std::vector<std::int32_t> missing;
  for (const auto& [seed, length] : from) {
    const bool found = std::binary_search(to.begin(), to.end(), std::pair<std::int32_t, double>{seed, 0.0},
                                          [](const auto& x, const auto& y) { return x.first < y.first; });
    if (found) continue;
    if (length <= edge) {
      ++degenerate;
    } else {
      missing.push_back(seed);
    }
  }
  return missing;
}

bool areas_agree(double a, double b, const CheckTolerances& t, CheckReport& report) {
  const double scale = std::max({std::abs(a), std::abs(b), t.area_floor});
  const double difference = scale == 0.0 ? 0.0 : std::abs(a - b) / scale;
  report.max_area_difference = std::max(report.max_area_difference, difference);
  return difference <= t.area;
}

void note_first(CheckReport& report, std::size_t i, const std::string& what) {
  if (!report.first_mismatch.empty()) return;
  std::ostringstream text;
  text << "cell " << i << ": " << what;
  report.first_mismatch = text.str();
}

void compare_cell(const CellsView& a, const CellsView& b, std::size_t i, const CheckTolerances& t,
                  CheckReport& report) {
  const bool empty_a = a.cell_begin[i + 1] == a.cell_begin[i];
  const bool empty_b = b.cell_begin[i + 1] == b.cell_begin[i];
  if (empty_a && empty_b) {
    ++report.empty_cells;
    return;
  }
  if (!areas_agree(empty_a ? 0.0 : a.areas[i], empty_b ? 0.0 : b.areas[i], t, report)) {
    ++report.area_mismatches;
    std::ostringstream what;
    what.precision(17);
    what << "areas " << a.areas[i] << (empty_a ? " (empty)" : "") << " and " << b.areas[i] << (empty_b ? " (empty)" : "");
    note_first(report, i, what.str());
    return;
  }
  if (empty_a != empty_b) {
    ++report.degenerate_empty;
    return;
  }
  const auto na = seed_neighbours(a, i), nb = seed_neighbours(b, i);
  const auto only_a = missing_neighbours(na, nb, t.edge, report.degenerate_edges);
  const auto only_b = missing_neighbours(nb, na, t.edge, report.degenerate_edges);
  if (only_a.empty() && only_b.empty()) return;
  ++report.neighbour_mismatches;
  std::ostringstream what;
  what << "neighbour " << (only_a.empty() ? only_b[0] : only_a[0]) << " only on the "
       << (only_a.empty() ? "second" : "first") << " side";
  note_first(report, i, what.str());
}

}  // namespace

CheckReport compare_cells(const CellsView& a, const CellsView& b, const CheckTolerances& tolerances) {
  CheckReport report;
  report.cells = static_cast<long long>(a.areas.size());
  if (b.areas.size() != a.areas.size()) {
    report.area_mismatches = 1;
    report.first_mismatch = "different cell counts";
    return report;
  }
  for (std::size_t i = 0; i < a.areas.size(); ++i) compare_cell(a, b, i, tolerances, report);
  return report;
}

}  // namespace vorn::bench
