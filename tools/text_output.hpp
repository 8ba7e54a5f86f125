// Buffered text output of the programs: a file that appears whole on commit
// (AtomicFile) or the standard output, written as it is made (StandardOutput).
#pragma once

#include <charconv>
#include <filesystem>
#include <string>
#include <string_view>

namespace vorn::tools {

class TextOutput {
 public:
  virtual ~TextOutput() = default;
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;

  // The output as the user named it, for messages ("-" for the standard output).
  virtual const std::filesystem::path& target() const = 0;

  // Throws ToolError when the destination refuses the text.
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

  // Everything written so far reaches its destination, except that a file
  // keeps its old content until commit().
  virtual void finish() = 0;
  // Makes the finished text the destination's content.
  virtual void commit() = 0;

 protected:
  static constexpr std::size_t flush_size = 1 << 20;
  TextOutput() = default;
  // Hands the buffer on and empties it.
  virtual void flush() = 0;

  std::string buffer_;
};

// The standard output, for an output named "-". A pipe cannot take text
// back, so what is written goes out in chunks as it is made.
class StandardOutput final : public TextOutput {
 public:
  StandardOutput() = default;
  const std::filesystem::path& target() const override { return name_; }
  void finish() override { flush(); }
  void commit() override { finish(); }

 private:
  void flush() override;
  std::filesystem::path name_ = "-";
};

}  // namespace vorn::tools
