#include "text_output.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tool_error.hpp"

namespace vorn::tools {

void StandardOutput::flush() {
  for (std::size_t done = 0; done < buffer_.size();) {
    const ssize_t n = ::write(STDOUT_FILENO, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw ToolError(std::string("standard output: cannot write: ") + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
  buffer_.clear();
}

}  // namespace vorn::tools
