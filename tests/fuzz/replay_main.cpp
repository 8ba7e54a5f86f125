// Runs a fuzz target over the files given (a directory stands for every file
// in it), without the fuzzer: the corpus of each target is a regression test
// in every build, with whatever sanitizers that build has.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_check.hpp"

namespace {

int replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", file.c_str());
    return 1;
  }
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int inputs = 0, failures = 0;
  for (int k = 1; k < argc; ++k) {
    const std::filesystem::path given(argv[k]);
    if (!std::filesystem::is_directory(given)) {
      failures += replay(given), ++inputs;
      continue;
    }
    for (const auto& entry : std::filesystem::directory_iterator(given)) {
      if (entry.is_regular_file()) failures += replay(entry.path()), ++inputs;
    }
  }
  std::printf("replayed %d inputs\n", inputs);
  return failures == 0 && inputs > 0 ? 0 : 1;
}
