// Whole .npy files: an array holding exactly as many values as its shape
// says, or a ToolError naming the file. What a header claims never makes
// the reader allocate more than the file holds (AddressSanitizer's
// allocation limit catches that).
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_check.hpp"
#include "npy.hpp"
#include "tool_error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vorn::fuzz::require;
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("vorn-fuzz-" + std::to_string(getpid()) + ".npy");
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    require(static_cast<bool>(file), "the input is written to its file");
  }
  try {
    const vorn::tools::NpyArray array = vorn::tools::read_npy(path);
    unsigned long long count = 1;
    for (const long long extent : array.shape) {
      require(extent >= 0, "extents are not negative");
      count *= static_cast<unsigned long long>(extent);
    }
    require(array.values.size() == count, "as many values as the shape says");
    require(size >= 8 * count, "no more values than the file holds");
  } catch (const vorn::tools::ToolError& e) {
    const std::string_view message = e.what();
    require(message.starts_with(path.string() + ": "), "the message names the file");
    require(vorn::fuzz::printable_message(message), "the message is printable");
  }
  std::filesystem::remove(path);
  return 0;
}
