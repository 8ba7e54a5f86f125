// Checks written once for both cell types: a failure names the type it
// happened in.
#pragma once

#include <gtest/gtest.h>

namespace vorn::test {

// check.operator()<T>() for T = double, then float, each under a trace that
// names it.
template <class Check>
void for_each_precision(Check const& check) {
  {
    SCOPED_TRACE("double cells");
    check.template operator()<double>();
  }
  {
    SCOPED_TRACE("float cells");
    check.template operator()<float>();
  }
}

}  // namespace vorn::test
