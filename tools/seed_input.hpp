// Seed files of vorn-power: CSV text (a cell file of vorn-power among them)
// or .npy arrays.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace vorn::tools {

struct SeedTable {
  std::vector<double> positions;  // x then y per seed
  std::vector<double> weights;    // one per seed; 0 where the input gave none
  std::vector<double> targets;    // one per seed from a CSV header's target column, else none
};

// CSV text: one seed per line, "x,y" or "x,y,weight" (fields may be padded
// with spaces or tabs and wrapped in double quotes), blank lines ignored, a
// UTF-8 byte-order mark skipped. The first line may name the columns: when
// none of its fields is a number and one starts like a word, it is a header
// whose names (x, y, weight or w, target; any case, any order, quotes
// trimmed) say which column holds what, and every line then has one field per name; the
// other columns of vorn-power's cell files are skipped.
// Throws ToolError "<name>:<line>:<column>: <problem>" for the first bad
// field, with 1-based line and column, showing at most a short, escaped
// excerpt of the field.
SeedTable parse_csv_seeds(std::string_view text, std::string_view name);

// A float64 .npy array of shape (n, 2) (x, y) or (n, 3) (x, y, weight).
// Throws ToolError naming the file and, for a non-finite value, its row and column.
SeedTable read_npy_seeds(const std::filesystem::path& path);

// Share `part` of `parts` of a .npy seed file, rows n part / parts to
// n (part + 1) / parts (n the file's rows), read from those rows' bytes
// only and checked as read_npy_seeds checks the whole file, rows named by
// their numbers in the file. `first_row` receives the share's first row,
// `total_rows` n.
SeedTable read_npy_seed_share(const std::filesystem::path& path, int part, int parts, long long& first_row,
                              long long& total_rows);

// By extension: .csv or .npy (any case); throws ToolError for anything else.
// "-" is the standard input, a .npy stream or else CSV text.
SeedTable read_seeds(const std::filesystem::path& path);

}  // namespace vorn::tools
