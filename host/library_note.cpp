#include "library_note.hpp"

#include <dlfcn.h>
#include <elf.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "vorn/isa_note.hpp"

namespace vorn::isa {

namespace {

[[noreturn]] void refuse(std::filesystem::path const& file, std::string const& why) {
  throw std::runtime_error("cannot load " + file.string() + ": " + why);
}

// A file read at byte offsets; every read is checked against the file's size
// first, so that no offset or size taken from the file is trusted.
class ByteFile {
 public:
  explicit ByteFile(std::filesystem::path const& file) : file_(std::fopen(file.c_str(), "rb"), std::fclose) {
    if (file_ == nullptr) refuse(file, std::string("cannot open: ") + std::strerror(errno));
    if (std::fseek(file_.get(), 0, SEEK_END) != 0 || (size_ = std::ftell(file_.get())) < 0) {
      refuse(file, "cannot read: not a regular file");
    }
  }

  // Whether the `count` bytes at `offset` lie inside the file.
  bool holds(std::uint64_t offset, std::uint64_t count) const {
    auto const size = static_cast<std::uint64_t>(size_);
    return offset <= size && count <= size - offset;
  }

  // The `count` bytes at `offset`, false when they do not lie inside the file.
  bool read(std::uint64_t offset, void* out, std::uint64_t count) const {
    if (!holds(offset, count)) return false;
    if (count == 0) return true;
    return std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) == 0 &&
           std::fread(out, 1, count, file_.get()) == count;
  }

 private:
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
  long size_ = 0;
};

Elf64_Ehdr elf_header(ByteFile const& in, std::filesystem::path const& file) {
  unsigned char ident[EI_NIDENT] = {};
  if (!in.read(0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) refuse(file, "not an ELF file");
  if (ident[EI_CLASS] != ELFCLASS64 || ident[EI_DATA] != ELFDATA2LSB) {
    refuse(file, "not a 64-bit little-endian ELF file");
  }
  Elf64_Ehdr header{};
  if (!in.read(0, &header, sizeof header)) refuse(file, "truncated ELF file: its header is cut short");
  return header;
}

// All section headers. Counts past 0xff00 are kept in section 0 (sh_size for
// the count, sh_link for the index of the names table).
std::vector<Elf64_Shdr> section_headers(ByteFile const& in, Elf64_Ehdr const& header,
                                        std::filesystem::path const& file) {
  if (header.e_shoff == 0) refuse(file, "ELF file without section headers");
  if (header.e_shentsize != sizeof(Elf64_Shdr)) refuse(file, "malformed ELF file: unexpected section header size");
  Elf64_Shdr first{};
  if (!in.read(header.e_shoff, &first, sizeof first)) {
    refuse(file, "truncated ELF file: its section headers lie beyond its end");
  }
  std::uint64_t const count = header.e_shnum != 0 ? header.e_shnum : first.sh_size;
  // Bounded by the file's size before anything is allocated.
  if (count > UINT64_MAX / sizeof(Elf64_Shdr) || !in.holds(header.e_shoff, count * sizeof(Elf64_Shdr))) {
    refuse(file, "truncated ELF file: its section headers lie beyond its end");
  }
  std::vector<Elf64_Shdr> sections(count);
  in.read(header.e_shoff, sections.data(), count * sizeof(Elf64_Shdr));
  return sections;
}

// The contents of a section, when they lie inside the file.
std::vector<char> section_bytes(ByteFile const& in, Elf64_Shdr const& section, std::filesystem::path const& file) {
  if (section.sh_type == SHT_NOBITS || !in.holds(section.sh_offset, section.sh_size)) {
    refuse(file, "truncated ELF file: a section lies beyond its end");
  }
  std::vector<char> bytes(section.sh_size);
  in.read(section.sh_offset, bytes.data(), bytes.size());
  return bytes;
}

// The section called `name`, or nullptr.
Elf64_Shdr const* section_named(std::vector<Elf64_Shdr> const& sections, std::vector<char> const& names,
                                std::string_view name) {
  for (Elf64_Shdr const& s : sections) {
    if (s.sh_name >= names.size()) continue;
    char const* begin = names.data() + s.sh_name;
    char const* end = std::find(begin, names.data() + names.size(), '\0');
    if (std::string_view(begin, static_cast<std::size_t>(end - begin)) == name) return &s;
  }
  return nullptr;
}

std::uint32_t word_at(std::vector<char> const& bytes, std::size_t offset) {
  std::uint32_t w = 0;
  std::memcpy(&w, bytes.data() + offset, sizeof w);
  return w;
}

// The first note of our owner and type among the notes in `bytes`; level and
// features are the descriptor's two NUL-terminated strings.
bool parse_notes(std::vector<char> const& bytes, LibraryNote& out) {
  std::size_t at = 0;
  while (bytes.size() - at >= 12) {
    std::uint64_t const name_size = word_at(bytes, at), descriptor_size = word_at(bytes, at + 4);
    std::uint32_t const type = word_at(bytes, at + 8);
    std::uint64_t const name_at = at + 12, descriptor_at = name_at + isa_note::padded(name_size);
    if (descriptor_at + descriptor_size > bytes.size()) return false;
    std::string_view const name(bytes.data() + name_at, name_size);
    if (type == isa_note::note_type && name == std::string_view(isa_note::owner, sizeof isa_note::owner)) {
      std::string_view const descriptor(bytes.data() + descriptor_at, descriptor_size);
      std::size_t const level_end = descriptor.find('\0');
      if (level_end == std::string_view::npos) return false;
      std::size_t const features_end = descriptor.find('\0', level_end + 1);
      if (features_end == std::string_view::npos) return false;
      out.level = descriptor.substr(0, level_end);
      out.features = descriptor.substr(level_end + 1, features_end - level_end - 1);
      return true;
    }
    at = descriptor_at + isa_note::padded(descriptor_size);
    if (at > bytes.size()) return false;
  }
  return false;
}

}  // namespace

LibraryNote read_library_note(std::filesystem::path const& file) {
  ByteFile const in(file);
  Elf64_Ehdr const header = elf_header(in, file);
  std::vector<Elf64_Shdr> const sections = section_headers(in, header, file);
  if (sections.empty()) refuse(file, "malformed ELF file: no sections");
  std::uint64_t const names_index = header.e_shstrndx != SHN_XINDEX ? header.e_shstrndx : sections[0].sh_link;
  if (names_index >= sections.size()) refuse(file, "malformed ELF file: no table of section names");
  std::vector<char> const names = section_bytes(in, sections[names_index], file);
  Elf64_Shdr const* note = section_named(sections, names, isa_note::section_name);
  if (note == nullptr) refuse(file, "built without its CPU-feature note; rebuild it");
  LibraryNote result;
  if (note->sh_type != SHT_NOTE || !parse_notes(section_bytes(in, *note, file), result)) {
    refuse(file, "its CPU-feature note is malformed; rebuild it");
  }
  return result;
}

void require_note_features(std::filesystem::path const& file, CpuHas const& cpu_has) {
  LibraryNote const note = read_library_note(file);
  std::string features = note.features;
  std::replace(features.begin(), features.end(), ',', ' ');
  std::string const missing = missing_features(features, cpu_has);
  if (!missing.empty()) {
    refuse(file, "built for CPU features this CPU lacks: " + missing + " (level " + note.level + ")");
  }
}

void* open_library(std::filesystem::path const& file, CpuHas const& cpu_has) {
  require_note_features(file, cpu_has);
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    char const* message = dlerror();
    refuse(file, message != nullptr ? message : "unknown loader error");
  }
  return handle;
}

}  // namespace vorn::isa
