// The output files of one run, checked together before any work and
// committed together after it.
//
// An output named "-" is the standard output (at most one may be). No
// other output may be the input or another output: compared by filesystem
// identity where both exist (hard links and symbolic links included),
// otherwise by their normalised absolute paths. No target is replaced until
// every output is completely written, so a run that fails on its second
// output still leaves the first one's old file as it was.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text_output.hpp"

namespace vorn::tools {

// Whether `a` and `b` name the same file, existing or not.
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

class OutputSet {
 public:
  // `input`: the file the run reads, which no output may replace.
  explicit OutputSet(std::optional<std::filesystem::path> input) : input_(std::move(input)) {}

  // Opens an output for `option` (such as "--svg", for messages); throws
  // ToolError when it would replace the input or an earlier output, or
  // cannot be written.
  TextOutput& add(const std::filesystem::path& target, std::string_view option);

  // Whether an output goes to the standard output.
  bool uses_standard_output() const;

  // Finishes every output, then renames each over its target.
  void commit();

 private:
  struct Output {
    std::string option;
    std::unique_ptr<TextOutput> file;
  };
  std::optional<std::filesystem::path> input_;
  std::vector<Output> outputs_;
};

}  // namespace vorn::tools
