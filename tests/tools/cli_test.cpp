// vorn-power and vorn-mass end to end, run as programs: outputs for known
// inputs, CSV and .npy agreeing, every error path with its message and exit
// status, and no partial output file after a failure.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "support/sanitized_build.hpp"
#include "tool_files.hpp"

namespace vorn {
namespace {

struct Outcome {
  int status;
  std::string out, err;
};

// Runs `program` with `args` in `dir`, with the environment assignments
// `env` ("NAME=value ..."), capturing its output streams.
Outcome run(const char* program, const test::ScratchDir& dir, const std::string& args, const std::string& env = "") {
  const std::string command =
      "cd '" + dir.path().string() + "' && " + env + " '" + program + "' " + args + " > .stdout 2> .stderr";
  const int raw = std::system(command.c_str());
  Outcome r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, test::read_text(dir / ".stdout"), test::read_text(dir / ".stderr")};
  std::filesystem::remove(dir / ".stdout");
  std::filesystem::remove(dir / ".stderr");
  return r;
}

Outcome power(const test::ScratchDir& dir, const std::string& args, const std::string& env = "") {
  return run(VORN_POWER_PROGRAM, dir, args, env);
}
Outcome mass(const test::ScratchDir& dir, const std::string& args) { return run(VORN_MASS_PROGRAM, dir, args); }

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  for (std::size_t begin = 0; begin < text.size();) {
    const std::size_t end = text.find('\n', begin);
    out.push_back(text.substr(begin, end - begin));
    begin = end == std::string::npos ? text.size() : end + 1;
  }
  return out;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(VornPower, TwoSeedsSplitTheirBoxAsComputedByHand) {
  test::ScratchDir dir;
  // Bisector 2 (b - a)·p = |b|^2 - |a|^2 - w_b + w_a with a = (0, 0),
  // b = (2, 0), w_a = 1, w_b = 0: 4x = 4 + 1, so x = 1.25 in the box [-1, 3] x [-1, 1].
  test::write_text(dir / "s.csv", "x,y,weight\n0,0,1\n2,0,0\n");
  const Outcome r = power(dir, "s.csv --box -1,-1,3,1 --output cells.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "seeds        2 (s.csv)")) << r.out;
  EXPECT_TRUE(contains(r.out, "area         cells 8, domain 8")) << r.out;
  EXPECT_EQ(lines(test::read_text(dir / "cells.csv")),
            (std::vector<std::string>{"seed,x,y,weight,area,centroid_x,centroid_y,empty,unbounded,vertices,neighbours",
                                      "0,0,0,1,4.5,0.125,0,0,0,-1 1 -1 -1 1.25 -1 1.25 1,box box 1 box",
                                      "1,2,0,0,3.5,2.125,0,0,0,3 -1 3 1 1.25 1 1.25 -1,box box 0 box"}));
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"cells.csv", "s.csv"}));
}

// A cell file keeps each seed's x, y and weight: it reads back as the seeds.
TEST(VornPower, CellFileReadsBackAsItsSeeds) {
  test::ScratchDir dir;
  test::write_text(dir / "s.csv", "0.1,0.2,0.001\n0.7,0.4\n0.3,0.9,-0.002\n0.8,0.8\n");
  ASSERT_EQ(power(dir, "s.csv --box 0,0,1,1 --output first.csv").status, 0);
  const Outcome again = power(dir, "first.csv --box 0,0,1,1 --output second.csv");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(test::read_text(dir / "second.csv"), test::read_text(dir / "first.csv"));
}

TEST(VornPower, CsvAndNpyInputsGiveTheSameCells) {
  test::ScratchDir dir;
  std::string csv;
  std::vector<double> table;
  for (int i = 0; i < 300; ++i) {
    const double x = (i * 37 % 101) / 101.0, y = (i * 59 % 103) / 103.0, w = (i % 7) * 1e-4;
    csv += std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "\n";
    table.insert(table.end(), {std::stod(std::to_string(x)), std::stod(std::to_string(y)), std::stod(std::to_string(w))});
  }
  test::write_text(dir / "s.csv", csv);
  test::write_npy(dir / "s.npy", {300, 3}, table);
  ASSERT_EQ(power(dir, "s.csv --box 0,0,1,1 --output a.json").status, 0);
  ASSERT_EQ(power(dir, "s.npy --box 0,0,1,1 --output b.json").status, 0);
  const std::string a = test::read_text(dir / "a.json");
  EXPECT_TRUE(contains(a, "\"seeds\":300,\"domain\":[0,0,1,1],\"precision\":\"double\""));
  EXPECT_EQ(a, test::read_text(dir / "b.json"));
}

// "-" reads the seeds from standard input (CSV, or .npy told by its magic)
// and writes one output to standard output; the summary then moves to
// standard error so that the output stays clean for a pipe.
TEST(VornPower, StandardInputAndOutputCarryWhatFilesCarry) {
  test::ScratchDir dir;
  std::string csv;
  std::vector<double> table;
  for (int i = 0; i < 50; ++i) {
    const std::string x = std::to_string((i * 37 % 101) / 101.0), y = std::to_string((i * 59 % 103) / 103.0),
                      w = std::to_string((i % 5) * 1e-3);
    csv += x + "," + y + "," + w + "\n";
    table.insert(table.end(), {std::stod(x), std::stod(y), std::stod(w)});
  }
  test::write_text(dir / "s.csv", csv);
  test::write_npy(dir / "s.npy", {50, 3}, table);
  ASSERT_EQ(power(dir, "s.csv --box 0,0,1,1 --output a.csv --svg a.svg").status, 0);
  ASSERT_EQ(power(dir, "s.csv --box 0,0,1,1 --output a.json").status, 0);

  const Outcome csv_out = power(dir, "- --box 0,0,1,1 --output - < s.csv");
  ASSERT_EQ(csv_out.status, 0) << csv_out.err;
  EXPECT_EQ(csv_out.out, test::read_text(dir / "a.csv"));
  EXPECT_TRUE(contains(csv_out.err, "seeds        50 (standard input)")) << csv_out.err;
  EXPECT_TRUE(contains(csv_out.err, "wrote        the cells to the standard output")) << csv_out.err;

  const Outcome json_out = power(dir, "- --box 0,0,1,1 -o - --format json < s.npy");
  ASSERT_EQ(json_out.status, 0) << json_out.err;
  EXPECT_EQ(json_out.out, test::read_text(dir / "a.json"));

  const Outcome picture = power(dir, "--box 0,0,1,1 --svg - s.csv");
  ASSERT_EQ(picture.status, 0) << picture.err;
  EXPECT_EQ(picture.out, test::read_text(dir / "a.svg"));
  EXPECT_TRUE(contains(picture.err, "wrote        the picture to the standard output")) << picture.err;

  // A file output beside the standard output still appears whole.
  const Outcome both = power(dir, "- --box 0,0,1,1 --output - --svg b.svg < s.csv");
  ASSERT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(test::read_text(dir / "b.svg"), test::read_text(dir / "a.svg"));
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"a.csv", "a.json", "a.svg", "b.svg", "s.csv", "s.npy"}));
}

