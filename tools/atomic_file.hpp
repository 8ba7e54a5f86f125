// Output files that appear whole or not at all.
//
// Opening an AtomicFile checks its target without creating anything: the
// target's directory must exist and be writable, and the target, if it
// exists, must be a regular file. A symbolic link is followed, so the file
// it names is replaced and the link stays. So a doomed output is reported
// before any work, and a run stopped during its computation leaves no trace.
//
// The text goes to a temporary file in the target's directory, made when
// writing starts: an anonymous file (O_TMPFILE) where the filesystem has
// them, otherwise a hidden ".NAME.tmp.XXXXXX" that an interrupting signal
// removes (signal_cleanup.hpp). finish() gives it that hidden name and
// commit() renames it over the target, with the permission bits (and, where
// allowed, the owner) of the file it replaces. A file never committed is
// removed, so a failed run leaves neither a partial file nor a temporary.
#pragma once

#include <sys/types.h>

#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vorn::tools {

class AtomicFile {
 public:
  // Throws ToolError naming the target when it cannot be written.
  explicit AtomicFile(std::filesystem::path target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // The path as given, for messages.
  const std::filesystem::path& target() const { return target_; }
  // The file that commit() replaces: the target with symbolic links followed.
  const std::filesystem::path& destination() const { return destination_; }

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

  // Writes, syncs and closes the temporary file under its hidden name in
  // the target's directory; the target is untouched.
  void finish();
  // Renames the finished temporary over the target.
  void commit();

 private:
  static constexpr std::size_t flush_size = 1 << 20;
  void open_temporary();
  void name_temporary();
  void flush();
  [[noreturn]] void fail(const std::string& what) const;

  std::filesystem::path target_;
  std::filesystem::path destination_;
  std::string dir_name_;             // the destination's directory, for messages
  int dir_ = -1;                     // and open from the start
  struct Replaced {
    mode_t mode;  // permission bits, kept by the new file
    uid_t owner;
    gid_t group;
  };
  std::optional<Replaced> replaced_;  // the existing destination, if any
  int fd_ = -1;                      // the temporary, while being written
  bool anonymous_ = false;           // fd_ is an O_TMPFILE file with no name yet
  std::string temporary_;            // its hidden name in dir_, once it has one
  int cleanup_slot_ = -1;
  std::string buffer_;
  bool committed_ = false;
};

}  // namespace vorn::tools
