// One build of the engine core; VORN_TEST_BACKEND_ENTRY names its table.
#include "engine/cell.hpp"
#include "engine_backend.hpp"

namespace {

template <class T>
constexpr vorn::test::CellOps<T> make_ops() {
  using vorn::Local2;
  using vorn::Plane;
  return {
      [](Local2<T>& c, Plane<T, 2> const& p) { return c.cut(p); },
      [](Local2<T>& c, Plane<T, 2> const& p) { return c.template cut_impl<true>(p); },
      [](Local2<T>& c, Plane<T, 2> const& p) { return c.template cut_impl<false>(p); },
      [](Local2<T>& c, Plane<T, 2> const& p) { c.grow_for(p); },
      &vorn::detail::signed_values<T>,
      &vorn::detail::edge_lines<T>,
  };
}

constexpr vorn::test::EngineBackend backend{vorn::simd::backend_name, make_ops<float>(), make_ops<double>()};

}  // namespace

vorn::test::EngineBackend const& VORN_TEST_BACKEND_ENTRY() { return backend; }
