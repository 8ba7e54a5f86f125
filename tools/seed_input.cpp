#include "seed_input.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>

#include "npy.hpp"
#include "tool_error.hpp"

namespace vorn::tools {

namespace {

constexpr std::size_t seed_limit = std::size_t{1} << 31;  // the engine numbers seeds in 32 bits

// One comma-separated field: its text without padding and its 1-based column.
struct Field {
  std::string_view text;
  std::size_t column;
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::vector<Field> split_fields(std::string_view line) {
  std::vector<Field> fields;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = std::min(line.find(',', begin), line.size());
    std::size_t a = begin, b = comma;
    while (a < b && is_blank(line[a])) ++a;
    while (b > a && is_blank(line[b - 1])) --b;
    fields.push_back({line.substr(a, b - a), a + 1});
    if (comma == line.size()) return fields;
    begin = comma + 1;
  }
}

// The field's value if the whole field is a number (a leading '+' allowed).
std::optional<double> number(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) return std::numeric_limits<double>::infinity();
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool is_header(const std::vector<Field>& fields) {
  return std::all_of(fields.begin(), fields.end(), [](const Field& f) {
    const char c = f.text.empty() ? '\0' : f.text[0];
    return (std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '"' || c == '\'') && !number(f.text);
  });
}

class CsvReader {
 public:
  explicit CsvReader(std::string_view name) : name_(name) {}

  [[noreturn]] void fail(std::size_t line, std::size_t column, const std::string& what) const {
    throw ToolError(std::string(name_) + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what);
  }

  double value(const Field& f, std::size_t line, const char* what) const {
    if (f.text.empty()) fail(line, f.column, std::string("expected a number (") + what + "), found an empty field");
    const auto v = number(f.text);
    if (!v) fail(line, f.column, std::string("expected a number (") + what + "), found '" + std::string(f.text) + "'");
    if (!std::isfinite(*v)) {
      fail(line, f.column, std::string("the ") + what + " '" + std::string(f.text) + "' is not a finite number");
    }
    return *v;
  }

  void add_line(std::string_view text, std::size_t line, SeedTable& seeds) {
    if (std::all_of(text.begin(), text.end(), is_blank)) return;
    const auto fields = split_fields(text);
    if (first_ && is_header(fields)) {
      first_ = false;
      return;
    }
    first_ = false;
    if (fields.size() < 2 || fields.size() > 3) {
      const std::size_t column = fields.size() > 3 ? fields[3].column : text.size() + 1;
      fail(line, column,
           "expected 2 or 3 fields (x, y and an optional weight), found " + std::to_string(fields.size()));
    }
    if (seeds.weights.size() + 1 >= seed_limit) fail(line, 1, "too many seeds: the count must stay below 2^31");
    seeds.positions.push_back(value(fields[0], line, "x"));
    seeds.positions.push_back(value(fields[1], line, "y"));
    seeds.weights.push_back(fields.size() == 3 ? value(fields[2], line, "weight") : 0.0);
  }

 private:
  std::string_view name_;
  bool first_ = true;  // no non-blank line seen yet: a header may come
};

std::string lowercase_extension(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

}  // namespace

SeedTable parse_csv_seeds(std::string_view text, std::string_view name) {
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

SeedTable read_npy_seeds(const std::filesystem::path& path) {
  NpyArray array = read_npy(path);
  const auto& shape = array.shape;
  if (shape.size() != 2 || (shape[1] != 2 && shape[1] != 3)) {
    std::string dims;
    for (std::size_t i = 0; i < shape.size(); ++i) dims += (i ? ", " : "") + std::to_string(shape[i]);
    throw ToolError(path.string() + ": seeds need shape (n, 2) or (n, 3), the array has shape (" + dims + ")");
  }
  const std::size_t n = static_cast<std::size_t>(shape[0]), k = static_cast<std::size_t>(shape[1]);
  if (n >= seed_limit) throw ToolError(path.string() + ": " + std::to_string(n) + " seeds: the count must stay below 2^31");
  SeedTable seeds{std::vector<double>(2 * n), std::vector<double>(n, 0.0)};
  static const char* const columns[] = {"x", "y", "weight"};
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < k; ++j) {
      const double v = array.values[i * k + j];
      if (!std::isfinite(v)) {
        throw ToolError(path.string() + ": row " + std::to_string(i) + ", column " + std::to_string(j) + " (" +
                        columns[j] + ") is not a finite number");
      }
      (j < 2 ? seeds.positions[2 * i + j] : seeds.weights[i]) = v;
    }
  }
  return seeds;
}

SeedTable read_seeds(const std::filesystem::path& path) {
  const std::string ext = lowercase_extension(path);
  if (ext == ".npy") return read_npy_seeds(path);
  if (ext != ".csv") {
    throw ToolError(path.string() + ": unknown seed file type '" + ext + "': use .csv or .npy");
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) throw ToolError(path.string() + ": cannot open: " + std::strerror(errno));
  const std::string text(std::istreambuf_iterator<char>(file), {});
  if (file.bad()) throw ToolError(path.string() + ": cannot read: " + std::strerror(errno));
  return parse_csv_seeds(text, path.string());
}

}  // namespace vorn::tools
