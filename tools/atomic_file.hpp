// Output files that appear whole or not at all: the text goes to a temporary
// file in the target's directory, which commit() renames over the target.
// A file that is never committed is removed, so a failed run leaves neither
// a partial file nor a stray temporary.
#pragma once

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace vorn::tools {

class AtomicFile {
 public:
  // Creates the temporary file now, so that an unwritable directory is
  // reported before any work; throws ToolError naming the target.
  explicit AtomicFile(std::filesystem::path target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  const std::filesystem::path& target() const { return target_; }

  // Buffered text output; throws ToolError when the disk refuses it.
  void write(std::string_view text) {
    if (buffer_.size() + text.size() > flush_size) flush();
    buffer_.append(text);
  }
  // Shortest text that reads back as the same double.
  void number(double value) {
    char text[32];
    write({text, static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text)});
  }
  void integer(long long value) {
    char text[24];
    write({text, static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text)});
  }
  // value with `decimals` digits after the point.
  void fixed(double value, int decimals) {
    char text[400];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    write({text, static_cast<std::size_t>(end - text)});
  }

  // Flushes, syncs and closes the temporary file; the target is untouched.
  void finish();
  // Renames the finished temporary over the target.
  void commit();

 private:
  static constexpr std::size_t flush_size = 1 << 20;
  void flush();
  [[noreturn]] void fail(const std::string& what);

  std::filesystem::path target_;
  std::filesystem::path temporary_;
  std::FILE* stream_ = nullptr;
  std::string buffer_;
  bool committed_ = false;
};

}  // namespace vorn::tools
