// vorn-mass: the mass of a 3-D image. With no arguments it generates a smooth
// density on a sheared grid over the unit cube and prints its mass.
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/host/image_mass.hpp"

namespace {

int usage_error(const std::string& message) {
  std::fprintf(stderr, "vorn-mass: error: %s\nusage: vorn-mass [--size N]\n", message.c_str());
  return 2;
}

// A bump around the cube's centre, sampled at voxel centres of an N^3 grid.
std::vector<double> generated_density(long long n) {
  std::vector<double> values(static_cast<std::size_t>(n * n * n));
  std::size_t i = 0;
  for (long long a = 0; a < n; ++a) {
    for (long long b = 0; b < n; ++b) {
      for (long long c = 0; c < n; ++c) {
        const double x = (static_cast<double>(a) + 0.5) / static_cast<double>(n) - 0.5;
        const double y = (static_cast<double>(b) + 0.5) / static_cast<double>(n) - 0.5;
        const double z = (static_cast<double>(c) + 0.5) / static_cast<double>(n) - 0.5;
        values[i++] = std::exp(-8.0 * (x * x + y * y + z * z));
      }
    }
  }
  return values;
}

}  // namespace

int main(int argc, char** argv) {
  long long size = 128;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--size" && i + 1 < argc) {
      char* end = nullptr;
      size = std::strtoll(argv[++i], &end, 10);
      if (*end != '\0' || size < 1 || size > 1024) return usage_error("--size takes an integer from 1 to 1024");
    } else {
      return usage_error("unknown argument '" + std::string(arg) + "'");
    }
  }
  try {
    const auto values = generated_density(size);
    const double h = 1.0 / static_cast<double>(size);
    const std::array<double, 9> axes{h, 0, 0, 0.25 * h, h, 0, 0, 0, h};  // sheared: volume is unchanged
    const auto start = std::chrono::steady_clock::now();
    const double mass = vorn::host::image_mass(values, {size, size, size}, axes);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("image %lld x %lld x %lld, sheared unit cube\nmass %.17g\ntime %.3f ms\n", size, size, size, mass,
                took.count());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vorn-mass: error: %s\n", e.what());
    return 1;
  }
}
