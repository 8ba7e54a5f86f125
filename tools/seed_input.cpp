#include "seed_input.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "npy.hpp"
#include "printable.hpp"
#include "tool_error.hpp"

namespace vorn::tools {

namespace {

constexpr std::size_t seed_limit = std::size_t{1} << 31;  // the engine numbers seeds in 32 bits

// One comma-separated field: its text without padding or surrounding double
// quotes, and the 1-based column where it starts.
struct Field {
  std::string_view text;
  std::size_t column;
};

// `other`: a column of vorn-power's own cell files (seed, area, centroid_x,
// ...), which a seed file may keep: a cell file reads back as its seeds.
enum class Column { x, y, weight, target, other };

bool cell_file_column(std::string_view key) {
  static constexpr std::string_view names[] = {"seed",  "area",      "centroid_x", "centroid_y",
                                               "empty", "unbounded", "vertices",   "neighbours",
                                               "neighbour_shifts"};
  return std::find(std::begin(names), std::end(names), key) != std::end(names);
}

const char* column_name(Column c) {
  return c == Column::x ? "x" : c == Column::y ? "y" : c == Column::target ? "target" : "weight";
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The field's value if the whole field is a number (a leading '+' allowed).
// A number too small for a double reads as 0 or the nearest subnormal, as
// strtod gives it; one too large reads as infinity and is refused later.
std::optional<double> number(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (end != text.data() + text.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    // from_chars leaves `value` alone both for overflow and for underflow to
    // 0; strtod tells them apart. The programs never set a locale, so its
    // decimal point is '.'.
    return std::strtod(std::string(text).c_str(), nullptr);
  }
  if (error != std::errc{}) return std::nullopt;
  return value;
}

std::string lowercase(std::string_view text) {
  std::string s(text);
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// A first line of column names: no field is a number and some field starts
// like a word. ("1;2" is thus a malformed seed, not a header.)
bool is_header(const std::vector<Field>& fields) {
  const bool any_word = std::any_of(fields.begin(), fields.end(), [](const Field& f) {
    const char c = f.text.empty() ? '\0' : f.text[0];
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '\'';
  });
  return any_word && std::none_of(fields.begin(), fields.end(), [](const Field& f) { return number(f.text); });
}

class CsvReader {
 public:
  explicit CsvReader(std::string_view name) : name_(name) {}

  [[noreturn]] void fail(std::size_t line, std::size_t column, const std::string& what) const {
    throw ToolError(std::string(name_) + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what);
  }

  void add_line(std::string_view text, std::size_t line, SeedTable& seeds) {
    if (std::all_of(text.begin(), text.end(), is_blank)) return;
    const auto fields = split(text, line);
    const bool first = std::exchange(first_, false);
    if (first && is_header(fields)) {
      columns_ = header_columns(fields, line);
      has_target_ = std::find(columns_.begin(), columns_.end(), Column::target) != columns_.end();
      for (const Field& f : fields) header_names_.push_back(printable(f.text, 20));
      return;
    }
    check_field_count(fields, text, line);
    if (seeds.weights.size() + 1 >= seed_limit) fail(line, 1, "too many seeds: the count must stay below 2^31");
    double x = 0.0, y = 0.0, weight = 0.0, target = 0.0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const Column c = columns_.empty() ? static_cast<Column>(i) : columns_[i];
      if (c == Column::other) continue;
      const double v = value(fields[i], line, column_name(c));
      (c == Column::x ? x : c == Column::y ? y : c == Column::target ? target : weight) = v;
    }
    seeds.positions.push_back(x);
    seeds.positions.push_back(y);
    seeds.weights.push_back(weight);
    if (has_target_) seeds.targets.push_back(target);
  }

 private:
  // The fields of `line`, split at commas outside double quotes. A quoted
  // field ends at its closing quote ("" inside stands for one quote) and
  // may be padded outside the quotes only.
  std::vector<Field> split(std::string_view text, std::size_t line) const {
    std::vector<Field> fields;
    std::size_t at = 0;
    for (;;) {
      while (at < text.size() && is_blank(text[at])) ++at;
      const std::size_t begin = at;
      std::string_view field;
      if (at < text.size() && text[at] == '"') {
        std::size_t close = at + 1;
        while (close < text.size() && (text[close] != '"' || (close + 1 < text.size() && text[close + 1] == '"'))) {
          close += text[close] == '"' ? 2 : 1;
        }
        if (close >= text.size()) fail(line, begin + 1, "this quoted field has no closing quote");
        field = text.substr(at + 1, close - at - 1);
        at = close + 1;
        while (at < text.size() && is_blank(text[at])) ++at;
        if (at < text.size() && text[at] != ',') {
          fail(line, at + 1, "expected ',' after the quoted field, found '" + printable(text.substr(at)) + "'");
        }
      } else {
        at = std::min(text.find(',', at), text.size());
        std::size_t end = at;
        while (end > begin && is_blank(text[end - 1])) --end;
        field = text.substr(begin, end - begin);
      }
      fields.push_back({field, begin + 1});
      if (at == text.size()) return fields;
      ++at;
    }
  }

  // The meaning of each column, by its name: x, y and weight (or w), in any
  // case and order, besides the other columns of a cell file; anything else
  // (a misspelt weight, say) is refused rather than guessed at.
  std::vector<Column> header_columns(const std::vector<Field>& fields, std::size_t line) const {
    std::vector<Column> columns;
    for (const Field& f : fields) {
      std::string_view name = f.text;
      if (name.size() >= 2 && name.front() == '\'' && name.back() == '\'') name = name.substr(1, name.size() - 2);
      const std::string key = lowercase(name);
      const std::optional<Column> c = key == "x" ? std::optional(Column::x)
                                      : key == "y" ? std::optional(Column::y)
                                      : key == "weight" || key == "w" ? std::optional(Column::weight)
                                      : key == "target"               ? std::optional(Column::target)
                                      : cell_file_column(key)         ? std::optional(Column::other)
                                                                     : std::nullopt;
      if (!c) {
        fail(line, f.column,
             (name.empty() ? std::string("a column has no name") : "unknown column '" + printable(name) + "'") +
                 ": the header may name x, y, weight (or w) and target, and the other columns of vorn-power's cell "
                 "files");
      }
      if (*c != Column::other && std::find(columns.begin(), columns.end(), *c) != columns.end()) {
        fail(line, f.column, std::string("the header names the ") + column_name(*c) + " column twice");
      }
      columns.push_back(*c);
    }
    for (const Column needed : {Column::x, Column::y}) {
      if (std::find(columns.begin(), columns.end(), needed) == columns.end()) {
        fail(line, 1, std::string("the header has no ") + column_name(needed) + " column");
      }
    }
    return columns;
  }

  // Without a header a line holds x, y and an optional weight; with one, a
  // field for every named column.
  void check_field_count(const std::vector<Field>& fields, std::string_view text, std::size_t line) const {
    const std::size_t low = columns_.empty() ? 2 : columns_.size(), high = columns_.empty() ? 3 : columns_.size();
    if (fields.size() >= low && fields.size() <= high) return;
    const std::size_t column = fields.size() > high ? fields[high].column : text.size() + 1;
    if (columns_.empty()) {
      fail(line, column,
           "expected 2 or 3 fields (x, y and an optional weight), found " + std::to_string(fields.size()));
    }
    std::string names;
    for (const std::string& n : header_names_) names += (names.empty() ? "" : ", ") + n;
    fail(line, column,
         "expected " + std::to_string(high) + " fields (" + names + ", as the header says), found " +
             std::to_string(fields.size()));
  }

  double value(const Field& f, std::size_t line, const char* what) const {
    if (f.text.empty()) fail(line, f.column, std::string("expected a number (") + what + "), found an empty field");
    const auto v = number(f.text);
    if (!v) fail(line, f.column, std::string("expected a number (") + what + "), found '" + printable(f.text) + "'");
    if (!std::isfinite(*v)) {
      fail(line, f.column, std::string("the ") + what + " '" + printable(f.text) + "' is not a finite number");
    }
    return *v;
  }

  std::string_view name_;
  bool first_ = true;            // no non-blank line seen yet: a header may come
  std::vector<Column> columns_;  // from the header; empty without one
  bool has_target_ = false;      // the header names a target column
  std::vector<std::string> header_names_;  // the header's names, as shown in messages
};

std::string lowercase_extension(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

}  // namespace

SeedTable parse_csv_seeds(std::string_view text, std::string_view name) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a UTF-8 byte-order mark, as some editors write
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    throw ToolError(std::string(name) + ": the file is UTF-16 text: save it as UTF-8 or ASCII");
  }
  CsvReader reader(name);
  SeedTable seeds;
  std::size_t line = 1;
  for (std::size_t begin = 0; begin < text.size(); ++line) {
    const std::size_t newline = std::min(text.find('\n', begin), text.size());
    std::string_view row = text.substr(begin, newline - begin);
    if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
    reader.add_line(row, line, seeds);
    begin = newline + 1;
  }
  return seeds;
}

namespace {

// The seed count of an array of `shape`, refused unless (n, 2) or (n, 3).
std::size_t seed_rows(const std::filesystem::path& path, const std::vector<long long>& shape) {
  if (shape.size() != 2 || (shape[1] != 2 && shape[1] != 3)) {
    std::string dims;
    for (std::size_t i = 0; i < shape.size(); ++i) dims += (i ? ", " : "") + std::to_string(shape[i]);
    throw ToolError(input_name(path) + ": seeds need shape (n, 2) or (n, 3), the array has shape (" + dims + ")");
  }
  const std::size_t n = static_cast<std::size_t>(shape[0]);
  if (n >= seed_limit) throw ToolError(input_name(path) + ": " + std::to_string(n) + " seeds: the count must stay below 2^31");
  return n;
}

// The seeds of `values`, rows of `columns` values, the first being row
// `first_row` of the file.
SeedTable seeds_of_rows(const std::filesystem::path& path, const std::vector<double>& values, std::size_t columns,
                        std::size_t first_row) {
  const std::size_t n = values.size() / columns;
  SeedTable seeds{std::vector<double>(2 * n), std::vector<double>(n, 0.0), {}};
  static const char* const names[] = {"x", "y", "weight"};
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < columns; ++j) {
      const double v = values[i * columns + j];
      if (!std::isfinite(v)) {
        throw ToolError(input_name(path) + ": row " + std::to_string(first_row + i) + ", column " + std::to_string(j) +
                        " (" + names[j] + ") is not a finite number");
      }
      (j < 2 ? seeds.positions[2 * i + j] : seeds.weights[i]) = v;
    }
  }
  return seeds;
}

}  // namespace

