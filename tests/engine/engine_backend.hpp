// The cell operations of one build of the engine core, as a table of entry
// points. backend_kernels.cpp is compiled once per instruction set into its
// own shared library; hidden visibility keeps each library's template
// instantiations apart, so one test binary can drive every build.
#pragma once

#include "vorn/engine/local2.hpp"

namespace vorn::test {

template <class T>
struct CellOps {
  int (*cut)(Local2<T>&, Plane<T, 2> const&);
  int (*cut_with_lines)(Local2<T>&, Plane<T, 2> const&);
  int (*cut_without_lines)(Local2<T>&, Plane<T, 2> const&);
  void (*grow_for)(Local2<T>&, Plane<T, 2> const&);
  int (*signed_values)(int n, T const* xs, T const* ys, Plane<T, 2> const& plane, T* dists);
  void (*edge_lines)(int n, T const* xs, T const* ys, T* nx, T* ny, T* offset);
};

struct EngineBackend {
  char const* lanes;  // lane helpers compiled in: "avx512", "avx2" or "portable"
  CellOps<float> f32;
  CellOps<double> f64;

  template <class T>
  CellOps<T> const& ops() const {
    if constexpr (sizeof(T) == 4) {
      return f32;
    } else {
      return f64;
    }
  }
};

}  // namespace vorn::test

#define VORN_TEST_BACKEND_EXPORT __attribute__((visibility("default")))
VORN_TEST_BACKEND_EXPORT vorn::test::EngineBackend const& engine_test_backend_avx512();
VORN_TEST_BACKEND_EXPORT vorn::test::EngineBackend const& engine_test_backend_avx2();
VORN_TEST_BACKEND_EXPORT vorn::test::EngineBackend const& engine_test_backend_portable();
