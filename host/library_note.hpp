// The CPU-feature note of a library file (<vorn/isa_note.hpp>), read with
// plain file reads before the file is loaded, and the loading that it guards:
// the build table chose which file to look for, the note of the file found
// decides whether this CPU may load it. Loading code built for features the
// CPU lacks ends in an illegal instruction at a time nobody can catch.
#pragma once

#include <filesystem>
#include <string>

#include "isa_selection.hpp"

namespace vorn::isa {

// What a library says it was built for.
struct LibraryNote {
  std::string level;     // the instruction-set level, e.g. "avx2"
  std::string features;  // comma-separated, as __builtin_cpu_supports spells them; empty for x86-64
};

// The note of the ELF file at `file`. Throws std::runtime_error naming the
// file when it cannot be read, is not a 64-bit little-endian ELF file, is
// cut short, or carries no well-formed note.
LibraryNote read_library_note(std::filesystem::path const& file);

// Throws std::runtime_error naming the file, as read_library_note does, or
// naming the features of its note that `cpu_has` denies.
void require_note_features(std::filesystem::path const& file, CpuHas const& cpu_has);

// dlopen(file, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) once
// require_note_features(file, cpu_has) has passed; std::runtime_error with the
// loader's message when it fails. The library stays mapped for good.
void* open_library(std::filesystem::path const& file, CpuHas const& cpu_has);

}  // namespace vorn::isa