SeedTable read_npy_seeds(const std::filesystem::path& path) {
  NpyArray array = read_npy(path);
  seed_rows(path, array.shape);
  return seeds_of_rows(path, array.values, static_cast<std::size_t>(array.shape[1]), 0);
}

SeedTable read_npy_seed_share(const std::filesystem::path& path, int part, int parts, long long& first_row,
                              long long& total_rows) {
  const NpyLayout layout = read_npy_layout(path);
  const std::size_t n = seed_rows(path, layout.header.shape);
  const auto columns = static_cast<std::size_t>(layout.header.shape[1]);
  const std::size_t first = n * static_cast<std::size_t>(part) / static_cast<std::size_t>(parts);
  const std::size_t end = n * static_cast<std::size_t>(part + 1) / static_cast<std::size_t>(parts);
  first_row = static_cast<long long>(first);
  total_rows = static_cast<long long>(n);
  return seeds_of_rows(path, read_npy_values(path, layout, first * columns, (end - first) * columns), columns, first);
}

namespace {

// The standard input, told apart by its first byte: 0x93 begins the .npy
// magic and never begins UTF-8 text.
SeedTable read_standard_input_seeds() {
  const int first = std::getc(stdin);
  if (first != EOF) std::ungetc(first, stdin);
  if (first == 0x93) return read_npy_seeds("-");
  std::string text;
  char chunk[1 << 16];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, stdin)) > 0;) text.append(chunk, got);
  if (std::ferror(stdin)) throw ToolError(std::string("standard input: cannot read: ") + std::strerror(errno));
  return parse_csv_seeds(text, input_name("-"));
}

}  // namespace

SeedTable read_seeds(const std::filesystem::path& path) {
  if (path == "-") return read_standard_input_seeds();
  const std::string ext = lowercase_extension(path);
  if (ext == ".npy") return read_npy_seeds(path);
  if (ext != ".csv") {
    throw ToolError(path.string() + ": unknown seed file type '" + ext + "': use .csv or .npy");
  }
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) throw ToolError(path.string() + ": is a directory, not a seed file");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw ToolError(path.string() + ": cannot open: " + std::strerror(errno));
  const std::string text(std::istreambuf_iterator<char>(file), {});
  if (file.bad()) throw ToolError(path.string() + ": cannot read: " + std::strerror(errno));
  return parse_csv_seeds(text, path.string());
}

}  // namespace vorn::tools
