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
  std::printf("consumer: 4 cells of area 0.25, mass 1 (%zu units)\n", std::size(vorn::units::all));
  return 0;
}
