#include "density_image.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "npy.hpp"
#include "tool_error.hpp"

namespace vorn::tools {

namespace {

std::string lowercase_extension(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

// Reads PGM header fields: whitespace-separated decimal numbers, with '#'
// comments running to the end of their line.
class PgmHeader {
 public:
  PgmHeader(const std::string& bytes, std::size_t at, const std::string& name) : bytes_(bytes), at_(at), name_(name) {}

  long long number(const char* what, long long low, long long high) {
    skip_space_and_comments();
    long long value = 0;
    std::size_t digits = 0;
    while (at_ < bytes_.size() && std::isdigit(static_cast<unsigned char>(bytes_[at_])) && digits < 12) {
      value = 10 * value + (bytes_[at_++] - '0');
      ++digits;
    }
    if (digits == 0 || value < low || value > high) {
      throw ToolError(name_ + ": the PGM image's " + what + " must be a number from " + std::to_string(low) + " to " +
                      std::to_string(high));
    }
    return value;
  }
  // After the header's last number: exactly one whitespace byte before binary data.
  std::size_t data_start() const { return at_ + 1; }
  std::size_t at() const { return at_; }

 private:
  void skip_space_and_comments() {
    while (at_ < bytes_.size()) {
      if (bytes_[at_] == '#') {
        while (at_ < bytes_.size() && bytes_[at_] != '\n') ++at_;
      } else if (std::isspace(static_cast<unsigned char>(bytes_[at_]))) {
        ++at_;
      } else {
        break;
      }
    }
  }
  const std::string& bytes_;
  std::size_t at_;
  const std::string& name_;
};

host::PixelDensity read_pgm(const std::filesystem::path& path) {
  const std::string name = path.string();
  std::ifstream file(path, std::ios::binary);
  if (!file) throw ToolError(name + ": cannot open: " + std::strerror(errno));
  const std::string bytes(std::istreambuf_iterator<char>(file), {});
  if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '2' && bytes[1] != '5')) {
    throw ToolError(name + ": not a PGM image (P2 or P5)");
  }
  const bool binary = bytes[1] == '5';
  PgmHeader header(bytes, 2, name);
  const long long nx = header.number("width", 1, 1 << 20), ny = header.number("height", 1, 1 << 20);
  const long long maxval = header.number("maxval", 1, 65535);
  if (nx * ny > (1LL << 28)) throw ToolError(name + ": " + std::to_string(nx) + " x " + std::to_string(ny) +
                                             " pixels: at most 2^28 are taken");
  host::PixelDensity d{nx, ny, std::vector<double>(static_cast<std::size_t>(nx * ny))};
  const std::size_t bytes_per_value = maxval > 255 ? 2 : 1;
  std::size_t at = header.data_start();
  if (binary && bytes.size() < at + static_cast<std::size_t>(nx * ny) * bytes_per_value) {
    throw ToolError(name + ": the PGM image is truncated: " + std::to_string(nx) + " x " + std::to_string(ny) +
                    " pixels need " + std::to_string(nx * ny * static_cast<long long>(bytes_per_value)) +
                    " bytes of data");
  }
  PgmHeader text(bytes, header.at(), name);
  for (long long row = 0; row < ny; ++row) {
    for (long long col = 0; col < nx; ++col) {
      long long v = 0;
      if (!binary) {
        v = text.number("pixel values", 0, maxval);
      } else if (bytes_per_value == 1) {
        v = static_cast<unsigned char>(bytes[at++]);
      } else {
        v = static_cast<unsigned char>(bytes[at]) << 8 | static_cast<unsigned char>(bytes[at + 1]);
        at += 2;
      }
      if (v > maxval) throw ToolError(name + ": a pixel value exceeds the PGM maxval " + std::to_string(maxval));
      // The image's top row is the box's top: row ny - 1 of the density.
      d.values[static_cast<std::size_t>((ny - 1 - row) * nx + col)] =
          1.0 - static_cast<double>(v) / static_cast<double>(maxval);
    }
  }
  return d;
}

}  // namespace

host::PixelDensity read_density_image(const std::filesystem::path& path) {
  const std::string ext = lowercase_extension(path);
  if (ext == ".pgm") return read_pgm(path);
  if (ext != ".npy") throw ToolError(path.string() + ": unknown density image type '" + ext + "': use .npy or .pgm");
  NpyArray array = read_npy(path);
  if (array.shape.size() != 2 || array.shape[0] < 1 || array.shape[1] < 1) {
    throw ToolError(path.string() + ": a density image needs two axes (ny, nx), each at least 1");
  }
  return {array.shape[1], array.shape[0], std::move(array.values)};
}

}  // namespace vorn::tools
