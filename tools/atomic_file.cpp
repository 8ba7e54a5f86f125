#include "atomic_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tool_error.hpp"

namespace vorn::tools {

namespace {

// Permissions of a newly created file under the process's umask.
mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {
  std::filesystem::path dir = target_.parent_path();
  if (dir.empty()) dir = ".";
  std::string pattern = (dir / ("." + target_.filename().string() + ".tmp.XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) throw ToolError(target_.string() + ": cannot create a file in " + dir.string() + ": " + std::strerror(errno));
  temporary_ = name.data();
  ::fchmod(fd, new_file_mode());
  stream_ = ::fdopen(fd, "wb");
  if (stream_ == nullptr) {
    ::close(fd);
    fail(std::string("cannot open: ") + std::strerror(errno));
  }
  buffer_.reserve(flush_size);
}

AtomicFile::~AtomicFile() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

void AtomicFile::fail(const std::string& what) { throw ToolError(target_.string() + ": " + what); }

void AtomicFile::flush() {
  if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), stream_) != buffer_.size()) {
    fail(std::string("cannot write: ") + std::strerror(errno));
  }
  buffer_.clear();
}

void AtomicFile::finish() {
  if (stream_ == nullptr) return;
  flush();
  const bool written = std::fflush(stream_) == 0 && ::fsync(::fileno(stream_)) == 0;
  const int error = errno;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (!written || !closed) fail(std::string("cannot write: ") + std::strerror(written ? errno : error));
}

void AtomicFile::commit() {
  finish();
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) fail(std::string("cannot write: ") + std::strerror(errno));
  committed_ = true;
}

}  // namespace vorn::tools
