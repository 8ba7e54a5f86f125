#include "npy.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "printable.hpp"
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
      fail("expected a dimension, found '" + printable(digits) + "'");
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
  if (w != "True" && w != "False") in.fail("expected True or False, found '" + printable(w) + "'");
  return w == "True";
}

std::string describe_shape(const std::vector<long long>& shape) {
  std::string s = "(";
  for (std::size_t i = 0; i < shape.size(); ++i) s += (i ? ", " : "") + std::to_string(shape[i]);
  return s + (shape.size() == 1 ? ",)" : ")");
}

// The byte count of the data that `shape` describes, or nothing on overflow.
// An extent of 0 makes the array empty whatever the other extents are, so
// (2^32, 2^32, 0) needs 0 bytes rather than overflowing on the way there.
std::optional<std::uint64_t> data_bytes(const std::vector<long long>& shape) {
  if (std::find(shape.begin(), shape.end(), 0) != shape.end()) return 0;
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
      in.fail("unknown key '" + printable(key) + "'");
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

// An open .npy file and how many bytes remain in it. Every allocation made
// while reading is first checked against what remains, so a length field or
// a shape that promises more than the file holds fails at once instead of
// allocating it. For a pipe, whose size is unknown, buffers grow only as
// bytes actually arrive.
class NpyFile {
 public:
  // "-" is the standard input.
  explicit NpyFile(const std::filesystem::path& path)
      : file_(path == "-" ? stdin : std::fopen(path.c_str(), "rb")), owned_(path != "-") {
    if (file_ == nullptr) throw ToolError(path.string() + ": cannot open: " + std::strerror(errno));
    struct stat info {};
    const bool known = ::fstat(::fileno(file_), &info) == 0;
    if (known && S_ISDIR(info.st_mode)) {
      if (owned_) std::fclose(file_);
      throw ToolError(path.string() + ": is a directory, not a .npy file");
    }
    sized_ = known && S_ISREG(info.st_mode);
    if (sized_) remaining_ = static_cast<std::uint64_t>(info.st_size);
  }
  ~NpyFile() {
    if (owned_) std::fclose(file_);
  }
  NpyFile(const NpyFile&) = delete;
  NpyFile& operator=(const NpyFile&) = delete;

  // Whether the file is a regular one, whose size is known.
  bool sized() const { return sized_; }

  // Bytes left in a regular file; nothing for a pipe or device.
  std::optional<std::uint64_t> remaining() const { return sized_ ? std::optional(remaining_) : std::nullopt; }

  // Exactly `size` bytes into `out`, false when the file ends first.
  bool read(char* out, std::size_t size) {
    const std::size_t got = std::fread(out, 1, size, file_);
    remaining_ -= std::min<std::uint64_t>(remaining_, got);
    return got == size;
  }

  // Up to `limit` bytes, in steps so that the buffer never outgrows what
  // the file really held; stops early at the end of the file.
  std::string read_up_to(std::uint64_t limit) {
    constexpr std::size_t step = 1 << 20;
    std::string bytes;
    while (bytes.size() < limit) {
      const std::size_t old = bytes.size();
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(step, limit - old));
      bytes.resize(old + want);
      const std::size_t got = std::fread(bytes.data() + old, 1, want, file_);
      bytes.resize(old + got);
      if (got < want) break;
    }
    remaining_ -= std::min<std::uint64_t>(remaining_, bytes.size());
    return bytes;
  }

 private:
  std::FILE* file_;
  bool owned_;
  // A plain count and a flag rather than an optional: GCC's -O3 takes the
  // optional's value for uninitialised where it is tested.
  std::uint64_t remaining_ = 0;
  bool sized_ = false;
};

// Magic, version and header length; leaves `file` at the first data byte.
std::string read_header_text(NpyFile& file) {
  char prefix[8];
  if (!file.read(prefix, 8) || std::memcmp(prefix, "\x93NUMPY", 6) != 0) {
    throw ToolError("not a .npy file (no \\x93NUMPY magic at the start)");
  }
  const int major = static_cast<unsigned char>(prefix[6]);
  if (major < 1 || major > 3) throw ToolError(".npy format version " + std::to_string(major) + " is not supported");
  unsigned char size[4] = {0, 0, 0, 0};
  const std::size_t size_bytes = major == 1 ? 2 : 4;
  if (!file.read(reinterpret_cast<char*>(size), size_bytes)) throw ToolError("truncated .npy header");
  const std::uint32_t length = size[0] | size[1] << 8 | size[2] << 16 | static_cast<std::uint32_t>(size[3]) << 24;
  if (file.remaining() && length > *file.remaining()) {
    throw ToolError("truncated .npy header: its length field says " + std::to_string(length) +
                    " bytes, only " + std::to_string(*file.remaining()) + " follow");
  }
  std::string text = file.read_up_to(length);
  if (text.size() != length) throw ToolError("truncated .npy header");
  return text;
}

