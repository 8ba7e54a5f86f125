// Whether these tests run under a sanitizer. Instrumentation (and, in the
// address-sanitizer build, the missing optimisation) makes loops ten to
// fifty times slower, so long searches and large inputs are cut down there:
// the sanitizers look for memory and threading faults, which a fraction of
// the cases reaches as well; the optimised builds still run every case.
#pragma once

namespace vorn::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool sanitized_build = true;
#else
inline constexpr bool sanitized_build = false;
#endif

// `count` in an optimised build, a tenth of it under a sanitizer.
constexpr int unless_sanitized(int count) { return sanitized_build ? count / 10 : count; }

}  // namespace vorn::test
