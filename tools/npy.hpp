// Reading .npy files: little-endian float64 arrays in C order, the one kind
// the tools accept. Anything else is refused with a message saying what the
// file holds and what was expected.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vorn::tools {

struct NpyArray {
  std::vector<long long> shape;
  std::vector<double> values;  // row-major, last index fastest
};

// The header fields of a .npy file, as written in its header dictionary.
struct NpyHeader {
  std::string descr;
  bool fortran_order = false;
  std::vector<long long> shape;
};

// Parses the header dictionary text, e.g. "{'descr': '<f8', 'fortran_order':
// False, 'shape': (3, 2), }". Throws ToolError naming the first problem.
NpyHeader parse_npy_header(const std::string& text);

// Reads `path` ("-": the standard input); throws ToolError ("<path>: <problem>") unless it is a
// version 1, 2 or 3 .npy file holding a '<f8' C-order array whose data is
// exactly as long as its shape says. Nothing is allocated beyond what the
// file really holds, whatever its header claims; a shape with an extent of
// 0 is an empty array.
NpyArray read_npy(const std::filesystem::path& path);

// A regular .npy file's checked header and where its data starts, for
// reading part of the data by position.
struct NpyLayout {
  NpyHeader header;
  std::uint64_t data_offset = 0;  // bytes from the start of the file
};

// The layout of `path`, a regular file; throws ToolError ("<path>:
// <problem>") for what read_npy refuses, reading only the header.
NpyLayout read_npy_layout(const std::filesystem::path& path);

// Values [first, first + count) of the data that `layout` describes (as
// read_npy_layout gave it for `path`), read from their bytes only.
std::vector<double> read_npy_values(const std::filesystem::path& path, const NpyLayout& layout, std::uint64_t first,
                                    std::uint64_t count);

}  // namespace vorn::tools
