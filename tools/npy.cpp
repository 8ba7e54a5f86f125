#include "npy.hpp"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "tool_error.hpp"

namespace vorn::tools {

namespace {

// A cursor over the header dictionary, a Python literal.
class HeaderCursor {
 public:
  explicit HeaderCursor(const std::string& text) : text_(text) {}

  void skip_space() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool take(char c) {
    skip_space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void expect(char c, const char* what) {
    if (!take(c)) fail(std::string("expected ") + what);
  }
  std::string quoted() {
    skip_space();
    const char quote = at_ < text_.size() ? text_[at_] : '\0';
    if (quote != '\'' && quote != '"') fail("expected a quoted string");
    const std::size_t end = text_.find(quote, at_ + 1);
    if (end == std::string::npos) fail("unterminated string");
    std::string s = text_.substr(at_ + 1, end - at_ - 1);
    at_ = end + 1;
    return s;
  }
  std::string word() {
    skip_space();
    const std::size_t begin = at_;
    while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_')) ++at_;
    return text_.substr(begin, at_ - begin);
  }
  long long integer() {
    const std::string digits = word();
    if (digits.empty() || digits.size() > 18 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      fail("expected a dimension, found '" + digits + "'");
    }
    return std::stoll(digits);
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw ToolError("malformed .npy header at character " + std::to_string(at_ + 1) + ": " + what);
  }

 private:
  const std::string& text_;
  std::size_t at_ = 0;
};

std::vector<long long> parse_shape(HeaderCursor& in) {
  std::vector<long long> shape;
  in.expect('(', "'(' opening the shape");
  while (!in.take(')')) {
    shape.push_back(in.integer());
    if (!in.take(',')) {
      in.expect(')', "',' or ')' in the shape");
      break;
    }
  }
  return shape;
}

bool parse_bool(HeaderCursor& in) {
  const std::string w = in.word();
  if (w != "True" && w != "False") in.fail("expected True or False, found '" + w + "'");
  return w == "True";
}

std::string describe_shape(const std::vector<long long>& shape) {
  std::string s = "(";
  for (std::size_t i = 0; i < shape.size(); ++i) s += (i ? ", " : "") + std::to_string(shape[i]);
  return s + (shape.size() == 1 ? ",)" : ")");
}

// The byte count of the data that `shape` describes, or nothing on overflow.
std::optional<std::uint64_t> data_bytes(const std::vector<long long>& shape) {
  std::uint64_t count = sizeof(double);
  for (const long long extent : shape) {
    if (__builtin_mul_overflow(count, static_cast<std::uint64_t>(extent), &count)) return std::nullopt;
  }
  return count;
}

}  // namespace

NpyHeader parse_npy_header(const std::string& text) {
  HeaderCursor in(text);
  NpyHeader header;
  bool seen_descr = false, seen_order = false, seen_shape = false;
  in.expect('{', "'{' opening the header");
  while (!in.take('}')) {
    const std::string key = in.quoted();
    in.expect(':', "':' after a key");
    if (key == "descr") {
      header.descr = in.quoted(), seen_descr = true;
    } else if (key == "fortran_order") {
      header.fortran_order = parse_bool(in), seen_order = true;
    } else if (key == "shape") {
      header.shape = parse_shape(in), seen_shape = true;
    } else {
      in.fail("unknown key '" + key + "'");
    }
    if (!in.take(',')) {
      in.expect('}', "',' or '}' after a value");
      break;
    }
  }
  if (!seen_descr || !seen_order || !seen_shape) in.fail("the header needs 'descr', 'fortran_order' and 'shape'");
  return header;
}

namespace {

// Magic, version and header length; leaves `file` at the first data byte.
std::string read_header_text(std::ifstream& file) {
  char prefix[8];
  if (!file.read(prefix, 8) || std::memcmp(prefix, "\x93NUMPY", 6) != 0) {
    throw ToolError("not a .npy file (no \\x93NUMPY magic at the start)");
  }
  const int major = static_cast<unsigned char>(prefix[6]);
  if (major < 1 || major > 3) throw ToolError(".npy format version " + std::to_string(major) + " is not supported");
  unsigned char size[4] = {0, 0, 0, 0};
  const std::streamsize size_bytes = major == 1 ? 2 : 4;
  if (!file.read(reinterpret_cast<char*>(size), size_bytes)) throw ToolError("truncated .npy header");
  const std::uint32_t length = size[0] | size[1] << 8 | size[2] << 16 | static_cast<std::uint32_t>(size[3]) << 24;
  std::string text(length, '\0');
  if (!file.read(text.data(), length)) throw ToolError("truncated .npy header");
  return text;
}

void check_header(const NpyHeader& header) {
  if (header.descr != "<f8") {
    const bool big = !header.descr.empty() && header.descr[0] == '>';
    throw ToolError("data type '" + header.descr + "' is not supported: expected little-endian float64 ('<f8')" +
                    (big ? " (this file is big-endian)" : ""));
  }
  if (header.fortran_order) {
    throw ToolError("Fortran-order arrays are not supported: save a C-order array (numpy.ascontiguousarray)");
  }
}

}  // namespace

NpyArray read_npy(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw ToolError(path.string() + ": cannot open: " + std::strerror(errno));
  try {
    const NpyHeader header = parse_npy_header(read_header_text(file));
    check_header(header);
    const std::string data(std::istreambuf_iterator<char>(file), {});
    const auto expected = data_bytes(header.shape);
    if (!expected || *expected != data.size()) {
      throw ToolError("shape " + describe_shape(header.shape) + " needs " +
                      (expected ? std::to_string(*expected) : std::string("more than 2^64")) +
                      " bytes of data, the file holds " + std::to_string(data.size()) +
                      (expected && *expected > data.size() ? " (truncated)" : ""));
    }
    NpyArray array{header.shape, std::vector<double>(data.size() / sizeof(double))};
    std::memcpy(array.values.data(), data.data(), data.size());  // x86-64 is little-endian, like '<f8'
    return array;
  } catch (const ToolError& e) {
    throw ToolError(path.string() + ": " + e.what());
  }
}

}  // namespace vorn::tools
