// Seed and image input with exact error locations, and output files that
// appear whole or not at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "atomic_file.hpp"
#include "diagram_writers.hpp"
#include "npy.hpp"
#include "output_set.hpp"
#include "printable.hpp"
#include "seed_input.hpp"
#include "signal_cleanup.hpp"
#include "tool_error.hpp"
#include "tool_files.hpp"

namespace vorn {
namespace {

using tools::SeedTable;
using tools::ToolError;

std::string error_of(auto&& action) {
  try {
    action();
  } catch (const ToolError& e) {
    return e.what();
  }
  return "(no error)";
}

// ---- CSV seeds --------------------------------------------------------------

struct CsvCase {
  const char* name;
  std::string text;
  std::vector<double> positions, weights;
};

// Test names carry the case's name; printing it keeps the listing readable.
void PrintTo(const CsvCase& c, std::ostream* os) { *os << c.name; }

class CsvSeeds : public ::testing::TestWithParam<CsvCase> {};

TEST_P(CsvSeeds, ReadsEverySeed) {
  const SeedTable t = tools::parse_csv_seeds(GetParam().text, "s.csv");
  EXPECT_EQ(t.positions, GetParam().positions);
  EXPECT_EQ(t.weights, GetParam().weights);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, CsvSeeds,
    ::testing::Values(CsvCase{"plain", "1,2\n3,4\n", {1, 2, 3, 4}, {0, 0}},
                      CsvCase{"header_and_weights", "x,y,w\n1,2,0.5\n3,4,-1e-3\n", {1, 2, 3, 4}, {0.5, -1e-3}},
                      CsvCase{"weight_optional_per_line", "1,2,7\n3,4\n", {1, 2, 3, 4}, {7, 0}},
                      CsvCase{"crlf_blank_lines_padding", "\"x\", \"y\"\r\n\r\n  1 ,\t2\r\n   \n+3,-4e0\r\n",
                              {1, 2, 3, -4}, {0, 0}},
                      CsvCase{"no_final_newline", "0.125,0.25", {0.125, 0.25}, {0}},
                      CsvCase{"empty", "", {}, {}},
                      // A first line of quoted numbers is a seed, not a header.
                      CsvCase{"quoted_numbers_first_line", "\"0.1\",\"0.2\"\n\"0.3\" , \"0.4\"\n", {0.1, 0.2, 0.3, 0.4},
                              {0, 0}},
                      CsvCase{"byte_order_mark_before_header", "\xEF\xBB\xBFx,y\n1,2\n", {1, 2}, {0}},
                      CsvCase{"byte_order_mark_before_seed", "\xEF\xBB\xBF" "1,2\n", {1, 2}, {0}},
                      // Below the smallest subnormal a number rounds to zero, as strtod reads it.
                      CsvCase{"underflow_to_zero_and_subnormal", "1e-400,-1e-400,4e-320\n", {0.0, -0.0}, {4e-320}},
                      // Columns are taken by name, not by position.
                      CsvCase{"weight_column_first", "weight,x,y\n5,1,2\n", {1, 2}, {5}},
                      CsvCase{"names_in_any_case_quoted_and_padded", " \"Y\" , 'X' ,W\n2,1,3\n", {1, 2}, {3}},
                      CsvCase{"header_without_weight", "y,x\n2,1\n", {1, 2}, {0}}),
    [](const ::testing::TestParamInfo<CsvCase>& info) { return std::string(info.param.name); });

struct CsvError {
  const char* name;
  std::string text;
  std::string message;  // the whole message
};

// Test names carry the case's name; printing it keeps the listing readable.
void PrintTo(const CsvError& c, std::ostream* os) { *os << c.name; }

class CsvErrors : public ::testing::TestWithParam<CsvError> {};

TEST_P(CsvErrors, NameFileLineAndColumn) {
  EXPECT_EQ(error_of([&] { tools::parse_csv_seeds(GetParam().text, "s.csv"); }), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, CsvErrors,
    ::testing::Values(
        CsvError{"word_in_data", "1,2\n3, abc\n", "s.csv:2:4: expected a number (y), found 'abc'"},
        CsvError{"trailing_junk", "1,2x\n", "s.csv:1:3: expected a number (y), found '2x'"},
        CsvError{"empty_field", "1,2\n,4\n", "s.csv:2:1: expected a number (x), found an empty field"},
        CsvError{"nan_weight", "x,y,w\n1,2,3\n1,2,nan\n", "s.csv:3:5: the weight 'nan' is not a finite number"},
        CsvError{"overflowing_number", "1e999,2\n", "s.csv:1:1: the x '1e999' is not a finite number"},
        CsvError{"one_field", "1,2\n5\n", "s.csv:2:2: expected 2 or 3 fields (x, y and an optional weight), found 1"},
        CsvError{"four_fields", "1,2,3,4\n", "s.csv:1:7: expected 2 or 3 fields (x, y and an optional weight), found 4"},
        CsvError{"header_not_first", "1,2\nx,y\n", "s.csv:2:1: expected a number (x), found 'x'"},
        CsvError{"semicolons", "1;2\n", "s.csv:1:4: expected 2 or 3 fields (x, y and an optional weight), found 1"},
        CsvError{"id_column", "id,x,y\n0,1,2\n",
                 "s.csv:1:1: unknown column 'id': the header may name x, y, weight (or w) and target, and the "
                 "other columns of vorn-power's cell files"},
        CsvError{"unnamed_column", "x,,y\n",
                 "s.csv:1:3: a column has no name: the header may name x, y, weight (or w) and target, and the "
                 "other columns of vorn-power's cell files"},
        CsvError{"header_without_y", "x,weight\n1,2\n", "s.csv:1:1: the header has no y column"},
        CsvError{"column_named_twice", "x,y,X\n", "s.csv:1:5: the header names the x column twice"},
        CsvError{"line_shorter_than_header", "x,y,weight\n1,2\n",
                 "s.csv:2:4: expected 3 fields (x, y, weight, as the header says), found 2"},
        CsvError{"long_field_is_cut", "1," + std::string(1 << 20, '9') + "x\n",
                 "s.csv:1:3: expected a number (y), found '" + std::string(40, '9') + "...'"},
        CsvError{"control_characters_are_shown", "1,a\x01\tb\x1b[31m\n",
                 "s.csv:1:3: expected a number (y), found 'a\\x01\\tb\\x1b[31m'"},
        CsvError{"invalid_utf8_is_shown", "1,\xff\xc3\xa9\xc2\x9b\n",
                 "s.csv:1:3: expected a number (y), found '\\xff\xc3\xa9\\xc2\\x9b'"},
        CsvError{"unterminated_quote", "1,2\n\"3,4\n", "s.csv:2:1: this quoted field has no closing quote"},
        CsvError{"text_after_quote", "\"1\"x,2\n", "s.csv:1:4: expected ',' after the quoted field, found 'x,2'"},
        CsvError{"utf16", std::string("\xFF\xFEx\0,\0y\0", 8),
                 "s.csv: the file is UTF-16 text: save it as UTF-8 or ASCII"}),
    [](const ::testing::TestParamInfo<CsvError>& info) { return std::string(info.param.name); });

// ---- .npy -------------------------------------------------------------------

TEST(NpyHeader, ParsesWhatNumpyWrites) {
  const auto h = tools::parse_npy_header("{'descr': '<f8', 'fortran_order': False, 'shape': (3, 2), }");
  EXPECT_EQ(h.descr, "<f8");
  EXPECT_FALSE(h.fortran_order);
  EXPECT_EQ(h.shape, (std::vector<long long>{3, 2}));
  EXPECT_EQ(tools::parse_npy_header("{\"shape\": (5,), \"fortran_order\": True, \"descr\": \"<f8\"}").shape,
            std::vector<long long>{5});
  EXPECT_TRUE(tools::parse_npy_header("{'descr':'<f8','fortran_order':False,'shape':()}").shape.empty());
}

TEST(NpyHeader, RejectsMalformedDictionaries) {
  EXPECT_EQ(error_of([] { tools::parse_npy_header("{'descr': '<f8', 'shape': (3, 2)}"); }),
            "malformed .npy header at character 34: the header needs 'descr', 'fortran_order' and 'shape'");
  EXPECT_EQ(error_of([] { tools::parse_npy_header("{'descr': '<f8', 'fortran_order': Maybe, 'shape': (1,)}"); }),
            "malformed .npy header at character 40: expected True or False, found 'Maybe'");
  EXPECT_EQ(error_of([] { tools::parse_npy_header("{'descr': '<f8', 'fortran_order': False, 'shape': (-3, 2)}"); }),
            "malformed .npy header at character 52: expected a dimension, found ''");
}

TEST(NpySeeds, ReadsTwoAndThreeColumns) {
  test::ScratchDir dir;
  test::write_npy(dir / "a.npy", {2, 2}, {1, 2, 3, 4});
  test::write_npy(dir / "b.NPY", {2, 3}, {1, 2, 0.5, 3, 4, -0.5});
  const SeedTable a = tools::read_seeds(dir / "a.npy");
  EXPECT_EQ(a.positions, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(a.weights, (std::vector<double>{0, 0}));
  const SeedTable b = tools::read_seeds(dir / "b.NPY");
  EXPECT_EQ(b.positions, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(b.weights, (std::vector<double>{0.5, -0.5}));
}

struct NpyError {
  const char* name;
  std::string dict;  // header dictionary; empty: write `data` as the whole file
  std::string data;
  std::string message;  // after "<path>: "
};

// Test names carry the case's name; printing it keeps the listing readable.
void PrintTo(const NpyError& c, std::ostream* os) { *os << c.name; }

class NpyErrors : public ::testing::TestWithParam<NpyError> {};

TEST_P(NpyErrors, SayWhatTheFileHoldsAndWhatWasExpected) {
  test::ScratchDir dir;
  const auto path = dir / "s.npy";
  if (GetParam().dict.empty()) {
    test::write_text(path, GetParam().data);
  } else {
    test::write_npy_raw(path, GetParam().dict, GetParam().data);
  }
  EXPECT_EQ(error_of([&] { tools::read_seeds(path); }), path.string() + ": " + GetParam().message);
}

std::string doubles(std::vector<double> v) { return {reinterpret_cast<const char*>(v.data()), v.size() * 8}; }

INSTANTIATE_TEST_SUITE_P(
    Tools, NpyErrors,
    ::testing::Values(
        NpyError{"not_npy", "", "x,y\n1,2\n", "not a .npy file (no \\x93NUMPY magic at the start)"},
        NpyError{"float32", "{'descr': '<f4', 'fortran_order': False, 'shape': (1, 2), }", std::string(8, '\0'),
                 "data type '<f4' is not supported: expected little-endian float64 ('<f8')"},
        NpyError{"big_endian", "{'descr': '>f8', 'fortran_order': False, 'shape': (1, 2), }", std::string(16, '\0'),
                 "data type '>f8' is not supported: expected little-endian float64 ('<f8') (this file is big-endian)"},
        NpyError{"fortran", "{'descr': '<f8', 'fortran_order': True, 'shape': (1, 2), }", std::string(16, '\0'),
                 "Fortran-order arrays are not supported: save a C-order array (numpy.ascontiguousarray)"},
        NpyError{"truncated", "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 2), }", std::string(24, '\0'),
                 "shape (2, 2) needs 32 bytes of data, the file holds 24 (truncated)"},
        NpyError{"trailing_bytes", "{'descr': '<f8', 'fortran_order': False, 'shape': (1, 2), }", std::string(17, '\0'),
                 "shape (1, 2) needs 16 bytes of data, the file holds 17"},
        NpyError{"four_columns", "{'descr': '<f8', 'fortran_order': False, 'shape': (1, 4), }", std::string(32, '\0'),
                 "seeds need shape (n, 2) or (n, 3), the array has shape (1, 4)"},
        NpyError{"one_axis", "{'descr': '<f8', 'fortran_order': False, 'shape': (4,), }", std::string(32, '\0'),
                 "seeds need shape (n, 2) or (n, 3), the array has shape (4)"},
        NpyError{"nan_weight", "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }",
                 doubles({1, 2, 3, 4, 5, std::nan("")}), "row 1, column 2 (weight) is not a finite number"},
        // Lengths the file cannot hold are refused before anything is allocated for them.
        NpyError{"header_length_beyond_file", "", std::string("\x93NUMPY\x02\x00\xff\xff\xff\xff{'descr'", 20),
                 "truncated .npy header: its length field says 4294967295 bytes, only 8 follow"},
        NpyError{"shape_beyond_file", "{'descr': '<f8', 'fortran_order': False, 'shape': (1073741824, 2), }",
                 std::string(16, '\0'),
                 "shape (1073741824, 2) needs 17179869184 bytes of data, the file holds 16 (truncated)"},
        NpyError{"shape_beyond_64_bits",
                 "{'descr': '<f8', 'fortran_order': False, 'shape': (4294967296, 4294967296, 2), }", "",
                 "shape (4294967296, 4294967296, 2) needs more than 2^64 bytes of data, the file holds 0 (truncated)"},
        NpyError{"long_data_type_is_cut",
                 "{'descr': '" + std::string(5000, 'f') + "', 'fortran_order': False, 'shape': (1, 2), }", "",
                 "data type '" + std::string(40, 'f') +
                     "...' is not supported: expected little-endian float64 ('<f8')"}),
    [](const ::testing::TestParamInfo<NpyError>& info) { return std::string(info.param.name); });

// An empty array has no data to copy: reading one used to hand memcpy a
// null pointer, and an extent of 0 next to huge ones was called too large.
TEST(NpyEmptyArrays, ReadAsEmptyWhateverTheOtherExtents) {
  test::ScratchDir dir;
  test::write_npy(dir / "none.npy", {0, 2}, {});
  test::write_npy(dir / "huge_but_empty.npy", {4294967296LL, 4294967296LL, 0}, {});
  const tools::NpyArray none = tools::read_npy(dir / "none.npy");
  EXPECT_EQ(none.shape, (std::vector<long long>{0, 2}));
  EXPECT_TRUE(none.values.empty());
  EXPECT_TRUE(tools::read_npy(dir / "huge_but_empty.npy").values.empty());
  EXPECT_TRUE(tools::read_seeds(dir / "none.npy").weights.empty());
  test::write_npy_raw(dir / "empty_with_bytes.npy", "{'descr': '<f8', 'fortran_order': False, 'shape': (0, 2), }",
                      std::string(8, '\0'));
  EXPECT_EQ(error_of([&] { tools::read_npy(dir / "empty_with_bytes.npy"); }),
            (dir / "empty_with_bytes.npy").string() + ": shape (0, 2) needs 0 bytes of data, the file holds 8");
}

// A named pipe has no size to check against: its data is read as it comes,
// and a shape that promises more than the writer sends is reported truncated.
TEST(NpyFromPipe, ReadsWhatArrivesAndNoMore) {
  std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early must fail the test, not kill it
  test::ScratchDir dir;
  const auto fifo = dir / "s.npy";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  test::write_npy(dir / "good.npy", {2, 2}, {1, 2, 3, 4});
  test::write_npy_raw(dir / "short.npy", "{'descr': '<f8', 'fortran_order': False, 'shape': (1073741824, 2), }",
                      doubles({1, 2}));
  for (const char* source : {"good.npy", "short.npy"}) {
    std::thread writer([&] { test::write_text(fifo, test::read_text(dir / source)); });
    std::string error;
    SeedTable seeds;
    try {
      seeds = tools::read_seeds(fifo);
    } catch (const ToolError& e) {
      error = e.what();
    }
    writer.join();
    if (std::string(source) == "good.npy") {
      EXPECT_EQ(error, "");
      EXPECT_EQ(seeds.positions, (std::vector<double>{1, 2, 3, 4}));
    } else {
      EXPECT_EQ(error, fifo.string() + ": shape (1073741824, 2) needs 17179869184 bytes of data, the file holds 16 "
                                       "(truncated)");
    }
  }
}

TEST(Printable, CutsAtCharacterBoundariesAndCountsEscapesAsWide) {
  EXPECT_EQ(tools::printable("short"), "short");
  EXPECT_EQ(tools::printable("\xc3\xa9\xc3\xa9\xc3\xa9", 2), "\xc3\xa9\xc3\xa9...");  // two characters, not two bytes
  EXPECT_EQ(tools::printable("\x01\x02\x03", 8), "\\x01\\x02...");
  EXPECT_EQ(tools::printable("a\xe2\x82"), "a\\xe2\\x82");  // a character cut short by the end of the field
  EXPECT_EQ(tools::printable(std::string("a\0b", 3)), "a\\x00b");
}

TEST(SeedFiles, UnknownExtensionAndMissingFileAreNamed) {
  test::ScratchDir dir;
  EXPECT_EQ(error_of([&] { tools::read_seeds(dir / "s.txt"); }),
            (dir / "s.txt").string() + ": unknown seed file type '.txt': use .csv or .npy");
  EXPECT_EQ(error_of([&] { tools::read_seeds(dir / "missing.csv"); }),
            (dir / "missing.csv").string() + ": cannot open: No such file or directory");
  // A directory used to end in the stream library's own exception, with exit 1.
  std::filesystem::create_directory(dir / "d.csv");
  std::filesystem::create_directory(dir / "d.npy");
  EXPECT_EQ(error_of([&] { tools::read_seeds(dir / "d.csv"); }),
            (dir / "d.csv").string() + ": is a directory, not a seed file");
  EXPECT_EQ(error_of([&] { tools::read_seeds(dir / "d.npy"); }),
            (dir / "d.npy").string() + ": is a directory, not a .npy file");
}

// ---- Atomic output ------------------------------------------------------------

TEST(AtomicFile, AppearsOnlyOnCommitAndReplacesTheOldFile) {
  test::ScratchDir dir;
  test::write_text(dir / "out.csv", "old\n");
  {
    tools::AtomicFile out(dir / "out.csv");
    out.write("new ");
    out.number(0.1);
    out.write(" ");
    out.integer(-42);
    EXPECT_EQ(test::read_text(dir / "out.csv"), "old\n");
    out.commit();
  }
  EXPECT_EQ(test::read_text(dir / "out.csv"), "new 0.1 -42");
  EXPECT_EQ(dir.listing(), std::vector<std::string>{"out.csv"});
}

TEST(AtomicFile, AbandonedFileLeavesNothingBehind) {
  test::ScratchDir dir;
  test::write_text(dir / "out.csv", "old\n");
  {
    tools::AtomicFile out(dir / "out.csv");
    out.write(std::string(3 << 20, 'x'));  // several flushes to the temporary
    out.finish();
  }
  EXPECT_EQ(test::read_text(dir / "out.csv"), "old\n");
  EXPECT_EQ(dir.listing(), std::vector<std::string>{"out.csv"});
}

// The temporary used to be made when the output was opened, before the
// computation, so any interrupted run left a hidden file behind.
TEST(AtomicFile, NothingIsCreatedBeforeWriting) {
  test::ScratchDir dir;
  tools::AtomicFile out(dir / "out.csv");
  EXPECT_EQ(dir.listing(), std::vector<std::string>{});
  out.write("x");
  out.commit();
  EXPECT_EQ(dir.listing(), std::vector<std::string>{"out.csv"});
}

// A 0600 file used to come back 0644.
TEST(AtomicFile, ReplacedFileKeepsItsPermissions) {
  test::ScratchDir dir;
  test::write_text(dir / "secret.csv", "old\n");
  std::filesystem::permissions(dir / "secret.csv", std::filesystem::perms(0600));
  tools::AtomicFile out(dir / "secret.csv");
  out.write("new\n");
  out.commit();
  EXPECT_EQ(std::filesystem::status(dir / "secret.csv").permissions(), std::filesystem::perms(0600));
  EXPECT_EQ(test::read_text(dir / "secret.csv"), "new\n");
}

// A symbolic link used to be replaced by a regular file; now the file it
// names is replaced, in its own directory, and the link stays.
TEST(AtomicFile, WritesThroughSymbolicLinks) {
  test::ScratchDir dir;
  std::filesystem::create_directory(dir / "real");
  test::write_text(dir / "real" / "data.csv", "old\n");
  std::filesystem::create_symlink("real/data.csv", dir / "link.csv");
  std::filesystem::create_symlink("real/new.csv", dir / "dangling.csv");
  for (const char* name : {"link.csv", "dangling.csv"}) {
    tools::AtomicFile out(dir / name);
    EXPECT_EQ(out.destination(), dir / "real" / (name == std::string("link.csv") ? "data.csv" : "new.csv"));
    out.write("new\n");
    out.commit();
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.csv"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling.csv"));
  EXPECT_EQ(test::read_text(dir / "real" / "data.csv"), "new\n");
  EXPECT_EQ(test::read_text(dir / "real" / "new.csv"), "new\n");
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"dangling.csv", "link.csv", "real"}));
}

TEST(AtomicFile, TargetsThatCannotBeReplacedAreRefusedAtOnce) {
  test::ScratchDir dir;
  std::filesystem::create_directory(dir / "d");
  std::filesystem::create_symlink("loop2", dir / "loop1");
  std::filesystem::create_symlink("loop1", dir / "loop2");
  const std::string d = (dir / "d").string();
  EXPECT_EQ(error_of([&] { tools::AtomicFile out(d); }), d + ": is a directory");
  EXPECT_EQ(error_of([&] { tools::AtomicFile out(d + "/"); }), d + "/: names a directory, not a file");
  EXPECT_EQ(error_of([&] { tools::AtomicFile out("/dev/null"); }),
            "/dev/null: is not a regular file: outputs go to a temporary file that then replaces the target, so a "
            "device or pipe cannot be one");
  EXPECT_EQ(error_of([&] { tools::AtomicFile out(dir / "loop1"); }),
            (dir / "loop1").string() + ": cannot write: Too many levels of symbolic links");
  EXPECT_EQ(dir.listing(), (std::vector<std::string>{"d", "loop1", "loop2"}));
}

// A registered temporary is removed when SIGTERM ends the program, which
// still ends by that signal; a forgotten one is left alone.
TEST(SignalCleanup, TerminationRemovesRegisteredTemporaries) {
  test::ScratchDir dir;
  test::write_text(dir / ".a.tmp.x", "partial");
  test::write_text(dir / "kept", "renamed already");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(dir.path().c_str(), O_PATH | O_DIRECTORY);
    tools::remember_temporary(fd, ".a.tmp.x");
    tools::forget_temporary(tools::remember_temporary(fd, "kept"));
    std::raise(SIGTERM);
    ::_exit(0);  // not reached
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(dir.listing(), std::vector<std::string>{"kept"});
}

// A progress bar on the line is cleared by the signal that ends the
// program; once the bar is finished, nothing is written.
TEST(SignalCleanup, InterruptClearsADrawnLine) {
  for (const bool drawn : {true, false}) {
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::dup2(pipe_ends[1], 2);
      tools::clear_line_on_signal(true);
      if (!drawn) tools::clear_line_on_signal(false);
      std::raise(SIGINT);
      ::_exit(0);  // not reached
    }
    ::close(pipe_ends[1]);
    char text[16] = {};
    const ssize_t got = ::read(pipe_ends[0], text, sizeof text);
    ::close(pipe_ends[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(std::string(text, static_cast<std::size_t>(std::max<ssize_t>(got, 0))), drawn ? "\r\033[K" : "");
  }
}

// ---- Cell files ---------------------------------------------------------------------

// A cell by hand whose numbers are not finite, as single precision gives for
// coordinates beyond its range: JSON used to get a bare nan or inf.
TEST(CellFiles, NonFiniteNumbersStayReadable) {
  test::ScratchDir dir;
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const SeedTable seeds{{0.5, 0.5}, {0}, {}};
  host::PowerDiagram d;
  d.cell_begin = {0, 2};
  d.xs = {inf, -inf};
  d.ys = {-nan, 0.25};
  d.neighbours = {host::domain_edge, host::infinite_edge};
  d.areas = {nan};
  d.centroid_x = {-nan};
  d.centroid_y = {inf};
  d.empty = {0};
  d.unbounded = {0};
  const tools::DiagramView view{seeds, d, host::Box{}, host::CellPrecision::single_precision};
  {
    tools::AtomicFile json(dir / "c.json"), csv(dir / "c.csv");
    tools::write_cells_json(json, view);
    tools::write_cells_csv(csv, view);
    json.commit();
    csv.commit();
  }
  const std::string json = test::read_text(dir / "c.json");
  EXPECT_TRUE(json.find("\"area\":null,\"centroid\":[null,null]") != std::string::npos) << json;
  EXPECT_TRUE(json.find("\"vertices\":[[null,null],[null,0.25]],\"neighbours\":[\"box\",\"inf\"]") !=
              std::string::npos)
      << json;
  EXPECT_EQ(json.find("nan"), std::string::npos);
  EXPECT_EQ(test::read_text(dir / "c.csv").substr(test::read_text(dir / "c.csv").find('\n') + 1),
            "0,0.5,0.5,0,nan,nan,inf,0,0,inf nan -inf 0.25,box inf\n");
}

// ---- Output sets ----------------------------------------------------------------

TEST(SameFile, ComparesIdentityOrNormalisedPaths) {
  test::ScratchDir dir;
  test::write_text(dir / "a.csv", "a");
  test::write_text(dir / "b.csv", "b");
  std::filesystem::create_hard_link(dir / "a.csv", dir / "hard.csv");
  std::filesystem::create_symlink("a.csv", dir / "soft.csv");
  EXPECT_TRUE(tools::same_file(dir / "a.csv", dir / "hard.csv"));
  EXPECT_TRUE(tools::same_file(dir / "a.csv", dir / "soft.csv"));
  EXPECT_TRUE(tools::same_file(dir / "a.csv", dir / "." / "a.csv"));
  EXPECT_FALSE(tools::same_file(dir / "a.csv", dir / "b.csv"));
  EXPECT_TRUE(tools::same_file(dir / "new.csv", dir / "x" / ".." / "new.csv"));  // neither exists
  EXPECT_FALSE(tools::same_file(dir / "new.csv", dir / "a.csv"));
}

// Replacing the seed file with its cells, or one output with another, used
// to succeed with exit 0.
TEST(OutputSet, RefusesTheInputAndRepeatedOutputs) {
  test::ScratchDir dir;
  test::write_text(dir / "in.csv", "0,0\n");
  const std::string in = (dir / "in.csv").string();
  tools::OutputSet set(dir / "in.csv");
  EXPECT_EQ(error_of([&] { set.add(dir / "." / "in.csv", "--output"); }),
            (dir / "." / "in.csv").string() + ": --output names the input file " + in +
                ", which it would replace: choose another output");
  set.add(dir / "x.csv", "--output");
  EXPECT_EQ(error_of([&] { set.add(dir / "x.csv", "--svg"); }),
            (dir / "x.csv").string() + ": --svg names the same file as --output: give each output its own file");
}

// A run whose second output failed used to have replaced the first already.
TEST(OutputSet, NoTargetIsReplacedUnlessEveryOutputIsWritten) {
  test::ScratchDir dir;
  std::filesystem::create_directory(dir / "gone");
  test::write_text(dir / "keep.csv", "precious\n");
  {
    tools::OutputSet set(std::nullopt);
    tools::TextOutput& first = set.add(dir / "keep.csv", "--output");
    tools::TextOutput& second = set.add(dir / "gone" / "p.svg", "--svg");
    std::filesystem::remove(dir / "gone");  // the second output's directory vanishes during the run
    first.write("new\n");
    EXPECT_NE(error_of([&] {
                second.write("<svg/>");
                set.commit();
              }),
              "(no error)");
  }
  EXPECT_EQ(test::read_text(dir / "keep.csv"), "precious\n");
  EXPECT_EQ(dir.listing(), std::vector<std::string>{"keep.csv"});
}

TEST(AtomicFile, MissingDirectoryIsReportedAtOnce) {
  test::ScratchDir dir;
  const auto target = dir / "no" / "out.csv";
  EXPECT_EQ(error_of([&] { tools::AtomicFile out(target); }),
            target.string() + ": cannot create a file in " + (dir / "no").string() + ": No such file or directory");
}

}  // namespace
}  // namespace vorn