TEST(VornPower, UnboundedDiagramMarksHullCellsAndInfiniteEdges) {
  test::ScratchDir dir;
  // A centre seed surrounded by four: only the centre's cell, the square
  // |x|, |y| <= 0.5, is bounded.
  test::write_text(dir / "s.csv", "0,0\n1,0\n0,1\n-1,0\n0,-1\n");
  const Outcome r = power(dir, "s.csv --unbounded --output c.json --svg p.svg");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string json = test::read_text(dir / "c.json");
  EXPECT_TRUE(contains(json, "\"domain\":null,\"precision\":\"double\""));
  // The corners come from cuts of a box around the seeds, so they are 0.5 to
  // within a few units in the last place, not exactly.
  const std::string centre = json.substr(json.find("{\"seed\":0,"), json.find("{\"seed\":1,") - json.find("{\"seed\":0,"));
  const std::size_t area_at = centre.find("\"area\":") + 7;
  EXPECT_NEAR(std::stod(centre.substr(area_at, centre.find(',', area_at) - area_at)), 1.0, 1e-15) << centre;
  EXPECT_TRUE(contains(centre, "\"empty\":false,\"unbounded\":false,\"vertices\":[[")) << centre;
  const std::size_t list_at = centre.find("\"neighbours\":[") + 14;
  const std::string list = centre.substr(list_at, centre.find(']', list_at) - list_at);
  EXPECT_EQ(list.size(), 7u) << centre;  // four neighbours, counter-clockwise from any of them
  EXPECT_TRUE(contains("1,2,3,4,1,2,3,4", list)) << centre;
  EXPECT_TRUE(contains(json, "{\"seed\":1,\"x\":1,\"y\":0,\"weight\":0,\"area\":null,\"centroid\":null,"
                             "\"empty\":false,\"unbounded\":true"));
  EXPECT_TRUE(contains(json, "\"inf\""));
  EXPECT_TRUE(contains(r.out, " in 1 bounded cell; 4 cells unbounded")) << r.out;
  EXPECT_TRUE(contains(test::read_text(dir / "p.svg"), "no empty cells"));
}

TEST(VornPower, HeavyNeighboursAndDuplicatesLeaveEmptyCellsMarkedInThePicture) {
  test::ScratchDir dir;
  // Seed 0's half-plane against heavy seed 1 is x <= -1.475: empty. Seeds
  // 2 and 3 coincide with equal weights, so 2 (the lower index) owns the
  // spot and 3 is empty.
  test::write_text(dir / "s.csv", "0.5,0.5,0\n0.55,0.5,0.2\n0.1,0.1,0\n0.1,0.1,0\n");
  const Outcome r = power(dir, "s.csv --box 0,0,1,1 --output c.csv --svg p.svg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "empty cells  2")) << r.out;
  const auto rows = lines(test::read_text(dir / "c.csv"));
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[1], "0,0.5,0.5,0,0,,,1,0,,");
  EXPECT_EQ(rows[4], "3,0.1,0.1,0,0,,,1,0,,");
  for (const auto& row : {rows[2], rows[3]}) {
    const std::string neighbours = " " + row.substr(row.rfind(',') + 1) + " ";
    EXPECT_FALSE(contains(neighbours, " 0 ")) << row;  // empty cells are nobody's neighbours
    EXPECT_FALSE(contains(neighbours, " 3 ")) << row;
  }
  const std::string svg = test::read_text(dir / "p.svg");
  EXPECT_TRUE(contains(svg, "Power diagram of 4 seeds: 2 empty cells")) << svg;
  const std::size_t red = svg.find("<g fill=\"#d62728\">");
  ASSERT_NE(red, std::string::npos) << svg;
  const std::string marks = svg.substr(red, svg.find("</g>", red) - red);
  EXPECT_EQ(std::count(marks.begin(), marks.end(), '<') - 1, 2) << marks;  // a red dot per empty cell
}

// The picture is a figure whatever the diagram: its shape follows the
// domain's, its legend what the colours show, and a large diagram gives a
// window of it (named in the caption) rather than a file of every cell.
TEST(VornPower, PictureFollowsTheDomainAndStaysSmallForLargeDiagrams) {
  test::ScratchDir dir;
  const auto dimension = [](const std::string& svg, const std::string& name) {
    const std::size_t at = svg.find(name + "=\"") + name.size() + 2;
    return std::stod(svg.substr(at, svg.find('"', at) - at));
  };
  test::write_text(dir / "tall.csv", "0.5,1,0.01\n0.5,5,0\n0.2,9,0.02\n");
  ASSERT_EQ(power(dir, "tall.csv --box 0,0,1,10 --svg tall.svg --color-by weight").status, 0);
  const std::string tall = test::read_text(dir / "tall.svg");
  EXPECT_GT(dimension(tall, "height"), 1.3 * dimension(tall, "width"));
  EXPECT_TRUE(contains(tall, ">seed weight</text>")) << tall;
  EXPECT_TRUE(contains(tall, "dashed circles: radius √weight")) << tall;

  // Far from the origin, the ticks count from a round value the axis names.
  test::write_text(dir / "far.csv",
                   "1000000.0001,2000000.0001\n1000000.0009,2000000.0008\n1000000.0004,2000000.0005\n");
  ASSERT_EQ(power(dir, "far.csv --svg far.svg").status, 0);
  const std::string far = test::read_text(dir / "far.svg");
  EXPECT_TRUE(contains(far, ">x − 1e+06</text>") && contains(far, ">y − 2e+06</text>")) << far;

  const Outcome big = power(dir, "--seeds 100000 --svg big.svg");
  ASSERT_EQ(big.status, 0) << big.err;
  const std::string svg = test::read_text(dir / "big.svg");
  EXPECT_TRUE(contains(svg, ">cell area</text>"));
  EXPECT_TRUE(contains(svg, "showing the window [")) << svg.substr(svg.size() - 400);
  EXPECT_LT(svg.size(), 4u << 20);
}

