#include "cell_engine_library.hpp"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "vorn/host/unit_library.hpp"

namespace vorn::host::detail {

namespace {

constexpr char engine_library_name[] = "unit_cell_engine_2d";
// The library exports the two instantiations under their mangled names only.
constexpr char run32_symbol[] = "_ZN4vorn6engine10engine_runINS_6Local2IfEENS0_8BspSeedsIdxLi2ELb1ELb0EEEEEiRT_RKT0_x";
constexpr char run64_symbol[] = "_ZN4vorn6engine10engine_runINS_6Local2IdEENS0_8BspSeedsIdxLi2ELb1ELb0EEEEEiRT_RKT0_x";

void* resolve(void* handle, const char* symbol, const std::string& path) {
  void* address = dlsym(handle, symbol);
  if (address == nullptr) throw std::runtime_error(path + " does not export engine_run (" + symbol + ")");
  return address;
}

CellEngineLibrary load() {
  require_cpu_support(engine_library_name);
  const std::string path = (unit_directory() / ("lib" + std::string(engine_library_name) + ".so")).string();
  // Never unloaded: engine calls may still be running on other threads at exit.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* message = dlerror();
    throw std::runtime_error("cannot load " + path + ": " + (message != nullptr ? message : "unknown loader error"));
  }
  CellEngineLibrary lib;
  lib.run32 = reinterpret_cast<CellEngineLibrary::Run32>(resolve(handle, run32_symbol, path));
  lib.run64 = reinterpret_cast<CellEngineLibrary::Run64>(resolve(handle, run64_symbol, path));
  return lib;
}

}  // namespace

CellEngineLibrary const& cell_engine_library() {
  static const CellEngineLibrary lib = load();
  return lib;
}

}  // namespace vorn::host::detail
