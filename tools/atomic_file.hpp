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

#include <filesystem>
#include <optional>
#include <string>

#include "text_output.hpp"

namespace vorn::tools {

class AtomicFile final : public TextOutput {
 public:
  // Throws ToolError naming the target when it cannot be written.
  explicit AtomicFile(std::filesystem::path target);
  ~AtomicFile() override;

  // The path as given, for messages.
  const std::filesystem::path& target() const override { return target_; }
  // The file that commit() replaces: the target with symbolic links followed.
  const std::filesystem::path& destination() const { return destination_; }

  // Writes, syncs and closes the temporary file under its hidden name in
  // the target's directory; the target is untouched.
  void finish() override;
  // Renames the finished temporary over the target.
  void commit() override;

 private:
  void open_temporary();
  void name_temporary();
  void flush() override;
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
  bool committed_ = false;
};

}  // namespace vorn::tools