// The picture read back: a polygon per non-empty cell, every text inside the
// image, and a legend whose range lies within the cells' areas.
TEST(VornPower, PictureHoldsEveryCellAndItsTextsFit) {
  test::ScratchDir dir;
  ASSERT_EQ(power(dir, "--seeds 300 --svg p.svg --output c.csv").status, 0);
  const std::string svg = test::read_text(dir / "p.svg");
  const auto number_after = [&](std::size_t at, const std::string& name) {
    const std::size_t begin = svg.find(name + "=\"", at) + name.size() + 2;
    return std::stod(svg.substr(begin, svg.find('"', begin) - begin));
  };
  const double width = number_after(0, "width"), height = number_after(0, "height");

  std::vector<double> areas;
  for (const std::string& row : lines(test::read_text(dir / "c.csv"))) {
    if (row.empty() || row.starts_with("seed,")) continue;
    std::vector<std::string> fields;
    for (std::size_t begin = 0; fields.size() < 8; begin = row.find(',', begin) + 1) {
      fields.push_back(row.substr(begin, row.find(',', begin) - begin));
    }
    if (fields[7] == "0") areas.push_back(std::stod(fields[4]));
  }
  std::size_t polygons = 0;
  for (std::size_t at = svg.find("<polygon"); at != std::string::npos; at = svg.find("<polygon", at + 1)) ++polygons;
  EXPECT_EQ(polygons, areas.size());

  // The legend's labels are the texts right of its colour bar.
  const double bar_x = number_after(svg.rfind("<rect", svg.find("fill=\"url(#scale)\"")), "x");
  std::vector<double> legend;
  for (std::size_t at = svg.find("<text"); at != std::string::npos; at = svg.find("<text", at + 1)) {
    EXPECT_GE(number_after(at, "x"), 0.0);
    EXPECT_LE(number_after(at, "x"), width);
    EXPECT_GT(number_after(at, "y"), 0.0);
    EXPECT_LE(number_after(at, "y"), height) << svg.substr(at, 120);
    if (number_after(at, "x") > bar_x) {
      const std::size_t text = svg.find('>', at) + 1;
      legend.push_back(std::stod(svg.substr(text, svg.find('<', text) - text)));
    }
  }
  ASSERT_EQ(legend.size(), 2u) << "the legend's two end labels";
  const auto [smallest, largest] = std::minmax_element(areas.begin(), areas.end());
  EXPECT_LT(legend[1], legend[0]);
  EXPECT_GE(legend[1], *smallest * (1 - 1e-3));
  EXPECT_LE(legend[0], *largest * (1 + 1e-3));
}

// The summary speaks the options' words, counts in the singular where it
// should, shows only the phases that happened, and says when a seed file
// gave nothing to write.
TEST(VornPower, SummaryReportsWhatHappenedInPlainWords) {
  test::ScratchDir dir;
  test::write_text(dir / "s.csv", "0.25,0.5\n0.75,0.5\n3,3\n");
  const Outcome file = power(dir, "s.csv --box 0,0,1,1 --float --threads 1");
  ASSERT_EQ(file.status, 0) << file.err;
  EXPECT_TRUE(contains(file.out, "cells        float, 1 thread, leaf size 16")) << file.out;
  EXPECT_TRUE(contains(file.out, "outside      1 seed outside the box;")) << file.out;
  EXPECT_TRUE(contains(file.out, "time         read ")) << file.out;
  EXPECT_FALSE(contains(file.out, ", write ")) << file.out;
  EXPECT_TRUE(contains(file.out, "hint         nothing was written")) << file.out;

  const Outcome generated = power(dir, "--seeds 50 --no-svg --threads 2");
  ASSERT_EQ(generated.status, 0) << generated.err;
  EXPECT_TRUE(contains(generated.out, "cells        double, 2 threads")) << generated.out;
  EXPECT_TRUE(contains(generated.out, "time         tree ")) << generated.out;
  EXPECT_FALSE(contains(generated.out, "outside")) << generated.out;
  EXPECT_FALSE(contains(generated.out, "hint")) << generated.out;

  const Outcome plane = power(dir, "s.csv --unbounded --output c.json");
  ASSERT_EQ(plane.status, 0) << plane.err;
  EXPECT_TRUE(contains(plane.out, "domain       the whole plane")) << plane.out;
  EXPECT_TRUE(contains(plane.out, "in 0 bounded cells; 3 cells unbounded")) << plane.out;
  EXPECT_TRUE(contains(plane.out, ", write ")) << plane.out;
}

TEST(VornTools, VersionNamesTheReleaseAndTheBuildsAndDoesNothingElse) {
  test::ScratchDir dir;
  const Outcome p = power(dir, "--version --threads 0");  // nothing after --version is read
  ASSERT_EQ(p.status, 0) << p.err;
  EXPECT_TRUE(p.out.starts_with("vorn-power " VORN_VERSION "\nbuild        ")) << p.out;
  EXPECT_TRUE(contains(p.out, "cell engine ")) << p.out;
  const Outcome m = mass(dir, "--version");
  ASSERT_EQ(m.status, 0) << m.err;
  EXPECT_TRUE(m.out.starts_with("vorn-mass " VORN_VERSION "\nbuild        ")) << m.out;
  EXPECT_EQ(dir.listing(), std::vector<std::string>{});
}

