// Loading kernel units and calling their entries from a host.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::host {

// The directory the units are loaded from: $VORN_LIB_DIR when set, else the
// directory that holds the library containing this code, else ../lib next to
// the running program.
std::filesystem::path unit_directory();

// Throws std::runtime_error naming every CPU feature that `library` was built
// for and this CPU lacks, so that loading it cannot end in an illegal instruction.
void require_cpu_support(std::string_view library);

// A loaded kernel unit and its resolved entry brask_body_<hash>.
class UnitLibrary {
 public:
  using Entry = int (*)(void* const* record, const long long* shape_values);

  // Checks the CPU, dlopens lib<library>.so from `directory` and resolves `symbol`;
  // throws std::runtime_error with the loader's message on failure.
  UnitLibrary(std::string_view library, std::string_view symbol, const std::filesystem::path& directory);
  ~UnitLibrary();
  UnitLibrary(const UnitLibrary&) = delete;
  UnitLibrary& operator=(const UnitLibrary&) = delete;
  UnitLibrary(UnitLibrary&& other) noexcept;
  UnitLibrary& operator=(UnitLibrary&&) = delete;

  int call(void* const* record, const long long* shape_values) const { return entry_(record, shape_values); }
  Entry entry() const { return entry_; }

 private:
  void* handle_ = nullptr;
  Entry entry_ = nullptr;
};

// An argument record under construction: one triple (data, extents, reserved)
// per tensor, in the unit's triple order.
class ArgumentRecord {
 public:
  void add(const void* data, const long long* extents = nullptr) {
    slots_.push_back(const_cast<void*>(data));
    slots_.push_back(const_cast<long long*>(extents));
    slots_.push_back(nullptr);
  }
  void* const* data() const { return slots_.data(); }
  std::size_t triples() const { return slots_.size() / 3; }

 private:
  std::vector<void*> slots_;
};

}  // namespace vorn::host