void check_header(const NpyHeader& header) {
  if (header.descr != "<f8") {
    const bool big = !header.descr.empty() && header.descr[0] == '>';
    throw ToolError("data type '" + printable(header.descr) +
                    "' is not supported: expected little-endian float64 ('<f8')" +
                    (big ? " (this file is big-endian)" : ""));
  }
  if (header.fortran_order) {
    throw ToolError("Fortran-order arrays are not supported: save a C-order array (numpy.ascontiguousarray)");
  }
}

[[noreturn]] void wrong_data_size(const NpyHeader& header, std::optional<std::uint64_t> expected, std::uint64_t held) {
  throw ToolError("shape " + describe_shape(header.shape) + " needs " +
                  (expected ? std::to_string(*expected) : std::string("more than 2^64")) +
                  " bytes of data, the file holds " + std::to_string(held) +
                  (!expected || *expected > held ? " (truncated)" : ""));
}

// The data of a regular file, whose size is known: the size is checked
// before the array is allocated, and the bytes go straight into it.
std::vector<double> read_known_size_data(NpyFile& file, const NpyHeader& header) {
  const auto expected = data_bytes(header.shape);
  const std::uint64_t held = *file.remaining();
  if (!expected || *expected != held) wrong_data_size(header, expected, held);
  std::vector<double> values(static_cast<std::size_t>(held / sizeof(double)));
  if (!values.empty() && !file.read(reinterpret_cast<char*>(values.data()), static_cast<std::size_t>(held))) {
    throw ToolError("the file shrank or failed while being read");
  }
  return values;  // x86-64 is little-endian, like '<f8'
}

// The data of a pipe: read up to one byte more than the shape needs, so a
// longer stream is refused without holding more than that.
std::vector<double> read_streamed_data(NpyFile& file, const NpyHeader& header) {
  const auto expected = data_bytes(header.shape);
  if (!expected) throw ToolError("shape " + describe_shape(header.shape) + " needs more than 2^64 bytes of data");
  const std::string data = file.read_up_to(*expected + 1);
  if (data.size() > *expected) {
    throw ToolError("shape " + describe_shape(header.shape) + " needs " + std::to_string(*expected) +
                    " bytes of data, the stream holds more");
  }
  if (*expected != data.size()) wrong_data_size(header, expected, data.size());
  std::vector<double> values(data.size() / sizeof(double));
  if (!values.empty()) std::memcpy(values.data(), data.data(), data.size());
  return values;
}

}  // namespace

NpyArray read_npy(const std::filesystem::path& path) {
  NpyFile file(path);
  try {
    NpyHeader header = parse_npy_header(read_header_text(file));
    check_header(header);
    std::vector<double> values =
        file.remaining() ? read_known_size_data(file, header) : read_streamed_data(file, header);
    return {std::move(header.shape), std::move(values)};
  } catch (const ToolError& e) {
    throw ToolError(input_name(path) + ": " + e.what());
  }
}

NpyLayout read_npy_layout(const std::filesystem::path& path) {
  NpyFile file(path);
  try {
    if (!file.sized()) throw ToolError("not a regular file: its rows are read by position");
    const std::uint64_t size = *file.remaining();
    NpyHeader header = parse_npy_header(read_header_text(file));
    check_header(header);
    const std::uint64_t held = *file.remaining();
    const auto expected = data_bytes(header.shape);
    if (!expected || *expected != held) wrong_data_size(header, expected, held);
    return {std::move(header), size - held};
  } catch (const ToolError& e) {
    throw ToolError(input_name(path) + ": " + e.what());
  }
}

std::vector<double> read_npy_values(const std::filesystem::path& path, const NpyLayout& layout, std::uint64_t first,
                                    std::uint64_t count) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ToolError(input_name(path) + ": cannot open: " + std::strerror(errno));
  std::vector<double> values(static_cast<std::size_t>(count));
  auto* bytes = reinterpret_cast<char*>(values.data());
  const std::uint64_t total = count * sizeof(double);
  std::uint64_t done = 0;
  while (done < total) {
    const ssize_t got = ::pread(fd, bytes + done, static_cast<std::size_t>(total - done),
                                static_cast<off_t>(layout.data_offset + first * sizeof(double) + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      const std::string why = got < 0 ? std::strerror(errno) : "the file shrank while being read";
      ::close(fd);
      throw ToolError(input_name(path) + ": cannot read values " + std::to_string(first) + " to " +
                      std::to_string(first + count) + ": " + why);
    }
    done += static_cast<std::uint64_t>(got);
  }
  ::close(fd);
  return values;  // x86-64 is little-endian, like '<f8'
}

}  // namespace vorn::tools
