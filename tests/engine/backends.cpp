#include <cstring>
#include <string>

#include "cell_fixture.hpp"
#include "vorn/host/isa_level.hpp"

namespace vorn::test {

std::vector<BackendParam> const& all_backends() {
  static std::vector<BackendParam> const backends{{"avx512", &engine_test_backend_avx512},
                                                  {"avx2", &engine_test_backend_avx2},
                                                  {"portable", &engine_test_backend_portable}};
  return backends;
}

void BackendTest::SetUp() {
  BackendParam const& p = GetParam();
  if (std::strcmp(p.name, "portable") != 0) {
    try {
      host::require_isa_level(host::isa_level_named(p.name));
    } catch (std::exception const& e) {
      GTEST_SKIP() << e.what();
    }
  }
  if (std::strcmp(p.name, p.get().lanes) != 0) {
    GTEST_SKIP() << "the " << p.name << " build was compiled with the " << p.get().lanes << " lanes"
                 << " (instruction-set level not built in this configuration)";
  }
}

std::string backend_param_name(::testing::TestParamInfo<BackendParam> const& info) { return info.param.name; }

}  // namespace vorn::test
