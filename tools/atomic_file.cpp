#include "atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

#include "signal_cleanup.hpp"
#include "tool_error.hpp"

namespace vorn::tools {

namespace {

namespace fs = std::filesystem;

std::string error_text(int error) { return std::strerror(error); }

// `path` with every symbolic link at its end followed: the file a write
// through it reaches. A dangling link yields the (absent) file it names.
fs::path followed(fs::path path, const fs::path& target) {
  for (int hops = 0;; ++hops) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    if (hops == 40) throw ToolError(target.string() + ": cannot write: " + error_text(ELOOP));
    std::error_code error;
    const fs::path link = fs::read_symlink(path, error);
    if (error) throw ToolError(target.string() + ": cannot follow the link: " + error.message());
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
}

// A hidden name for the temporary of `file`, unique in practice: six random
// characters as mkstemp uses. Long names are cut so that the temporary's
// name stays within the 255 bytes a directory entry allows.
std::string hidden_name(const std::string& file) {
  static std::mt19937_64 rng{std::random_device{}()};
  static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = "." + file.substr(0, 200) + ".tmp.";
  for (int i = 0; i < 6; ++i) name += letters[rng() % (sizeof letters - 1)];
  return name;
}

// Permissions of a newly created file under the process's umask.
mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// O_TMPFILE files are named at the end through /proc/self/fd; without /proc
// the named temporary is the only way.
bool anonymous_files_can_be_named() { return ::access("/proc/self/fd", X_OK) == 0; }

}  // namespace

AtomicFile::AtomicFile(fs::path target) : target_(std::move(target)) {
  destination_ = followed(target_, target_);
  if (destination_.filename().empty() || destination_.filename() == "." || destination_.filename() == "..") {
    fail("names a directory, not a file");
  }
  struct stat info {};
  if (::stat(destination_.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) fail("is a directory");
    if (!S_ISREG(info.st_mode)) {
      fail("is not a regular file: outputs go to a temporary file that then replaces the target, so a device or "
           "pipe cannot be one");
    }
    replaced_ = Replaced{info.st_mode & 07777, info.st_uid, info.st_gid};
  }
  dir_name_ = destination_.parent_path().string();
  if (dir_name_.empty()) dir_name_ = ".";
  dir_ = ::open(dir_name_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir_ < 0 || ::access(dir_name_.c_str(), W_OK | X_OK) != 0) {
    const int error = errno;
    if (dir_ >= 0) ::close(dir_);
    dir_ = -1;
    fail("cannot create a file in " + dir_name_ + ": " + error_text(error));
  }
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temporary_.empty()) ::unlinkat(dir_, temporary_.c_str(), 0);
  forget_temporary(cleanup_slot_);
  if (dir_ >= 0) ::close(dir_);
}

// Messages name the path as given and, for a link, the file it leads to.
void AtomicFile::fail(const std::string& what) const {
  const std::string via = destination_ == target_ ? "" : " -> " + destination_.string();
  throw ToolError(target_.string() + via + ": " + what);
}

// The temporary, made now that there is something to write.
void AtomicFile::open_temporary() {
  const mode_t mode = replaced_ ? replaced_->mode : new_file_mode();
  if (anonymous_files_can_be_named()) {
    fd_ = ::openat(dir_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    anonymous_ = fd_ >= 0;
  }
  while (fd_ < 0) {
    temporary_ = hidden_name(destination_.filename().string());
    cleanup_slot_ = remember_temporary(dir_, temporary_);  // before it exists: no moment unguarded
    fd_ = ::openat(dir_, temporary_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ >= 0) break;
    const int error = errno;
    forget_temporary(std::exchange(cleanup_slot_, -1));
    temporary_.clear();
    if (error != EEXIST) fail("cannot create a file in " + dir_name_ + ": " + error_text(error));
  }
  // Owner before mode: a change of owner clears set-id bits.
  if (replaced_ && (replaced_->owner != ::geteuid() || replaced_->group != ::getegid())) {
    if (::fchown(fd_, replaced_->owner, replaced_->group) != 0) {
      [[maybe_unused]] const int ignored = ::fchown(fd_, static_cast<uid_t>(-1), replaced_->group);
    }
  }
  ::fchmod(fd_, mode);
  buffer_.reserve(flush_size);
}

void AtomicFile::flush() {
  if (fd_ < 0) open_temporary();
  for (std::size_t done = 0; done < buffer_.size();) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail("cannot write: " + error_text(errno));
    done += static_cast<std::size_t>(n);
  }
  buffer_.clear();
}

// Links the anonymous temporary into the directory under a hidden name.
void AtomicFile::name_temporary() {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  for (;;) {
    temporary_ = hidden_name(destination_.filename().string());
    cleanup_slot_ = remember_temporary(dir_, temporary_);
    if (::linkat(AT_FDCWD, self.c_str(), dir_, temporary_.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
    const int error = errno;
    forget_temporary(std::exchange(cleanup_slot_, -1));
    temporary_.clear();
    if (error != EEXIST) fail("cannot write: " + error_text(error));
  }
  anonymous_ = false;
}

void AtomicFile::finish() {
  if (committed_ || (fd_ < 0 && !temporary_.empty())) return;
  flush();
  if (::fsync(fd_) != 0) fail("cannot write: " + error_text(errno));
  if (anonymous_) name_temporary();
  const int closed = ::close(std::exchange(fd_, -1));
  if (closed != 0 && errno != EINTR) fail("cannot write: " + error_text(errno));
}

void AtomicFile::commit() {
  finish();
  if (::renameat(dir_, temporary_.c_str(), dir_, destination_.filename().c_str()) != 0) {
    fail("cannot write: " + error_text(errno));
  }
  committed_ = true;
  forget_temporary(std::exchange(cleanup_slot_, -1));
  temporary_.clear();
}

}  // namespace vorn::tools
