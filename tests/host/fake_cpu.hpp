// CPUs with chosen features, for the selection's CpuHas seam: the choice of
// builds and the check of library notes are tested for any CPU without ever
// running an instruction the real one lacks.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "host/isa_selection.hpp"

namespace vorn::test {

// A CPU with exactly the features named (space-separated).
inline isa::CpuHas cpu_with(std::string const& features) {
  std::set<std::string> have;
  std::size_t start = 0;
  while (start < features.size()) {
    std::size_t const end = features.find(' ', start);
    have.insert(features.substr(start, end - start));
    start = end == std::string::npos ? features.size() : end + 1;
  }
  return [have](std::string_view f) { return have.count(std::string(f)) != 0; };
}

inline std::string const avx2_cpu = "sse4.1 avx avx2 fma bmi bmi2 popcnt";
inline std::string const avx512_cpu = avx2_cpu + " avx512f avx512vl avx512dq avx512bw";

}  // namespace vorn::test
