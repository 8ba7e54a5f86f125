// The CPU-feature note of a library build: every unit and cell engine library
// carries, in section .note.vorn.isa, the instruction-set level it was built
// for and the CPU features it was compiled with, so that a host can read them
// from the file and refuse it before loading it on a CPU that lacks one. A
// section, not a symbol: the libraries' exported interface stays as it is.
//
// One ELF note, 4-byte words in the file's byte order:
//
//   offset  bytes  field
//   0       4      name size: 5, "vorn" and its NUL
//   4       4      descriptor size d: the two strings below, NULs included
//   8       4      note type: 1
//   12      8      "vorn", NUL-padded to a multiple of 4
//   20      d      level name, NUL, comma-separated features, NUL
//   20 + d         NUL padding to a multiple of 4
//
// Feature names are spelled as __builtin_cpu_supports spells them; a build
// for plain x86-64 has an empty feature list.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorn::isa_note {

inline constexpr char section_name[] = ".note.vorn.isa";
inline constexpr char owner[] = "vorn";
inline constexpr std::uint32_t note_type = 1;

// Bytes taken by a note field of `n` bytes.
constexpr std::size_t padded(std::size_t n) { return (n + 3) / 4 * 4; }

// The note of a build, level and features given as C strings of `Level` and
// `Features` bytes, NULs included.
template <std::size_t Level, std::size_t Features>
struct Note {
  std::uint32_t name_size;
  std::uint32_t descriptor_size;
  std::uint32_t type;
  char name[padded(sizeof owner)];
  char descriptor[padded(Level + Features)];
};

template <std::size_t Level, std::size_t Features>
constexpr Note<Level, Features> make_note(const char (&level)[Level], const char (&features)[Features]) {
  Note<Level, Features> note{};
  note.name_size = sizeof owner;
  note.descriptor_size = static_cast<std::uint32_t>(Level + Features);
  note.type = note_type;
  for (std::size_t i = 0; i < sizeof owner; ++i) note.name[i] = owner[i];
  for (std::size_t i = 0; i < Level; ++i) note.descriptor[i] = level[i];
  for (std::size_t i = 0; i < Features; ++i) note.descriptor[Level + i] = features[i];
  return note;
}

}  // namespace vorn::isa_note
