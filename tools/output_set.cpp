#include "output_set.hpp"

#include <system_error>

#include "atomic_file.hpp"

#include "tool_error.hpp"

namespace vorn::tools {

namespace fs = std::filesystem;

bool same_file(const fs::path& a, const fs::path& b) {
  std::error_code error;
  if (fs::exists(a, error) && fs::exists(b, error)) {
    const bool same = fs::equivalent(a, b, error);
    if (!error) return same;
  }
  // Without both files there is no identity to compare: compare the paths
  // with "." and ".." and symbolic links in their existing parts resolved.
  const fs::path na = fs::weakly_canonical(fs::absolute(a, error), error);
  const fs::path nb = fs::weakly_canonical(fs::absolute(b, error), error);
  return na == nb;
}

bool OutputSet::uses_standard_output() const {
  for (const Output& o : outputs_) {
    if (o.file->target() == "-") return true;
  }
  return false;
}

TextOutput& OutputSet::add(const fs::path& target, std::string_view option) {
  if (target == "-") {
    for (const Output& o : outputs_) {
      if (o.file->target() == "-") {
        throw ToolError(std::string(option) + " and " + o.option +
                        " both name the standard output (-): only one output can go there");
      }
    }
    outputs_.push_back({std::string(option), std::make_unique<StandardOutput>()});
    return *outputs_.back().file;
  }
  if (input_ && same_file(target, *input_)) {
    throw ToolError(target.string() + ": " + std::string(option) + " names the input file " + input_->string() +
                    ", which it would replace: choose another output");
  }
  for (const Output& o : outputs_) {
    if (o.file->target() != "-" && same_file(target, o.file->target())) {
      throw ToolError(target.string() + ": " + std::string(option) + " names the same file as " + o.option +
                      ": give each output its own file");
    }
  }
  outputs_.push_back({std::string(option), std::make_unique<AtomicFile>(target)});
  return *outputs_.back().file;
}

void OutputSet::commit() {
  for (Output& o : outputs_) o.file->finish();
  for (Output& o : outputs_) o.file->commit();
}

}  // namespace vorn::tools
