#include "engine_support.hpp"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

#include "engine/simd/lane8.hpp"
#include "vorn/engine/engine_entry_names.hpp"
#include "vorn/host/unit_library.hpp"

namespace vorn::test {

char const* backend_name() { return VORN_TEST_BACKEND; }

std::string backend_unavailable() {
  if (std::strcmp(VORN_TEST_BACKEND, lane8::native::name) != 0) {
    return std::string("this build compiled the ") + VORN_TEST_BACKEND + " tests with the " + lane8::native::name +
           " lanes (instruction set not enabled for the build)";
  }
  try {
    host::require_isa_level(host::isa_level_named(VORN_TEST_ENGINE_LEVEL));
  } catch (std::exception const& e) {
    return e.what();
  }
  return {};
}

namespace {

EngineLibrary load_engine_file(std::string const& path) {
  EngineLibrary lib;
  lib.path = path;
  void* handle = dlopen(lib.path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error("cannot load " + lib.path + ": " + dlerror());
  lib.run32 = reinterpret_cast<EngineLibrary::Run32>(dlsym(handle, engine::engine_run_float_symbol));
  lib.run64 = reinterpret_cast<EngineLibrary::Run64>(dlsym(handle, engine::engine_run_double_symbol));
  if (lib.run32 == nullptr || lib.run64 == nullptr) throw std::runtime_error(lib.path + ": engine_run not exported");
  return lib;  // the library stays loaded for the life of the process
}

EngineLibrary load_engine(std::string const& level) {
  return load_engine_file((host::unit_directory() / "vorn" / level / "libunit_cell_engine_2d.so").string());
}
}  // namespace

EngineLibrary const& EngineLibrary::get() {
  static EngineLibrary const lib = load_engine(VORN_TEST_ENGINE_LEVEL);
  return lib;
}

EngineLibrary const& EngineLibrary::portable() {
  static EngineLibrary const lib = load_engine("x86-64");
  return lib;
}

EngineLibrary const& EngineLibrary::emulated_fma() {
  static EngineLibrary const lib = load_engine_file(VORN_TEST_EMULATED_FMA_ENGINE);
  return lib;
}

void EngineTest::SetUp() {
  std::string const why = backend_unavailable();
  if (!why.empty()) GTEST_SKIP() << why;
}

}  // namespace vorn::test
