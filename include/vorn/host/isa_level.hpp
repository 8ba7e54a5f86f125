// Instruction-set levels: every kernel unit and the cell engine are installed
// in one build per level that changes their code (lib/vorn/<level>/), and the
// host loads, for each library, its highest build at or below the level in
// use. A level is used only when the CPU has every one of its features.
#pragma once

#include <string_view>

namespace vorn::host {

enum class IsaLevel {
  x86_64,  // "x86-64": any x86-64 CPU
  avx2,    // "avx2": + SSE4.1, AVX, AVX2, FMA, BMI1, BMI2, POPCNT
  avx512,  // "avx512": + AVX-512 F, VL, DQ, BW
};

// "x86-64", "avx2" or "avx512".
std::string_view isa_level_name(IsaLevel level);

// The level named `name`; throws std::invalid_argument for any other name.
IsaLevel isa_level_named(std::string_view name);

// The highest level this CPU runs.
IsaLevel cpu_isa_level();

// The level used when a call names none: $VORN_ISA_LEVEL when set, else
// cpu_isa_level(). Throws std::invalid_argument for an unknown name in
// $VORN_ISA_LEVEL and std::runtime_error, naming the missing features, for a
// level this CPU cannot run. Read on every call; cheap.
IsaLevel default_isa_level();

// Throws std::runtime_error naming the features of `level` this CPU lacks.
void require_isa_level(IsaLevel level);

// The level of the build of `library` (a file stem such as
// "unit_cell_engine_2d") that a process at `level` loads: the highest build
// at or below it. Throws std::runtime_error when the library has none.
IsaLevel library_build_level(std::string_view library, IsaLevel level);

}  // namespace vorn::host
