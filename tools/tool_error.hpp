// The error the command-line programs report as "<program>: error: <what>"
// with exit status 2: a bad command line, an unreadable or malformed input
// file, or an output file that cannot be written.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace vorn::tools {

class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An input as messages name it: "-" is the standard input.
inline std::string input_name(const std::filesystem::path& path) {
  return path == "-" ? "standard input" : path.string();
}

}  // namespace vorn::tools
