// Shared pieces of the engine tests: the backend parameter with its skip
// rule, a snapshot of a cell, and bit-exact comparisons of its arrays.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "engine_backend.hpp"
#include "support/test_cell.hpp"

namespace vorn::test {

struct BackendParam {
  char const* name;                   // the instruction set this library was meant for
  EngineBackend const& (*get)();
};

std::vector<BackendParam> const& all_backends();

inline void PrintTo(BackendParam const& p, std::ostream* os) { *os << p.name; }

// Runs every test once per build; a build the machine cannot execute, or
// one that was compiled without its instruction set, is skipped with a reason.
class BackendTest : public ::testing::TestWithParam<BackendParam> {
 protected:
  void SetUp() override;
  EngineBackend const& backend() const { return GetParam().get(); }
  template <class T>
  CellOps<T> const& ops() const {
    return backend().ops<T>();
  }
};

std::string backend_param_name(::testing::TestParamInfo<BackendParam> const& info);

#define VORN_INSTANTIATE_FOR_BACKENDS(suite) \
  INSTANTIATE_TEST_SUITE_P(Backends, suite, ::testing::ValuesIn(::vorn::test::all_backends()), \
                           ::vorn::test::backend_param_name)

// Everything a failed cut must leave alone: the header and every array but
// the scratch.
template <class T>
struct CellSnapshot {
  Local2<T> header;
  std::vector<T> xs, ys, nx, ny, offset;
  std::vector<std::int32_t> ids;

  explicit CellSnapshot(TestCell<T> const& c)
      : header(c.cell), xs(c.xs), ys(c.ys), nx(c.nx), ny(c.ny), offset(c.offset), ids(c.ids) {}

  bool operator==(CellSnapshot const& o) const {
    auto same = [](auto const& a, auto const& b) {
      return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0;
    };
    return std::memcmp(&header, &o.header, sizeof header) == 0 && same(xs, o.xs) && same(ys, o.ys) &&
           same(nx, o.nx) && same(ny, o.ny) && same(offset, o.offset) && same(ids, o.ids);
  }
};

// Bit-exact check of the first values of an array, naming the first
// differing slot.
template <class T>
::testing::AssertionResult same_bits(T const* actual, std::vector<T> const& expected) {
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (bits(actual[i]) != bits(expected[i])) {
      return ::testing::AssertionFailure() << "slot " << i << ": got " << actual[i] << " (0x" << std::hex
                                           << bits(actual[i]) << "), want " << expected[i] << " (0x"
                                           << bits(expected[i]) << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult same_ids(std::int32_t const* actual, std::vector<std::int32_t> const& expected) {
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (actual[i] != expected[i]) {
      return ::testing::AssertionFailure() << "slot " << i << ": got " << actual[i] << ", want " << expected[i];
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace vorn::test
