#include "isa_selection.hpp"

#include <stdexcept>

namespace vorn::isa {

bool this_cpu_has(std::string_view feature) {
  __builtin_cpu_init();
  // __builtin_cpu_supports needs literal names: every feature a level may list.
#define VORN_FEATURE(name) \
  if (feature == name) return __builtin_cpu_supports(name);
  VORN_FEATURE("sse4.1")
  VORN_FEATURE("avx")
  VORN_FEATURE("avx2")
  VORN_FEATURE("fma")
  VORN_FEATURE("avx512f")
  VORN_FEATURE("avx512vl")
  VORN_FEATURE("avx512dq")
  VORN_FEATURE("avx512bw")
  VORN_FEATURE("bmi")
  VORN_FEATURE("bmi2")
  VORN_FEATURE("popcnt")
#undef VORN_FEATURE
  return false;
}

std::string missing_features(std::string_view features, CpuHas const& cpu_has) {
  std::string missing;
  while (!features.empty()) {
    auto const space = features.find(' ');
    auto const feature = features.substr(0, space);
    if (!feature.empty() && !cpu_has(feature)) missing += (missing.empty() ? "" : ", ") + std::string(feature);
    features = space == std::string_view::npos ? std::string_view{} : features.substr(space + 1);
  }
  return missing;
}

int level_named(std::string_view name) {
  std::string names;
  for (int k = 0; k < static_cast<int>(std::size(build::isa_levels)); ++k) {
    if (build::isa_levels[k].level == name) return k;
    names += (k == 0 ? "" : ", ") + std::string(build::isa_levels[k].level);
  }
  throw std::invalid_argument("unknown instruction-set level '" + std::string(name) + "' (levels: " + names + ")");
}

int choose_level(std::string_view forced, CpuHas const& cpu_has) {
  if (!forced.empty()) {
    int const level = level_named(forced);
    std::string const missing = missing_features(build::isa_levels[level].features, cpu_has);
    if (!missing.empty()) {
      throw std::runtime_error("instruction-set level " + std::string(forced) +
                               " needs CPU features this CPU lacks: " + missing);
    }
    return level;
  }
  int best = 0;
  for (int k = 0; k < static_cast<int>(std::size(build::isa_levels)); ++k) {
    if (missing_features(build::isa_levels[k].features, cpu_has).empty()) best = k;
  }
  return best;
}

build::LibraryBuild const* build_for(std::string_view library, int level) {
  build::LibraryBuild const* best = nullptr;
  int best_level = -1;
  for (auto const& b : build::library_builds) {
    if (b.library != library) continue;
    int const k = level_named(b.level);
    if (k <= level && k > best_level) best = &b, best_level = k;
  }
  return best;
}

}  // namespace vorn::isa