TEST(VornPower, DefaultRunWritesThePictureOfGeneratedSeeds) {
  test::ScratchDir dir;
  const Outcome r = power(dir, "--seeds 2000 --threads 2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "seeds        2000 (generated, rng seed 1)"));
  EXPECT_TRUE(contains(r.out, "relative difference"));
  EXPECT_TRUE(contains(r.out, "cells per second"));
  EXPECT_TRUE(contains(r.out, "wrote        vorn-power.svg"));
  const std::string svg = test::read_text(dir / "vorn-power.svg");
  EXPECT_TRUE(svg.starts_with("<svg xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_TRUE(svg.ends_with("</svg>\n"));
  EXPECT_TRUE(contains(svg, "<polygon points="));
  EXPECT_EQ(r.err, "");  // no progress bar: standard error is not a terminal
}

TEST(VornPower, SummaryNamesTheLevelAndEveryLevelWritesTheSameCells) {
  test::ScratchDir dir;
  const Outcome best = power(dir, "--seeds 3000 --unbounded --no-svg --output best.csv", "VORN_ISA_LEVEL=");
  ASSERT_EQ(best.status, 0) << best.err;
  EXPECT_TRUE(contains(best.out, "(the highest level this CPU runs): cell engine ")) << best.out;
  const Outcome portable = power(dir, "--seeds 3000 --unbounded --no-svg --output x86.csv", "VORN_ISA_LEVEL=x86-64");
  ASSERT_EQ(portable.status, 0) << portable.err;
  EXPECT_TRUE(contains(portable.out, "build        x86-64 (set by VORN_ISA_LEVEL; this CPU runs "));
  EXPECT_TRUE(contains(portable.out, "): cell engine x86-64, BSP unit x86-64\n")) << portable.out;
  EXPECT_EQ(test::read_text(dir / "best.csv"), test::read_text(dir / "x86.csv"));
}

TEST(VornPower, UnknownLevelInTheEnvironmentExitsTwo) {
  test::ScratchDir dir;
  const Outcome r = power(dir, "--seeds 100", "VORN_ISA_LEVEL=sse2");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "vorn-power: error: VORN_ISA_LEVEL: unknown instruction-set level 'sse2' (levels: x86-64, avx2, "
                   "avx512)\n");
  EXPECT_EQ(dir.listing(), std::vector<std::string>{});
}

// ---- Fitting --------------------------------------------------------------------

// The area column of a cell file, seed by seed.
std::vector<double> areas_of(const std::string& cells) {
  std::vector<double> areas;
  for (const std::string& row : lines(cells)) {
    if (row.empty() || row.starts_with("seed,")) continue;
    std::size_t at = 0;
    for (int field = 0; field < 4; ++field) at = row.find(',', at) + 1;
    areas.push_back(std::stod(row.substr(at, row.find(',', at) - at)));
  }
  return areas;
}

TEST(VornPowerFit, EqualAndTargetAreasAreReachedAndTheWeightsWritten) {
  test::ScratchDir dir;
  std::string csv = "x,y,target\n";
  for (int i = 0; i < 200; ++i) {
    const std::string target = i < 100 ? "0.003" : "0.007";  // adds up to 1
    csv += std::to_string((i * 37 % 101 + 0.5) / 101.0) + "," + std::to_string((i * 59 % 103 + 0.5) / 103.0) + "," +
           target + "\n";
  }
  test::write_text(dir / "s.csv", csv);
  const Outcome equal = power(dir, "s.csv --box 0,0,1,1 --fit equal --output equal.csv");
  ASSERT_EQ(equal.status, 0) << equal.err;
  EXPECT_TRUE(contains(equal.out, "fit          equal areas, converged after")) << equal.out;
  EXPECT_TRUE(contains(equal.err, "fit          iteration 1: largest relative error")) << equal.err;
  for (const double a : areas_of(test::read_text(dir / "equal.csv"))) EXPECT_NEAR(a / 0.005, 1.0, 1e-9);

  const Outcome target = power(dir, "s.csv --box 0,0,1,1 --fit target --tolerance 1e-10 --output target.csv");
  ASSERT_EQ(target.status, 0) << target.err;
  const std::vector<double> areas = areas_of(test::read_text(dir / "target.csv"));
  ASSERT_EQ(areas.size(), 200u);
  for (std::size_t i = 0; i < 200; ++i) EXPECT_NEAR(areas[i] / (i < 100 ? 0.003 : 0.007), 1.0, 1e-10) << i;
  // The cell file keeps the fitted weights: read back, its cells are the same.
  const Outcome again = power(dir, "target.csv --box 0,0,1,1 --output again.csv");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(test::read_text(dir / "again.csv"), test::read_text(dir / "target.csv"));
}

TEST(VornPowerFit, RunningOutOfIterationsExitsThreeWithTheBestWeightsWritten) {
  test::ScratchDir dir;
  const Outcome r = power(dir, "--seeds 3000 --fit equal --max-iterations 1 --no-svg --output c.csv");
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(contains(r.err, "vorn-power: the fit did not converge in 1 iteration: largest relative error")) << r.err;
  EXPECT_TRUE(contains(r.out, "NOT converged")) << r.out;
  EXPECT_EQ(areas_of(test::read_text(dir / "c.csv")).size(), 3000u);
}

// On the torus: Lloyd moves and a fit, the cells crossing the box's sides
// keep their areas, and the cell file reads back as the same cells.
TEST(VornPowerFit, PeriodicLloydAndFitKeepEqualAreasAcrossTheSides) {
  test::ScratchDir dir;
  const Outcome r = power(dir, "--seeds 500 --periodic --lloyd 2 --fit equal --output c.csv --svg p.svg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "fit          equal areas, converged")) << r.out;
  const std::string cells = test::read_text(dir / "c.csv");
  EXPECT_TRUE(contains(lines(cells).front(), ",neighbour_shifts")) << lines(cells).front();
  const std::vector<double> areas = areas_of(cells);
  ASSERT_EQ(areas.size(), 500u);
  for (const double a : areas) EXPECT_NEAR(a * 500, 1.0, 1e-9);
  const Outcome again = power(dir, "c.csv --periodic --box 0,0,1,1 --output again.csv");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(test::read_text(dir / "again.csv"), cells);
  // Areas equal to the fit's tolerance are one colour, not their rounding spread over the scale.
  EXPECT_TRUE(contains(test::read_text(dir / "p.svg"), ">all 0.002<"));
}

// Stippling: seeds drawn from a PGM's darkness, moved and fitted; the dark
// half of the image ends up with almost all the seeds.
TEST(VornPowerFit, SeedsDrawnFromADensityImageGatherWhereItIsDark) {
  test::ScratchDir dir;
  std::string pgm = "P5\n# left half black\n8 4\n255\n";
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 8; ++col) pgm += static_cast<char>(col < 4 ? 0 : 255);
  }
  test::write_text(dir / "half.pgm", pgm);
  const Outcome r = power(dir, "--seeds 300 --box 0,0,2,1 --density half.pgm --lloyd 3 --fit equal --output c.csv "
                               "--no-svg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "lloyd        3 moves")) << r.out;
  EXPECT_TRUE(contains(r.out, "fit          equal masses, converged")) << r.out;
  int left = 0;
  for (const std::string& row : lines(test::read_text(dir / "c.csv"))) {
    if (row.empty() || row.starts_with("seed,")) continue;
    const std::size_t x = row.find(',') + 1;
    left += std::stod(row.substr(x, row.find(',', x) - x)) < 1.0;
  }
  EXPECT_EQ(left, 300);
}

// ---- Periodic diagrams ----------------------------------------------------------

// Seeds at x = 0.25 and (wrapped from 1.75) 0.75 on the torus of the unit
// square: each cell is a half of the box, facing the other seed across
// x = 0.5 directly and across x = 0 or 1 through its copy, and its own
// copies above and below.
TEST(VornPower, PeriodicCellsNameTheCopyEachEdgeFaces) {
  test::ScratchDir dir;
  test::write_text(dir / "s.csv", "x,y,weight\n0.25,0.5,0\n1.75,0.5,0\n");
  const Outcome r = power(dir, "s.csv --periodic --box 0,0,1,1 --output cells.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "domain       [0, 1] x [0, 1], periodic")) << r.out;
  EXPECT_TRUE(contains(r.out, "outside      1 seed outside the box, wrapped into it by whole periods")) << r.out;
  EXPECT_TRUE(contains(r.out, "area         cells 1, domain 1")) << r.out;
  EXPECT_EQ(lines(test::read_text(dir / "cells.csv")),
            (std::vector<std::string>{
                "seed,x,y,weight,area,centroid_x,centroid_y,empty,unbounded,vertices,neighbours,neighbour_shifts",
                "0,0.25,0.5,0,0.5,0.25,0.5,0,0,0.5 1 0 1 0 0 0.5 0,0 1 0 1,0 1 -1 0 0 -1 0 0",
                "1,0.75,0.5,0,0.5,0.75,0.5,0,0,1 0 1 1 0.5 1 0.5 0,0 1 0 1,1 0 0 1 0 0 0 -1"}));
  ASSERT_EQ(power(dir, "s.csv --periodic --box 0,0,1,1 --output cells.json").status, 0);
  const std::string json = test::read_text(dir / "cells.json");
  EXPECT_TRUE(contains(json, "\"precision\":\"double\",\"periodic\":true,")) << json;
  EXPECT_TRUE(contains(json, "\"neighbours\":[0,1,0,1],\"shifts\":[[0,1],[-1,0],[0,-1],[0,0]]}")) << json;
}

// A periodic cell file reads back as its (wrapped) seeds and gives itself
// again; a box diagram's file has neither the column nor shifts.
TEST(VornPower, PeriodicCellFileReadsBackAsItsSeeds) {
  test::ScratchDir dir;
  std::string csv;
  for (int i = 0; i < 200; ++i) {
    csv += std::to_string((i * 37 % 101) / 50.5 - 0.5) + "," + std::to_string((i * 59 % 103) / 103.0 * 3.0) + "," +
           std::to_string((i % 7) * 1e-3) + "\n";
  }
  test::write_text(dir / "s.csv", csv);
  const Outcome first = power(dir, "s.csv --periodic --box 0,0,1,3 --output first.csv");
  ASSERT_EQ(first.status, 0) << first.err;
  const Outcome again = power(dir, "first.csv --periodic --box 0,0,1,3 --output second.csv");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(test::read_text(dir / "second.csv"), test::read_text(dir / "first.csv"));
  const std::size_t at = again.out.find("relative difference ");
  ASSERT_NE(at, std::string::npos) << again.out;
  EXPECT_LT(std::fabs(std::stod(again.out.substr(at + 20))), 1e-14) << again.out;
  ASSERT_EQ(power(dir, "s.csv --box 0,0,1,3 --output box.json").status, 0);
  const std::string box = test::read_text(dir / "box.json");
  EXPECT_TRUE(contains(box, "\"periodic\":false") && !contains(box, "\"shifts\"")) << box.substr(0, 200);
}

// The picture wraps the cells into the box: a cell across a side is drawn
// once for each side it reaches into, so there are more polygons than cells.
TEST(VornPower, PeriodicPictureWrapsCellsIntoTheBox) {
  test::ScratchDir dir;
  const Outcome r = power(dir, "--periodic --seeds 200 --svg p.svg --output c.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "band         ")) << r.out;
  const std::string svg = test::read_text(dir / "p.svg");
  std::size_t polygons = 0;
  for (std::size_t at = svg.find("<polygon"); at != std::string::npos; at = svg.find("<polygon", at + 1)) ++polygons;
  const std::string cells = test::read_text(dir / "c.csv");
  const std::size_t non_empty = static_cast<std::size_t>(std::count(cells.begin(), cells.end(), '\n')) - 1;
  EXPECT_GT(polygons, non_empty);
  EXPECT_TRUE(contains(svg, ">Periodic power diagram of 200 seeds")) << svg.substr(0, 800);
  EXPECT_TRUE(contains(svg, "cells wrapped into the period box")) << svg.substr(svg.size() - 600);
}

// ---- Errors -------------------------------------------------------------------

struct PowerError {
  const char* name;
  std::string input;  // written to s.csv when not empty
  std::string args;
  std::string message;  // the whole standard error
};

// Test names carry the case's name; printing it keeps the listing readable.
void PrintTo(const PowerError& c, std::ostream* os) { *os << c.name; }

class VornPowerErrors : public ::testing::TestWithParam<PowerError> {};

TEST_P(VornPowerErrors, ExitTwoWithMessageAndNoOutputFiles) {
  test::ScratchDir dir;
  if (!GetParam().input.empty()) test::write_text(dir / "s.csv", GetParam().input);
  test::write_text(dir / "keep.csv", "precious\n");  // an existing output must survive a failure
  const Outcome r = power(dir, GetParam().args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "vorn-power: error: " + GetParam().message + "\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(test::read_text(dir / "keep.csv"), "precious\n");
  std::vector<std::string> expected{"keep.csv"};
  if (!GetParam().input.empty()) expected.push_back("s.csv");
  EXPECT_EQ(dir.listing(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, VornPowerErrors,
    ::testing::Values(
        PowerError{"bad_number", "0,0\n1,1\n0.5,zero\n", "s.csv --output keep.csv --svg p.svg",
                   "s.csv:3:5: expected a number (y), found 'zero'"},
        PowerError{"missing_file", "", "none.csv --output keep.csv", "none.csv: cannot open: No such file or directory"},
        PowerError{"no_seeds", "x,y\n", "s.csv --output keep.csv", "s.csv: no seeds"},
        PowerError{"flat_seed_box", "0,0\n1,0\n", "s.csv --output keep.csv",
                   "s.csv: the seeds' bounding box has no area (all seeds on one line): give --box or --unbounded"},
        PowerError{"huge_coordinate", "0,0\n1,1e200\n", "s.csv --box 0,0,1,1 --output keep.csv",
                   "s.csv: seed 1 has y coordinate 1e+200, beyond the supported magnitude 1e+150"},
        PowerError{"inverted_box", "0,0\n", "s.csv --box 1,0,0,1",
                   "--box: the box '1,0,0,1' is empty or inverted (need XMIN < XMAX, YMIN < YMAX)"},
        PowerError{"short_box", "0,0\n", "s.csv --box 0,0,1", "--box: expected XMIN,YMIN,XMAX,YMAX (4 numbers), got 3"},
        PowerError{"box_and_unbounded", "0,0\n", "s.csv --box 0,0,1,1 --unbounded",
                   "--box and --unbounded exclude each other"},
        PowerError{"bad_threads", "", "--threads 0", "--threads: expected an integer from 1 to 4096, got '0'"},
        PowerError{"missing_value", "", "--leaf-size", "--leaf-size: missing value"},
        PowerError{"unknown_option", "", "--fast", "unknown option '--fast' (see --help)"},
        PowerError{"two_inputs", "0,0\n", "s.csv t.csv", "more than one seed file: 's.csv' and 't.csv'"},
        PowerError{"output_type", "0,0\n1,1\n", "s.csv --output cells.txt",
                   "cells.txt: unknown cell file type '.txt': use .csv or .json"},
        PowerError{"output_directory_missing", "0,0\n1,1\n", "s.csv --output no/cells.csv",
                   "no/cells.csv: cannot create a file in no: No such file or directory"},
        PowerError{"input_type", "", "--svg p.svg s.txt", "s.txt: unknown seed file type '.txt': use .csv or .npy"},
        // Outputs that would destroy data used to be written, with exit 0.
        PowerError{"output_is_the_input", "0,0\n1,1\n", "s.csv --output s.csv",
                   "s.csv: --output names the input file s.csv, which it would replace: choose another output"},
        PowerError{"output_is_the_input_spelt_otherwise", "0,0\n1,1\n", "s.csv --output ./no/../s.csv",
                   "./no/../s.csv: --output names the input file s.csv, which it would replace: choose another output"},
        PowerError{"picture_not_svg", "0,0\n1,1\n", "s.csv --output keep.csv --svg ./keep.csv",
                   "--svg writes an SVG picture: name it FILE.svg, not './keep.csv'"},
        // A second value used to win silently; contradicting options too.
        PowerError{"option_twice", "0,0\n1,1\n", "s.csv --threads 2 --threads 1", "--threads is given twice"},
        PowerError{"output_twice", "0,0\n1,1\n", "s.csv -o a.csv --output b.csv", "--output is given twice"},
        PowerError{"float_and_double", "0,0\n1,1\n", "s.csv --float --double", "--float and --double exclude each other"},
        PowerError{"rng_seed_with_file", "0,0\n1,1\n", "s.csv --rng-seed 3",
                   "--rng-seed seeds the generated seed set; it cannot go with a seed file"},
        // A directory as the second output used to fail after the first was replaced.
        PowerError{"picture_is_a_directory", "0,0\n1,1\n", "s.csv --output keep.csv --svg /tmp",
                   "/tmp: is a directory"},
        PowerError{"cells_name_a_directory", "0,0\n1,1\n", "s.csv --output keep.csv/ --no-svg",
                   "keep.csv/: names a directory, not a file"},
        // Weights this far apart put the far vertices of a plane's cells beyond what a double resolves.
        PowerError{"weights_beyond_the_plane", "0,0,0\n1,0,1e60\n0,1,0\n", "s.csv --unbounded --output keep.csv",
                   "s.csv: seed 1 has weight 1e+60: for double-precision cells of the whole plane with seeds within 2 "
                   "of (0, 0), weights must lie within 4398046511104 of 0 (2^40 times 2 squared); give a domain box"},
        PowerError{"empty_standard_input", "", "- --output keep.csv < /dev/null", "standard input: no seeds"},
        PowerError{"two_outputs_on_standard_output", "0,0\n1,1\n", "s.csv --output - --svg -",
                   "--output and --svg both name the standard output (-): only one output can go there"},
        PowerError{"format_without_output", "0,0\n1,1\n", "s.csv --format json",
                   "--format sets the format of the cells that --output writes; give --output too"},
        PowerError{"unknown_format", "0,0\n1,1\n", "s.csv --output keep.csv --format xml",
                   "--format: expected csv or json, got 'xml'"},
        PowerError{"fit_unbounded", "0,0\n1,1\n", "s.csv --unbounded --fit equal",
                   "--fit needs a domain box: cells of the whole plane have no finite area"},
        PowerError{"fit_float", "0,0\n1,1\n", "s.csv --float --lloyd 2",
                   "--lloyd computes double cells: --float would not reach the fit's tolerance"},
        PowerError{"density_alone", "0,0\n1,1\n", "s.csv --density d.npy",
                   "--density applies to --fit and --lloyd; give one of them"},
        PowerError{"tolerance_alone", "0,0\n1,1\n", "s.csv --lloyd 2 --tolerance 1e-6",
                   "--tolerance sets up --fit; give --fit too"},
        PowerError{"fit_what", "0,0\n1,1\n", "s.csv --fit areas", "--fit: expected equal or target, got 'areas'"},
        PowerError{"fit_target_generated", "", "--fit target", "--fit target takes each seed's area from the seed "
                                                              "file's target column: give a seed file"},
        PowerError{"fit_target_without_column", "0.2,0.2\n0.8,0.8\n", "s.csv --box 0,0,1,1 --fit target",
                   "s.csv: --fit target needs a target column in the seed file's header (x,y,weight,target)"},
        PowerError{"targets_do_not_add_up", "x,y,target\n0.2,0.2,0.5\n0.8,0.8,0.6\n",
                   "s.csv --box 0,0,1,1 --fit target --output keep.csv",
                   "s.csv: the targets add up to 1.1, but the domain holds 1 (its area): they must agree to within "
                   "half the tolerance; scale them by 0.9090909090909091"},
        PowerError{"density_not_an_image", "0.2,0.2\n0.8,0.8\n", "s.csv --box 0,0,1,1 --lloyd 1 --density s.csv",
                   "s.csv: unknown density image type '.csv': use .npy or .pgm"},
        PowerError{"periodic_without_box", "0,0\n1,1\n", "s.csv --periodic --output keep.csv",
                   "--periodic needs --box XMIN,YMIN,XMAX,YMAX with a seed file: the box is the period cell"},
        PowerError{"periodic_and_unbounded", "", "--periodic --unbounded",
                   "--periodic and --unbounded exclude each other: a period needs a box"},
        PowerError{"periodic_with_a_value", "", "--periodic=yes", "--periodic takes no value"},
        PowerError{"picture_is_a_device", "0,0\n1,1\n", "s.csv --output keep.csv --svg /dev/null",
                   "/dev/null: is not a regular file: outputs go to a temporary file that then replaces the target, so "
                   "a device or pipe cannot be one"}),
    [](const ::testing::TestParamInfo<PowerError>& info) { return std::string(info.param.name); });

TEST(VornPower, RejectedNpyNamesFileAndProblem) {
  test::ScratchDir dir;
  test::write_npy(dir / "s.npy", {2, 2, 1}, {0, 0, 1, 1});
  const Outcome r = power(dir, "s.npy --output c.csv");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "vorn-power: error: s.npy: seeds need shape (n, 2) or (n, 3), the array has shape (2, 2, 1)\n");
  EXPECT_EQ(dir.listing(), std::vector<std::string>{"s.npy"});
}

// ---- Output files ------------------------------------------------------------------

// Runs vorn-power in the background and sends it `signal` after `delay`
// seconds, while its cells are still being computed; returns its raw status.
int interrupted_power(const test::ScratchDir& dir, const std::string& args, const char* signal, const char* delay) {
  const std::string command = "cd '" + dir.path().string() + "' && { '" VORN_POWER_PROGRAM "' " + args +
                              " > /dev/null 2>&1 & pid=$!; sleep " + delay + "; kill -" + signal +
                              " $pid; wait $pid; } 2> /dev/null";
  return std::system(command.c_str());
}

// The temporary output file used to be made before the computation, so an
// interrupted run left a hidden .NAME.tmp.XXXXXX behind.
TEST(VornPowerOutputs, InterruptedRunLeavesNoTemporary) {
  test::ScratchDir dir;
  for (const char* signal : {"TERM", "KILL"}) {
    interrupted_power(dir, "--seeds 400000 --threads 1 --output c.csv --svg p.svg", signal, "0.3");
    EXPECT_EQ(dir.listing(), std::vector<std::string>{}) << "after SIG" << signal;
  }
}

TEST(VornPowerOutputs, ReplacedFilesKeepModeAndLinksAreWrittenThrough) {
  test::ScratchDir dir;
  test::write_text(dir / "s.csv", "0,0\n1,1\n");
  test::write_text(dir / "private.csv", "old\n");
  std::filesystem::permissions(dir / "private.csv", std::filesystem::perms(0600));
  std::filesystem::create_directory(dir / "pictures");
  std::filesystem::create_symlink("pictures/p.svg", dir / "p.svg");
  const Outcome r = power(dir, "s.csv --output private.csv --svg p.svg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::filesystem::status(dir / "private.csv").permissions(), std::filesystem::perms(0600));
  EXPECT_TRUE(test::read_text(dir / "private.csv").starts_with("seed,x,y,"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "p.svg"));
  EXPECT_TRUE(test::read_text(dir / "pictures" / "p.svg").starts_with("<svg "));
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"p.svg", "pictures", "private.csv", "s.csv"}));
}

// ---- Hostile .npy files ------------------------------------------------------------

// A 20-byte file whose header length field says 4 GiB used to be allocated
// in full before it failed, so under a memory limit the run ended "out of
// memory" with exit 1 after seconds; the same for a shape beyond the file.
TEST(HostileNpy, LengthsBeyondTheFileFailAtOnceUnderAMemoryLimit) {
  if (test::sanitized_build) GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
  test::ScratchDir dir;
  test::write_text(dir / "header.npy", std::string("\x93NUMPY\x02\x00\xff\xff\xff\xff{'descr'", 20));
  test::write_npy_raw(dir / "shape.npy", "{'descr': '<f8', 'fortran_order': False, 'shape': (1024, 1048576, 2), }",
                      std::string(16, '\0'));
  const std::string limit = "ulimit -v 400000 &&";  // 400 MB of address space
  const std::string header_message =
      "header.npy: truncated .npy header: its length field says 4294967295 bytes, only 8 follow\n";
  const std::string shape_message =
      "shape.npy: shape (1024, 1048576, 2) needs 17179869184 bytes of data, the file holds 16 (truncated)\n";
  const Outcome p1 = run(VORN_POWER_PROGRAM, dir, "header.npy --no-svg", limit);
  EXPECT_EQ(p1.status, 2);
  EXPECT_EQ(p1.err, "vorn-power: error: " + header_message);
  const Outcome m1 = run(VORN_MASS_PROGRAM, dir, "header.npy", limit);
  EXPECT_EQ(m1.status, 2);
  EXPECT_EQ(m1.err, "vorn-mass: error: " + header_message);
  const Outcome m2 = run(VORN_MASS_PROGRAM, dir, "shape.npy", limit);
  EXPECT_EQ(m2.status, 2);
  EXPECT_EQ(m2.err, "vorn-mass: error: " + shape_message);
}

// Empty arrays used to reach memcpy with a null pointer (an abort in the
// sanitizer build), and (2^32, 2^32, 0) was refused as too large.
TEST(HostileNpy, EmptyArraysAreEmpty) {
  test::ScratchDir dir;
  test::write_npy(dir / "none.npy", {0, 2}, {});
  test::write_npy(dir / "flat.npy", {4294967296LL, 4294967296LL, 0}, {});
  const Outcome p = power(dir, "none.npy --output c.csv");
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.err, "vorn-power: error: none.npy: no seeds\n");
  const Outcome m = mass(dir, "flat.npy");
  EXPECT_EQ(m.status, 0) << m.err;
  EXPECT_TRUE(contains(m.out, "image 4294967296 x 4294967296 x 0, flat.npy\nmass 0\n")) << m.out;
}

// ---- vorn-mass ------------------------------------------------------------------

TEST(VornMass, MassOfNpyImageWithAxisMatrix) {
  test::ScratchDir dir;
  // 2 x 3 x 4 voxels of density 2 over voxels of volume |det| = 0.5 * 2 * 1.5 = 1.5.
  test::write_npy(dir / "img.npy", {2, 3, 4}, std::vector<double>(24, 2.0));
  const Outcome r = mass(dir, "img.npy --axes 0.5,0,0,0.3,2,0,0,0,1.5");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "image 2 x 3 x 4, img.npy\nmass 72\n")) << r.out;
  const Outcome piped = mass(dir, "- --axes 0.5,0,0,0.3,2,0,0,0,1.5 < img.npy");
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_TRUE(contains(piped.out, "image 2 x 3 x 4, standard input\nmass 72\n")) << piped.out;
}

TEST(VornMass, DefaultImageStillRuns) {
  test::ScratchDir dir;
  const Outcome r = mass(dir, "--size 8");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "image 8 x 8 x 8, generated: exp(-8 |p - c|^2) over a sheared unit cube\nmass "));
  EXPECT_TRUE(contains(r.out, "(the continuum value is 0.2140017..., approached as N grows)")) << r.out;
}

