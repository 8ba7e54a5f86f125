// What the fuzz targets check beyond "no crash, no sanitizer report": a
// broken invariant aborts with its description, which the fuzzer (or the
// corpus replay) reports as a finding together with the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace vorn::fuzz {

inline void require(bool holds, const char* invariant) {
  if (holds) return;
  std::fprintf(stderr, "fuzz invariant broken: %s\n", invariant);
  std::abort();
}

// An error message that a terminal shows as it is: no control bytes (the
// tools spell those out when they quote an input).
inline bool printable_message(std::string_view message) {
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return false;
  }
  return true;
}

}  // namespace vorn::fuzz

// The entry every target defines; libFuzzer or the corpus replay calls it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
