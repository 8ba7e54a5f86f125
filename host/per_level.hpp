// One lazily loaded object per instruction-set level, for libraries that a
// process opens once per level it uses and keeps until it exits.
#pragma once

#include <array>
#include <mutex>
#include <optional>

#include "vorn/host/isa_level.hpp"

namespace vorn::host {

template <class T>
class PerLevel {
 public:
  // The object of `level`, made by make() on the first call for that level.
  // A make() that throws leaves the level unloaded, so a later call retries.
  template <class Make>
  T const& get(IsaLevel level, Make&& make) {
    auto const k = static_cast<std::size_t>(level);
    std::call_once(once_[k], [&] { objects_[k].emplace(make()); });
    return *objects_[k];
  }

 private:
  std::array<std::once_flag, 3> once_;
  std::array<std::optional<T>, 3> objects_;
};

}  // namespace vorn::host
