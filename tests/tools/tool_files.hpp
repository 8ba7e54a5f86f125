// Files for the tool tests: a scratch directory per test, and .npy files
// written byte by byte so that every header variant can be produced.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vorn::test {

// A fresh directory named after the running test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    path_ = std::filesystem::temp_directory_path() / ("vorn_" + name + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  // Names of everything in the directory, sorted.
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

inline void write_text(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A version 1.0 .npy file with the given header dictionary and raw data.
inline void write_npy_raw(const std::filesystem::path& path, const std::string& dict, const std::string& data) {
  std::string header = dict;
  while ((10 + header.size() + 1) % 64 != 0) header += ' ';
  header += '\n';
  std::string bytes = "\x93NUMPY";
  bytes += '\x01';
  bytes += '\x00';
  bytes += static_cast<char>(header.size() & 0xff);
  bytes += static_cast<char>(header.size() >> 8);
  write_text(path, bytes + header + data);
}

inline std::string shape_text(const std::vector<long long>& shape) {
  std::string s = "(";
  for (std::size_t i = 0; i < shape.size(); ++i) s += (i ? ", " : "") + std::to_string(shape[i]);
  return s + (shape.size() == 1 ? ",)" : ")");
}

// A '<f8' C-order array as numpy writes it.
inline void write_npy(const std::filesystem::path& path, const std::vector<long long>& shape,
                      const std::vector<double>& values) {
  std::string data(values.size() * sizeof(double), '\0');
  if (!values.empty()) std::memcpy(data.data(), values.data(), data.size());  // an empty vector may hold null
  write_npy_raw(path, "{'descr': '<f8', 'fortran_order': False, 'shape': " + shape_text(shape) + ", }", data);
}

}  // namespace vorn::test
