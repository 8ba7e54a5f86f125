// Loading kernel units and calling their entries from a host.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "vorn/host/isa_level.hpp"

namespace vorn::host {

// The library directory: $VORN_LIB_DIR when set, else the directory that
// holds the library containing this code, else ../lib next to the running
// program. The builds of the units and the engine lie in its subdirectories
// vorn/<level>/.
std::filesystem::path unit_directory();

// The file of the build of `library` that a process at `level` loads (see
// library_build_level), after checking that this CPU has every feature the
// build table says that build was compiled for: throws std::runtime_error
// naming the missing ones. The file itself is not read here; its own
// CPU-feature note is checked when it is loaded (UnitLibrary), since the file
// found in `directory` need not be the one the table describes.
// `directory` stands for unit_directory().
std::filesystem::path library_path(std::string_view library, IsaLevel level,
                                   const std::filesystem::path& directory = unit_directory());

// A loaded kernel unit and its resolved entry brask_body_<hash>.
class UnitLibrary {
 public:
  using Entry = int (*)(void* const* record, const long long* shape_values);

  // Checks the CPU, reads the CPU-feature note of the file at
  // library_path(library, level, directory) and refuses it when this CPU
  // lacks a feature the note lists, when it has no note or is no ELF file;
  // then dlopens it and resolves `symbol`. Throws std::runtime_error naming
  // the file and the reason (the loader's message when loading fails).
  UnitLibrary(std::string_view library, std::string_view symbol, IsaLevel level = default_isa_level(),
              const std::filesystem::path& directory = unit_directory());
  ~UnitLibrary();
  UnitLibrary(const UnitLibrary&) = delete;
  UnitLibrary& operator=(const UnitLibrary&) = delete;
  UnitLibrary(UnitLibrary&& other) noexcept;
  UnitLibrary& operator=(UnitLibrary&&) = delete;

  int call(void* const* record, const long long* shape_values) const { return entry_(record, shape_values); }
  // The same call with its fills and kernel on at most `threads` threads of
  // the runtime's pool, this one included (0: on all of them). A runtime
  // that cannot limit a call runs it on the whole pool.
  int call(void* const* record, const long long* shape_values, int threads) const;
  Entry entry() const { return entry_; }

 private:
  using ThreadLimit = int (*)(int threads) noexcept;

  void* handle_ = nullptr;
  Entry entry_ = nullptr;
  ThreadLimit limit_threads_ = nullptr;  // the runtime's vorn_limit_caller_threads, if it has one
};

}  // namespace vorn::host
