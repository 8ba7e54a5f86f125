// vorn-mass: the mass of a 3-D image. With a .npy file (float64, three axes,
// C order) it integrates that image over voxels spanned by the rows of the
// --axes matrix; with no file it generates a smooth density on a sheared grid
// over the unit cube and prints its mass.
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "build_level.hpp"
#include "npy.hpp"
#include "number_text.hpp"
#include "tool_error.hpp"
#include "vorn/host/image_mass.hpp"

namespace {

using vorn::tools::ToolError;

constexpr char usage[] =
    "usage: vorn-mass [--size N]\n"
    "       vorn-mass IMAGE.npy [--axes A00,A01,A02,A10,A11,A12,A20,A21,A22]\n"
    "\n"
    "Prints the mass of a density given on a 3-D voxel grid: the sum of the\n"
    "voxel values times the volume of one voxel.\n"
    "\n"
    "IMAGE is a float64 .npy array with three axes in C order (- reads it from\n"
    "the standard input). The axis matrix\n"
    "says where the voxels lie: row d (Ad0, Ad1, Ad2) is the step in space from\n"
    "one voxel to the next along image axis d, so a voxel's volume is |det A|.\n"
    "The default is the identity (unit cubes). For example\n"
    "  --axes 0.5,0,0,0,0.5,0,0,0,2       voxels of 0.5 x 0.5 x 2 (volume 0.5)\n"
    "  --axes 1,0,0,0.25,1,0,0,0,1        a step along image axis 1 also moves 1/4 in x\n"
    "A singular matrix makes the voxels flat: their volume, and the mass, is 0.\n"
    "\n"
    "Without IMAGE, the density exp(-8 |p - c|^2) (c the cube's centre) at the\n"
    "voxel centres of an N^3 grid over the unit cube, default N = 128, sheared as\n"
    "in the second example; the mass approaches (sqrt(pi/8) erf(sqrt 2))^3 =\n"
    "0.2140017... as N grows.\n"
    "\n"
    "  --size N     the generated grid's size, 1 to 1024\n"
    "  --version    the version and the library build this CPU gets\n"
    "  -h, --help   this text\n"
    "\n"
    "Exit status: 0 done, 1 the computation could not run, 2 bad command line or input.\n";

struct MassOptions {
  std::optional<std::string> image;
  long long size = 128;
  std::array<double, 9> axes{1, 0, 0, 0, 1, 0, 0, 0, 1};
  bool help = false;
  bool version = false;
};

std::array<double, 9> axes_value(std::string_view text) {
  std::array<double, 9> axes{};
  std::size_t count = 0, begin = 0;
  for (; begin <= text.size(); ++count) {
    const std::size_t comma = std::min(text.find(',', begin), text.size());
    const std::string_view field = text.substr(begin, comma - begin);
    double v = 0.0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), v);
    if (field.empty() || error != std::errc{} || end != field.data() + field.size() || !std::isfinite(v)) {
      throw ToolError("--axes: entry " + std::to_string(count + 1) + " '" + std::string(field) +
                      "' is not a finite number");
    }
    if (count < 9) axes[count] = v;
    begin = comma + 1;
  }
  if (count != 9) throw ToolError("--axes: expected 9 numbers (a 3 x 3 matrix, row by row), got " + std::to_string(count));
  return axes;
}

MassOptions parse(int argc, char** argv) {
  MassOptions o;
  bool size_given = false, axes_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else if (arg == "--size" || arg == "--axes") {
      if (i + 1 >= argc) throw ToolError(std::string(arg) + ": missing value");
      const std::string_view value = argv[++i];
      if (arg == "--axes") {
        o.axes = axes_value(value), axes_given = true;
        continue;
      }
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), o.size);
      if (error != std::errc{} || end != value.data() + value.size() || o.size < 1 || o.size > 1024) {
        throw ToolError("--size: expected an integer from 1 to 1024, got '" + std::string(value) + "'");
      }
      size_given = true;
    } else if (arg.starts_with("-") && arg != "-") {
      throw ToolError("unknown option '" + std::string(arg) + "' (see --help)");
    } else if (o.image) {
      throw ToolError("more than one image: '" + *o.image + "' and '" + std::string(arg) + "'");
    } else {
      o.image = std::string(arg);
    }
  }
  if (o.image && size_given) throw ToolError("--size sizes the generated image; it cannot go with an image file");
  if (!o.image && axes_given) throw ToolError("--axes applies to an image file");
  return o;
}

