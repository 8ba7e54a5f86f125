#include "vorn/host/unit_library.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "isa_selection.hpp"
#include "library_note.hpp"

namespace vorn::host {

namespace {

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

std::filesystem::path library_path(std::string_view library, IsaLevel level, const std::filesystem::path& directory) {
  IsaLevel const build_level = library_build_level(library, level);
  build::LibraryBuild const* build = isa::build_for(library, static_cast<int>(build_level));
  std::string const missing = isa::missing_features(build->features, isa::this_cpu_has);
  if (!missing.empty()) {
    throw std::runtime_error("the " + std::string(build->level) + " build of lib" + std::string(library) +
                             ".so needs CPU features this CPU lacks: " + missing);
  }
  return directory / "vorn" / std::string(build->level) / ("lib" + std::string(library) + ".so");
}

UnitLibrary::UnitLibrary(std::string_view library, std::string_view symbol, IsaLevel level,
                         const std::filesystem::path& directory) {
  const auto path = library_path(library, level, directory);
  // RTLD_NODELETE (open_library): the unit, and with it libbrask_runtime,
  // stays mapped after dlclose. The runtime's pool threads live until the
  // process ends and the unit's queue handle is never released, so unmapping
  // either would leave workers running in unmapped code.
  handle_ = isa::open_library(path, isa::this_cpu_has);
  entry_ = reinterpret_cast<Entry>(dlsym(handle_, std::string(symbol).c_str()));
  if (entry_ == nullptr) {
    const std::string message = loader_error();
    dlclose(handle_);
    throw std::runtime_error("cannot resolve " + std::string(symbol) + " in " + path.string() + ": " + message);
  }
  // Looked up through the unit's handle, so in the runtime that this unit
  // itself loaded.
  limit_threads_ = reinterpret_cast<ThreadLimit>(dlsym(handle_, "vorn_limit_caller_threads"));
}

UnitLibrary::UnitLibrary(UnitLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      entry_(std::exchange(other.entry_, nullptr)),
      limit_threads_(std::exchange(other.limit_threads_, nullptr)) {}

int UnitLibrary::call(void* const* record, const long long* shape_values, int threads) const {
  if (threads <= 0 || limit_threads_ == nullptr) return entry_(record, shape_values);
  struct Restore {
    ThreadLimit limit;
    int previous;
    ~Restore() { limit(previous); }
  } const restore{limit_threads_, limit_threads_(threads)};
  return entry_(record, shape_values);
}

UnitLibrary::~UnitLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

}  // namespace vorn::host
