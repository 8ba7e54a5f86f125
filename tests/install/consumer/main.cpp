// A program outside the project: every installed host header compiles, and
// a power diagram and an image mass come out right through the installed
// libraries.
#include <cmath>
#include <cstdio>
#include <vector>

#include "vorn/build_isa.hpp"
#include "vorn/engine/cell_engine.hpp"
#include "vorn/host.hpp"
#include "vorn/unit_entries.hpp"

int main() {
  // Four equal seeds at the centres of the unit square's quadrants: four
  // quarter cells, each with two box edges and two neighbours.
  const std::vector<double> positions{0.25, 0.25, 0.75, 0.25, 0.25, 0.75, 0.75, 0.75};
  const vorn::host::PowerDiagram d = vorn::host::power_diagram(positions, {});
  for (int i = 0; i < 4; ++i) {
    if (d.vertex_count(i) != 4 || std::fabs(d.areas[i] - 0.25) > 1e-15) {
      std::fprintf(stderr, "cell %d: %lld vertices, area %.17g\n", i, static_cast<long long>(d.vertex_count(i)),
                   d.areas[i]);
      return 1;
    }
  }
  const std::vector<double> ones(8, 1.0);
  const double mass = vorn::host::image_mass(ones, {2, 2, 2}, {0.5, 0, 0, 0, 0.5, 0, 0, 0, 0.5});
  if (mass != 1.0) {
    std::fprintf(stderr, "mass %.17g, expected 1\n", mass);
    return 1;
  }
  // Every installed build of every library lies where the loader looks.
  for (const auto& build : vorn::build::library_builds) {
    const auto level = vorn::host::isa_level_named(build.level);
    try {
      vorn::host::require_isa_level(level);
    } catch (const std::exception&) {
      continue;  // a build this CPU cannot run is not loaded
    }
    if (vorn::host::library_path(build.library, level).parent_path().filename() != build.level) {
      std::fprintf(stderr, "the %s build of %s is not loaded at its level\n", build.level.data(), build.library.data());
      return 1;
    }
  }
  std::printf("consumer: 4 cells of area 0.25, mass 1 (%zu units), level %s, cell engine %s\n",
              std::size(vorn::units::all), vorn::host::isa_level_name(d.isa).data(),
              vorn::host::library_path("unit_cell_engine_2d", d.isa).string().c_str());
  return 0;
}
