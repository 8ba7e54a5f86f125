#include "cell_engine_library.hpp"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "library_note.hpp"
#include "per_level.hpp"
#include "vorn/engine/engine_entry_names.hpp"
#include "vorn/host/unit_library.hpp"

namespace vorn::host::detail {

namespace {

void* resolve(void* handle, const char* symbol, const std::string& path) {
  void* address = dlsym(handle, symbol);
  if (address == nullptr) throw std::runtime_error(path + " does not export engine_run (" + symbol + ")");
  return address;
}

CellEngineLibrary load(IsaLevel level) {
  const std::string path = library_path(cell_engine_library_name, level).string();
  // Never unloaded (open_library): engine calls may still be running on other threads at exit.
  void* handle = isa::open_library(path, isa::this_cpu_has);
  CellEngineLibrary lib;
  lib.run32 = reinterpret_cast<CellEngineLibrary::Run32>(resolve(handle, engine::engine_run_float_symbol, path));
  lib.run64 = reinterpret_cast<CellEngineLibrary::Run64>(resolve(handle, engine::engine_run_double_symbol, path));
  return lib;
}

}  // namespace

CellEngineLibrary const& cell_engine_library(IsaLevel level) {
  static PerLevel<CellEngineLibrary> loaded;
  return loaded.get(level, [&] { return load(level); });
}

}  // namespace vorn::host::detail