// The continuum value the generated density's mass approaches, as the
// output states it: (sqrt(pi/8) erf(sqrt 2))^3.
TEST(VornMass, StatedContinuumValueIsTheIntegral) {
  const double side = std::sqrt(std::acos(-1.0) / 8.0) * std::erf(std::sqrt(2.0));
  EXPECT_NEAR(side * side * side, 0.2140017, 5e-8);
}

TEST(VornMass, SingularAxesSayWhyTheMassIsZero) {
  test::ScratchDir dir;
  test::write_npy(dir / "img.npy", {2, 2, 2}, std::vector<double>(8, 1.0));
  const Outcome r = mass(dir, "img.npy --axes 1,0,0,0,1,0,2,0,0");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "mass 0 (the axis matrix is singular: the voxels are flat and hold no volume)\n"))
      << r.out;
}

TEST(VornMass, BadImagesAndAxesExitTwo) {
  test::ScratchDir dir;
  test::write_npy(dir / "flat.npy", {2, 2}, {1, 2, 3, 4});
  test::write_npy(dir / "nan.npy", {1, 2, 2}, {1, 2, 3, std::nan("")});
  test::write_npy(dir / "huge.npy", {1, 1, 2}, {1e308, 1e308});
  // Empty, but the library cannot form its strides (8 * 2^32 * 2^32 bytes).
  test::write_npy(dir / "wide.npy", {0, 4294967296LL, 4294967296LL}, {});
  const std::pair<std::string, std::string> cases[] = {
      {"flat.npy", "flat.npy: an image needs three axes, the array has 2"},
      {"nan.npy", "nan.npy: voxel (0, 1, 1) is not a finite number"},
      {"huge.npy", "huge.npy: image mass overflows: the sum of values times voxel volume is beyond the double range"},
      {"wide.npy", "wide.npy: image extents 0 x 4294967296 x 4294967296 overflow the signed 64-bit byte strides of "
                   "the image (at axis 1)"},
      {"nan.npy --axes 1,0,0,0,1,0,0,0", "--axes: expected 9 numbers (a 3 x 3 matrix, row by row), got 8"},
      {"nan.npy --axes 1,0,0,0,1,0,0,0,inf", "--axes: entry 9 'inf' is not a finite number"},
      {"--axes 1,0,0,0,1,0,0,0,1", "--axes applies to an image file"},
      {"missing.npy", "missing.npy: cannot open: No such file or directory"},
  };
  for (const auto& [args, message] : cases) {
    const Outcome r = mass(dir, args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.err, "vorn-mass: error: " + message + "\n");
  }
}

}  // namespace
}  // namespace vorn
