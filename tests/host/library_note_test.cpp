// Library files are checked by their CPU-feature note before they are loaded:
// the note of every build matches its level, a file built for features the
// (faked) CPU lacks, a file without the note and a file that is no ELF
// library at all are refused, and none of them is mapped.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_cpu.hpp"
#include "host/library_note.hpp"
#include "vorn/build_isa.hpp"
#include "vorn/host/unit_library.hpp"
#include "vorn/unit_entries.hpp"

namespace vorn {
namespace {

using test::cpu_with;

std::filesystem::path built_file(build::LibraryBuild const& b) {
  return host::unit_directory() / "vorn" / std::string(b.level) / ("lib" + std::string(b.library) + ".so");
}

// The build of `library` with the most features; the x86-64 build when that is all there is.
build::LibraryBuild const& richest_build(std::string_view library) {
  build::LibraryBuild const* best = nullptr;
  for (auto const& b : build::library_builds) {
    if (b.library == library && (best == nullptr || b.features.size() > best->features.size())) best = &b;
  }
  return *best;
}

build::LibraryBuild const& portable_build(std::string_view library) { return *isa::build_for(library, 0); }

std::string spaced(std::string text) {
  std::replace(text.begin(), text.end(), ',', ' ');
  return text;
}

// Whether the loader has `file` mapped; asks without loading it.
bool is_loaded(std::filesystem::path const& file) {
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

// A directory of its own per test, and library copies in it: a copy has a
// path of its own, so the loader has never mapped it before the test does.
class LibraryFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    auto const* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("vorn_note_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string bytes_of(std::filesystem::path const& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::filesystem::path write(std::string const& name, std::string const& bytes) const {
    std::filesystem::path const file = dir_ / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

  std::filesystem::path const& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

// `bytes` with every occurrence of `from` replaced by `to`, of the same
// length; fails the test when there is none.
std::string replaced(std::string bytes, std::string const& from, std::string const& to) {
  EXPECT_EQ(from.size(), to.size());
  std::size_t found = 0;
  for (std::size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + from.size()), ++found) {
    bytes.replace(at, from.size(), to);
  }
  EXPECT_GT(found, 0u) << "no " << from;
  return bytes;
}

// The descriptor bytes of a build's note: level, NUL, comma-separated features, NUL.
std::string descriptor_of(build::LibraryBuild const& b) {
  std::string features(b.features);
  std::replace(features.begin(), features.end(), ' ', ',');
  return std::string(b.level) + std::string(1, '\0') + features + std::string(1, '\0');
}

TEST(LibraryNotes, EveryBuiltLibraryCarriesTheNoteOfItsLevel) {
  int checked = 0;
  for (auto const& b : build::library_builds) {
    isa::LibraryNote const note = isa::read_library_note(built_file(b));
    EXPECT_EQ(note.level, b.level) << built_file(b);
    EXPECT_EQ(spaced(note.features), b.features) << built_file(b);
    ++checked;
  }
  EXPECT_EQ(checked, static_cast<int>(std::size(build::library_builds)));
}

// The table and the file disagree: the file found says it needs more than
// the CPU has. Refused before dlopen, so the copy is never mapped.
TEST_F(LibraryFiles, ALibraryBuiltForAFeatureTheCpuLacksIsRefusedBeforeLoading) {
  build::LibraryBuild const& b = richest_build("unit_cell_engine_2d");
  if (b.features.empty()) GTEST_SKIP() << "only the x86-64 build is built in this configuration";
  std::filesystem::path const copy = write("engine.so", bytes_of(built_file(b)));
  std::string const features(b.features);
  std::string const last = features.substr(features.rfind(' ') + 1);
  auto const all_but_last = cpu_with(features.substr(0, features.rfind(' ')));
  try {
    isa::open_library(copy, all_but_last);
    FAIL() << "loaded on a CPU without " << last;
  } catch (std::runtime_error const& e) {
    EXPECT_EQ(std::string(e.what()), "cannot load " + copy.string() + ": built for CPU features this CPU lacks: " +
                                         last + " (level " + std::string(b.level) + ")");
  }
  EXPECT_FALSE(is_loaded(copy));
  EXPECT_NO_THROW(isa::require_note_features(copy, cpu_with(features)));
}

// The same through the host's own loading: a unit whose note names a feature
// no CPU has ("sse9.9") is refused, although the table lets the level load.
TEST_F(LibraryFiles, AUnitWhoseNoteNamesAnUnknownFeatureIsRefusedByTheHost) {
  build::LibraryBuild const& b = richest_build(units::unit_image_mass_3d.library);
  if (b.features.find("sse4.1") == std::string_view::npos) GTEST_SKIP() << "no build of the mass unit uses SSE4.1";
  try {
    host::require_isa_level(host::isa_level_named(b.level));
  } catch (std::exception const& e) {
    GTEST_SKIP() << e.what();
  }
  std::string const descriptor = descriptor_of(b);
  std::string const forged = replaced(descriptor, "sse4.1", "sse9.9");
  std::filesystem::path const copy =
      write("vorn/" + std::string(b.level) + "/lib" + std::string(b.library) + ".so",
            replaced(bytes_of(built_file(b)), descriptor, forged));
  EXPECT_EQ(isa::read_library_note(copy).features.find("sse9.9") != std::string::npos, true);
  try {
    host::UnitLibrary const unit(units::unit_image_mass_3d.library, units::unit_image_mass_3d.symbol,
                                 host::isa_level_named(b.level), dir());
    FAIL() << "loaded " << copy;
  } catch (std::runtime_error const& e) {
    EXPECT_NE(std::string(e.what()).find(copy.string() + ": built for CPU features this CPU lacks: sse9.9"),
              std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(is_loaded(copy));
}

TEST_F(LibraryFiles, ALibraryWithoutTheNoteIsRefused) {
  std::filesystem::path const copy =
      write("renamed.so", replaced(bytes_of(built_file(portable_build("unit_cell_engine_2d"))), ".note.vorn.isa",
                                   ".note.vorn.old"));
  std::string const why = ": built without its CPU-feature note; rebuild it";
  try {
    isa::open_library(copy, cpu_with(test::avx512_cpu));
    FAIL() << "loaded " << copy;
  } catch (std::runtime_error const& e) {
    EXPECT_EQ(std::string(e.what()), "cannot load " + copy.string() + why);
  }
  EXPECT_FALSE(is_loaded(copy));
  // An ELF file that vorn did not build: this test program.
  std::filesystem::path const self = std::filesystem::canonical("/proc/self/exe");
  EXPECT_THROW(
      try { isa::read_library_note(self); } catch (std::runtime_error const& e) {
        EXPECT_EQ(std::string(e.what()), "cannot load " + self.string() + why);
        throw;
      },
      std::runtime_error);
}

// The copy with its note intact loads: the refusals above are the note's doing.
TEST_F(LibraryFiles, AnIntactCopyOfThePortableBuildLoads) {
  std::filesystem::path const copy = write("intact.so", bytes_of(built_file(portable_build("unit_cell_engine_2d"))));
  EXPECT_NE(isa::open_library(copy, cpu_with("")), nullptr);
  EXPECT_TRUE(is_loaded(copy));
}

template <class Field>
void patch(std::string& bytes, std::size_t offset, Field value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// Files a reader could trip over: each is refused with std::runtime_error
// naming the file and the reason, without reading outside what it holds
// (the sanitizer build checks that) and without loading anything.
TEST_F(LibraryFiles, TruncatedAndGarbageFilesAreRefusedCleanly) {
  std::string const real = bytes_of(built_file(portable_build("unit_cell_engine_2d")));
  ASSERT_GT(real.size(), 8192u);
  Elf64_Ehdr header{};
  std::memcpy(&header, real.data(), sizeof header);

  std::string class32 = real;
  class32[EI_CLASS] = ELFCLASS32;
  std::string big_endian = real;
  big_endian[EI_DATA] = ELFDATA2MSB;
  std::string no_names = real;
  patch(no_names, offsetof(Elf64_Ehdr, e_shstrndx), static_cast<Elf64_Half>(header.e_shnum));
  std::string no_sections = real;  // a count of 0 sends the reader to section 0, whose size says 0 too
  patch(no_sections, offsetof(Elf64_Ehdr, e_shnum), static_cast<Elf64_Half>(0));
  patch(no_sections, offsetof(Elf64_Ehdr, e_shstrndx), static_cast<Elf64_Half>(SHN_XINDEX));
  std::string many_sections = real;
  patch(many_sections, offsetof(Elf64_Ehdr, e_shnum), static_cast<Elf64_Half>(0xfeff));
  std::string far_sections = real;
  patch(far_sections, offsetof(Elf64_Ehdr, e_shoff), static_cast<Elf64_Off>(~0ull - 16));
  std::string wide_sections = real;
  patch(wide_sections, offsetof(Elf64_Ehdr, e_shentsize), static_cast<Elf64_Half>(32));
  // The note's descriptor size, just before "vorn\0\0\0\0x86-64\0": far past the section.
  std::string long_note = real;
  std::size_t const owner = real.find(std::string("vorn\0\0\0\0x86-64\0", 15));
  ASSERT_NE(owner, std::string::npos);
  patch(long_note, owner - 8, static_cast<std::uint32_t>(0x7fffffff));
  std::string unterminated = real;  // the two NULs of the descriptor overwritten
  unterminated.replace(owner + 8, 8, "x86-64ab");

  struct Case {
    char const* name;
    std::string bytes;
    char const* why;
  };
  Case const cases[] = {
      {"empty", "", "not an ELF file"},
      {"text", "#!/bin/sh\necho not a library\n", "not an ELF file"},
      {"magic only", real.substr(0, 4), "not an ELF file"},
      {"cut in the header", real.substr(0, 40), "truncated ELF file: its header is cut short"},
      {"32-bit", class32, "not a 64-bit little-endian ELF file"},
      {"big-endian", big_endian, "not a 64-bit little-endian ELF file"},
      {"cut before the section headers", real.substr(0, 4096),
       "truncated ELF file: its section headers lie beyond its end"},
      {"cut in the section headers", real.substr(0, real.size() - 100),
       "truncated ELF file: its section headers lie beyond its end"},
      {"section count past the end", many_sections, "truncated ELF file: its section headers lie beyond its end"},
      {"section headers at 2^64", far_sections, "truncated ELF file: its section headers lie beyond its end"},
      {"section header size", wide_sections, "malformed ELF file: unexpected section header size"},
      {"no sections", no_sections, "malformed ELF file: no sections"},
      {"names table out of range", no_names, "malformed ELF file: no table of section names"},
      {"note past its section", long_note, "its CPU-feature note is malformed; rebuild it"},
      {"note strings without NULs", unterminated, "its CPU-feature note is malformed; rebuild it"},
  };
  for (Case const& c : cases) {
    std::filesystem::path const file = write(std::string(c.name) + ".so", c.bytes);
    try {
      isa::open_library(file, cpu_with(test::avx512_cpu));
      ADD_FAILURE() << c.name << ": loaded";
    } catch (std::runtime_error const& e) {
      EXPECT_EQ(std::string(e.what()), "cannot load " + file.string() + ": " + c.why) << c.name;
    }
    EXPECT_FALSE(is_loaded(file)) << c.name;
  }
  try {
    isa::read_library_note(dir() / "missing.so");
    ADD_FAILURE() << "a missing file has a note";
  } catch (std::runtime_error const& e) {
    EXPECT_EQ(std::string(e.what()), "cannot load " + (dir() / "missing.so").string() +
                                         ": cannot open: No such file or directory");
  }
}

}  // namespace
}  // namespace vorn
