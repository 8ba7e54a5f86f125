// The engine library's dynamic symbol table holds exactly the two engine_run
// instantiations, read from the ELF file itself.
#include <elf.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "engine_support.hpp"
#include "vorn/engine/engine_entry_names.hpp"

namespace vorn::test {
namespace {

// Names of the symbols a shared library defines for the loader: global or
// weak entries of .dynsym with a section.
std::set<std::string> defined_dynamic_symbols(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> const file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::set<std::string> names;
  if (file.size() < sizeof(Elf64_Ehdr)) return names;
  auto const* header = reinterpret_cast<Elf64_Ehdr const*>(file.data());
  auto const* sections = reinterpret_cast<Elf64_Shdr const*>(file.data() + header->e_shoff);
  for (int s = 0; s < header->e_shnum; ++s) {
    if (sections[s].sh_type != SHT_DYNSYM) continue;
    char const* strings = file.data() + sections[sections[s].sh_link].sh_offset;
    auto const* symbols = reinterpret_cast<Elf64_Sym const*>(file.data() + sections[s].sh_offset);
    for (std::size_t i = 0; i < sections[s].sh_size / sizeof(Elf64_Sym); ++i) {
      int const binding = ELF64_ST_BIND(symbols[i].st_info);
      if (symbols[i].st_shndx != SHN_UNDEF && (binding == STB_GLOBAL || binding == STB_WEAK)) {
        names.insert(strings + symbols[i].st_name);
      }
    }
  }
  return names;
}

class Exports : public EngineTest {};

TEST_P(Exports, LibraryExportsExactlyTheTwoEngineRunInstantiations) {
  std::set<std::string> const want{engine::engine_run_float_symbol, engine::engine_run_double_symbol};
  EXPECT_EQ(defined_dynamic_symbols(engine().path), want) << engine().path;
}

VORN_ENGINE_TEST_SUITE(Exports);

}  // namespace
}  // namespace vorn::test
