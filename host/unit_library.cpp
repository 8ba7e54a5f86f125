#include "vorn/host/unit_library.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "vorn/build_isa.hpp"

namespace vorn::host {

namespace {

bool cpu_has(std::string_view feature) {
  __builtin_cpu_init();
  // __builtin_cpu_supports needs literal names: every feature the build may list.
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

std::string loader_error() {
  const char* message = dlerror();
  return message != nullptr ? message : "unknown loader error";
}

}  // namespace

std::filesystem::path unit_directory() {
  if (const char* dir = std::getenv("VORN_LIB_DIR"); dir != nullptr && *dir != '\0') return dir;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&unit_directory), &info) != 0 && info.dli_fname != nullptr) {
    const std::filesystem::path self = std::filesystem::canonical(info.dli_fname);
    if (self.extension() == ".so" || self.string().find(".so.") != std::string::npos) return self.parent_path();
    return self.parent_path().parent_path() / "lib";  // a program in bin/ beside lib/
  }
  return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "lib";
}

void require_cpu_support(std::string_view library) {
  for (const auto& entry : build::library_isa) {
    if (entry.library != library) continue;
    std::string missing;
    std::string_view rest = entry.features;
    while (!rest.empty()) {
      const auto space = rest.find(' ');
      const auto feature = rest.substr(0, space);
      if (!feature.empty() && !cpu_has(feature)) missing += (missing.empty() ? "" : ", ") + std::string(feature);
      rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
    }
    if (!missing.empty()) {
      throw std::runtime_error("lib" + std::string(library) + ".so was built for CPU features this CPU lacks: " +
                               missing + " (rebuild with -DVORN_ISA=portable)");
    }
    return;
  }
}

UnitLibrary::UnitLibrary(std::string_view library, std::string_view symbol, const std::filesystem::path& directory) {
  require_cpu_support(library);
  const auto path = directory / ("lib" + std::string(library) + ".so");
  // RTLD_NODELETE: the unit, and with it libbrask_runtime, stays mapped after
  // dlclose. The runtime's pool threads live until the process ends and the
  // unit's queue handle is never released, so unmapping either would leave
  // workers running in unmapped code.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle_ == nullptr) throw std::runtime_error("cannot load " + path.string() + ": " + loader_error());
  entry_ = reinterpret_cast<Entry>(dlsym(handle_, std::string(symbol).c_str()));
  if (entry_ == nullptr) {
    const std::string message = loader_error();
    dlclose(handle_);
    throw std::runtime_error("cannot resolve " + std::string(symbol) + " in " + path.string() + ": " + message);
  }
}

UnitLibrary::UnitLibrary(UnitLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), entry_(std::exchange(other.entry_, nullptr)) {}

UnitLibrary::~UnitLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

}  // namespace vorn::host
