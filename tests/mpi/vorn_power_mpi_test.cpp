// vorn-power-mpi run by mpirun with several ranks: the rank files together
// hold the single-process cells in the file's numbering, and a bad row on
// one rank, a refused option or an unwritable output stops every rank
// with one message and no output.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "seed_sets.hpp"
#include "tool_files.hpp"

namespace vorn {
namespace {

struct Outcome {
  int status;
  std::string out, err;
};

// Runs `program` (with its launcher) and `args` in `dir`, capturing its output streams.
Outcome run(const std::string& program, const test::ScratchDir& dir, const std::string& args) {
  const std::string command = "cd '" + dir.path().string() + "' && " + program + " " + args + " > .stdout 2> .stderr";
  const int raw = std::system(command.c_str());
  Outcome r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, test::read_text(dir / ".stdout"), test::read_text(dir / ".stderr")};
  std::filesystem::remove(dir / ".stdout");
  std::filesystem::remove(dir / ".stderr");
  return r;
}

Outcome power_mpi(const test::ScratchDir& dir, int ranks, const std::string& args) {
  return run(std::string(VORN_MPIEXEC) + " -n " + std::to_string(ranks) + " " + VORN_MPIEXEC_FLAGS + " '" +
                 VORN_POWER_MPI_PROGRAM + "'",
             dir, args);
}

void write_seeds(const std::filesystem::path& path, const test::SeedSet& s) {
  std::vector<double> rows;
  for (std::size_t i = 0; i < s.weights.size(); ++i) {
    rows.insert(rows.end(), {s.positions[2 * i], s.positions[2 * i + 1], s.weights[i]});
  }
  test::write_npy(path, {static_cast<long long>(s.weights.size()), 3}, rows);
}

// Cell lines by seed number, the header left out.
std::map<long long, std::string> cell_lines(const std::vector<std::filesystem::path>& files) {
  std::map<long long, std::string> cells;
  for (const auto& f : files) {
    std::istringstream in(test::read_text(f));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "seed,x,y,weight,area,centroid_x,centroid_y,empty,unbounded,vertices,neighbours") << f;
    while (std::getline(in, line)) cells[std::stoll(line.substr(0, line.find(',')))] = line;
  }
  return cells;
}

// The space-separated words of `text`, as a set with repeats.
std::multiset<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::multiset<std::string> out;
  for (std::string w; in >> w;) out.insert(w);
  return out;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The comma-separated fields of a cell line, empty ones included.
std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out(1);
  for (const char c : line) {
    if (c == ',') {
      out.emplace_back();
    } else {
      out.back().push_back(c);
    }
  }
  return out;
}

TEST(VornPowerMpi, RankFilesTogetherHoldTheSingleProcessCells) {
  test::ScratchDir dir;
  write_seeds(dir / "seeds.npy", test::uniform_set("uniform", 1000, 0.5, 21));
  const Outcome single =
      run(std::string("'") + VORN_POWER_PROGRAM + "'", dir, "seeds.npy --box 0,0,1,1 --output one.csv");
  ASSERT_EQ(single.status, 0) << single.err;
  const Outcome r = power_mpi(dir, 3, "seeds.npy --box 0,0,1,1 --output cells.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "seeds        1000 (seeds.npy)")) << r.out;
  EXPECT_TRUE(contains(r.out, "ranks        3")) << r.out;
  EXPECT_TRUE(contains(r.out, "wrote        cells.0.csv to cells.2.csv")) << r.out;
  const auto expected = cell_lines({dir / "one.csv"});
  const auto got = cell_lines({dir / "cells.0.csv", dir / "cells.1.csv", dir / "cells.2.csv"});
  ASSERT_EQ(got.size(), expected.size());
  for (const auto& [seed, line] : expected) {
    const auto a = fields(line), b = fields(got.at(seed));
    ASSERT_EQ(a.size(), 11u) << "seed " << seed;
    ASSERT_EQ(b.size(), 11u) << "seed " << seed;
    for (std::size_t k : {0, 1, 2, 3, 7, 8}) EXPECT_EQ(a[k], b[k]) << "seed " << seed << ", field " << k;
    EXPECT_NEAR(std::stod(a[4]), std::stod(b[4]), 1e-12 * std::max(std::stod(a[4]), 1e-3)) << "seed " << seed;
    EXPECT_EQ(words(a[10]), words(b[10])) << "seed " << seed;
  }
}

// With four ranks and three seeds, one rank owns nothing: its file holds
// the header only.
TEST(VornPowerMpi, ARankWithoutSeedsWritesAHeaderOnly) {
  test::ScratchDir dir;
  write_seeds(dir / "three.npy", test::uniform_set("three", 3, 0.0, 5));
  const Outcome r = power_mpi(dir, 4, "three.npy --output cells.json");
  ASSERT_EQ(r.status, 0) << r.err;
  int empty_files = 0, cells = 0;
  for (int rank = 0; rank < 4; ++rank) {
    const std::string text = test::read_text(dir / ("cells." + std::to_string(rank) + ".json"));
    empty_files += contains(text, "\"cells\":[\n\n]}");
    for (std::size_t at = text.find("{\"seed\":"); at != std::string::npos; at = text.find("{\"seed\":", at + 1))
      ++cells;
  }
  EXPECT_GE(empty_files, 1);
  EXPECT_EQ(cells, 3);
}

// Rank 2 of 3 reads the bad row: one message, status 2, no file at all.
TEST(VornPowerMpi, ABadRowOnOneRankStopsAllWithOneMessageAndNoOutput) {
  test::ScratchDir dir;
  test::SeedSet s = test::uniform_set("bad", 300, 0.0, 8);
  s.weights[250] = std::nan("");
  write_seeds(dir / "bad.npy", s);
  const Outcome r = power_mpi(dir, 3, "bad.npy --output cells.csv");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "vorn-power-mpi: error: bad.npy: row 250, column 2 (weight) is not a finite number\n");
  EXPECT_EQ(dir.listing(), std::vector<std::string>{"bad.npy"});
}

TEST(VornPowerMpi, RefusesWhatItCannotDoWithOneMessage) {
  test::ScratchDir dir;
  write_seeds(dir / "s.npy", test::uniform_set("s", 50, 0.0, 2));
  test::write_text(dir / "s.csv", "0,0\n1,1\n");
  const struct {
    std::string args, message;
  } cases[] = {
      {"s.npy --periodic --box 0,0,1,1", "--periodic is not supported by vorn-power-mpi; use vorn-power"},
      {"s.csv", "s.csv: the seeds must be a .npy file"},
      {"s.npy --output -", "--output -: the ranks write a file each"},
      {"s.npy --output missing/cells.csv", "missing/cells"},
      {"s.npy --box 0,0,1", "--box"},
  };
  for (const auto& c : cases) {
    const Outcome r = power_mpi(dir, 2, c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_TRUE(r.err.starts_with("vorn-power-mpi: error: ")) << c.args << "\n" << r.err;
    EXPECT_TRUE(contains(r.err, c.message)) << c.args << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line:\n" << r.err;
  }
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"s.csv", "s.npy"}));
}

}  // namespace
}  // namespace vorn
