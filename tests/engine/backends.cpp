#include <cstring>

#include "cell_fixture.hpp"

namespace vorn::test {

std::vector<BackendParam> const& all_backends() {
  static std::vector<BackendParam> const backends{{"avx512", &engine_test_backend_avx512},
                                                  {"portable", &engine_test_backend_portable}};
  return backends;
}

namespace {
bool cpu_runs_engine_isa() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
         __builtin_cpu_supports("popcnt");
}
}  // namespace

void BackendTest::SetUp() {
  BackendParam const& p = GetParam();
  if (std::strcmp(p.name, "avx512") == 0 && !cpu_runs_engine_isa()) {
    GTEST_SKIP() << "this CPU lacks AVX-512F/VL/DQ/BW, FMA or BMI1/2/POPCNT";
  }
  if (std::strcmp(p.name, p.get().lanes) != 0) {
    GTEST_SKIP() << "the " << p.name << " build was compiled with the " << p.get().lanes << " lanes"
                 << " (instruction set not available to this build)";
  }
}

std::string backend_param_name(::testing::TestParamInfo<BackendParam> const& info) { return info.param.name; }

}  // namespace vorn::test