// Whether the voxels spanned by the rows of the axis matrix have no volume.
bool flat_voxels(const std::array<double, 9>& a) {
  const double det = a[0] * (a[4] * a[8] - a[5] * a[7]) - a[1] * (a[3] * a[8] - a[5] * a[6]) +
                     a[2] * (a[3] * a[7] - a[4] * a[6]);
  return det == 0.0;
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

// The image of `path`, refusing anything but three axes of finite values.
vorn::tools::NpyArray read_image(const std::string& path) {
  vorn::tools::NpyArray image = vorn::tools::read_npy(path);
  if (image.shape.size() != 3) {
    throw ToolError(vorn::tools::input_name(path) + ": an image needs three axes, the array has " +
                    std::to_string(image.shape.size()));
  }
  const auto& s = image.shape;
  for (std::size_t k = 0; k < image.values.size(); ++k) {
    if (std::isfinite(image.values[k])) continue;
    const long long i = static_cast<long long>(k);
    throw ToolError(vorn::tools::input_name(path) + ": voxel (" + std::to_string(i / (s[1] * s[2])) + ", " +
                    std::to_string(i / s[2] % s[1]) + ", " + std::to_string(i % s[2]) + ") is not a finite number");
  }
  return image;
}

int run(const MassOptions& o) {
  const vorn::host::IsaLevel level = vorn::tools::chosen_isa_level();
  std::vector<double> values;
  std::array<long long, 3> extents{o.size, o.size, o.size};
  std::array<double, 9> axes = o.axes;
  if (o.image) {
    vorn::tools::NpyArray image = read_image(*o.image);
    values = std::move(image.values);
    extents = {image.shape[0], image.shape[1], image.shape[2]};
  } else {
    values = generated_density(o.size);
    const double h = 1.0 / static_cast<double>(o.size);
    axes = {h, 0, 0, 0.25 * h, h, 0, 0, 0, h};  // sheared: volume is unchanged
  }
  const auto start = std::chrono::steady_clock::now();
  // The library answers an empty image itself, and refuses one whose strides
  // it could not form ((0, 2^32, 2^32)); a mass beyond the double range is
  // the image's fault too.
  double mass = 0.0;
  try {
    mass = vorn::host::image_mass(values, extents, axes, level);
  } catch (const std::invalid_argument& e) {
    throw ToolError((o.image ? vorn::tools::input_name(*o.image) + ": " : std::string()) + e.what());
  } catch (const std::range_error& e) {
    throw ToolError((o.image ? vorn::tools::input_name(*o.image) + ": " : std::string()) + e.what());
  }
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  std::printf("image %lld x %lld x %lld, %s\n", extents[0], extents[1], extents[2],
              o.image ? vorn::tools::input_name(*o.image).c_str() : "generated: exp(-8 |p - c|^2) over a sheared unit cube");
  std::printf("mass %s", vorn::tools::shortest(mass).c_str());
  if (!o.image) std::printf(" (the continuum value is 0.2140017..., approached as N grows)");
  if (mass == 0.0 && flat_voxels(axes)) {
    std::printf(" (the axis matrix is singular: the voxels are flat and hold no volume)");
  }
  std::printf("\ntime %.3f ms\nbuild %s\n", took.count(),
              vorn::tools::build_summary(level, {{"unit_image_mass_3d", "image mass unit"}}).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const MassOptions options = parse(argc, argv);
    if (options.help) {
      std::fputs(usage, stdout);
      return 0;
    }
    if (options.version) {
      std::printf("vorn-mass %s\nbuild        %s\n", VORN_VERSION,
                  vorn::tools::build_summary(vorn::tools::chosen_isa_level(), {{"unit_image_mass_3d", "image mass unit"}})
                      .c_str());
      return 0;
    }
    return run(options);
  } catch (const ToolError& e) {
    std::fprintf(stderr, "vorn-mass: error: %s\n", e.what());
    return 2;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "vorn-mass: error: out of memory\n");
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vorn-mass: error: %s\n", e.what());
    return 1;
  }
}
