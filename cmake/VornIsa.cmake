# Instruction-set levels: every delivered library is built once for each level
# that changes its code, and the host loads the best build the CPU runs.
#
#   x86-64   the baseline every x86-64 CPU runs
#   avx2     + SSE4.1, AVX, AVX2, FMA, BMI1, BMI2, POPCNT
#   avx512   + AVX-512 F, VL, DQ, BW
#
# A library declares the CPU features its code can use. Its build for a level
# is compiled for those of its features that the level includes; a level that
# would give the same features as the level below it is not built (the host
# then takes the lower build). Builds land in lib/vorn/<level>/, under the
# library's own file name.
#
# VORN_ISA=all (the default) builds every level the compiler accepts, whatever
# the build machine runs; VORN_ISA=portable builds x86-64 only. The arithmetic
# is written so that every build gives bit-identical results.
#
# The generated header <vorn/build_isa.hpp> lists the levels with their
# features and every library build with its level and features, so that the
# host picks a build feature by feature. Each build also carries its level and
# features in an ELF note (<vorn/isa_note.hpp>), which the host reads from the
# file it found before loading it: a library built for other features than the
# host's table says is refused rather than run into an illegal instruction.

include(CheckCXXCompilerFlag)

set(VORN_ISA "all" CACHE STRING "Instruction-set levels to build: all or portable")
set_property(CACHE VORN_ISA PROPERTY STRINGS all portable)
if(VORN_ISA MATCHES "^(auto|levels)$")
  message(STATUS "vorn: VORN_ISA=${VORN_ISA} is from before every level was built; now VORN_ISA=all")
  set_property(CACHE VORN_ISA PROPERTY VALUE all)
endif()
if(NOT VORN_ISA MATCHES "^(all|portable)$")
  message(FATAL_ERROR "VORN_ISA must be 'all' or 'portable', not '${VORN_ISA}'")
endif()

# Lowest first. Feature names as __builtin_cpu_supports spells them.
set(VORN_ISA_LEVELS x86-64 avx2 avx512)
set(_vorn_level_features_x86-64 "")
set(_vorn_level_features_avx2 sse4.1 avx avx2 fma bmi bmi2 popcnt)
set(_vorn_level_features_avx512 ${_vorn_level_features_avx2} avx512f avx512vl avx512dq avx512bw)

set(_vorn_flag_sse4.1 -msse4.1)
set(_vorn_flag_avx -mavx)
set(_vorn_flag_avx2 -mavx2)
set(_vorn_flag_fma -mfma)
set(_vorn_flag_bmi -mbmi)
set(_vorn_flag_bmi2 -mbmi2)
set(_vorn_flag_popcnt -mpopcnt)
set(_vorn_flag_avx512f -mavx512f)
set(_vorn_flag_avx512vl -mavx512vl)
set(_vorn_flag_avx512dq -mavx512dq)
set(_vorn_flag_avx512bw -mavx512bw)

function(_vorn_flags_of out)
  set(flags "")
  foreach(feature IN LISTS ARGN)
    list(APPEND flags ${_vorn_flag_${feature}})
  endforeach()
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

# A level is built when the compiler accepts all its flags.
foreach(level IN LISTS VORN_ISA_LEVELS)
  if(level STREQUAL "x86-64")
    set(_use ON)
  elseif(VORN_ISA STREQUAL "portable")
    set(_use OFF)
  else()
    _vorn_flags_of(_flags ${_vorn_level_features_${level}})
    string(REPLACE ";" " " _flags "${_flags}")
    string(MAKE_C_IDENTIFIER "VORN_CXX_ACCEPTS_${level}" _var)
    set(CMAKE_REQUIRED_QUIET ON)
    check_cxx_compiler_flag("${_flags}" ${_var})
    set(_use ${${_var}})
  endif()
  set(VORN_ISA_BUILD_${level} ${_use} CACHE INTERNAL "")
  message(STATUS "vorn: instruction-set level ${level}: ${_use}")
endforeach()

set_property(GLOBAL PROPERTY VORN_LIBRARY_BUILDS "")

# The features of `level` that `features` names, in the level's order.
function(_vorn_features_at out level)
  set(kept "")
  foreach(feature IN LISTS _vorn_level_features_${level})
    if(feature IN_LIST ARGN)
      list(APPEND kept ${feature})
    endif()
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# Kernels are compiled at -O3 in every optimised configuration: only there
# are the plain x86-64 build's eight-lane loops vectorised (the cell engine's
# 10^6 cells a third faster); the vector builds gain a few percent.
set(VORN_KERNEL_OPTIMISATION $<$<CONFIG:Release,RelWithDebInfo>:-O3>)

# vorn_add_library_builds(<name> FEATURES <features...> ADD <function>):
# calls <function>(<target>) once per level that changes the code of library
# <name>, with target <name>_<level> (x86-64 spelled x86_64), then compiles it
# for its features, adds the note of its level and features, and places it in
# lib/vorn/<level>/lib<name>.so. A custom target <name> depends on every
# build. Sets <name>_BUILDS in the caller to the list of build targets.
function(vorn_add_library_builds name)
  cmake_parse_arguments(ARG "" "ADD" "FEATURES" ${ARGN})
  foreach(feature IN LISTS ARG_FEATURES)
    if(NOT feature IN_LIST _vorn_level_features_avx512)
      message(FATAL_ERROR "${name}: unknown CPU feature '${feature}'")
    endif()
  endforeach()
  set(previous "<none>")
  set(targets "")
  foreach(level IN LISTS VORN_ISA_LEVELS)
    if(NOT VORN_ISA_BUILD_${level})
      continue()
    endif()
    _vorn_features_at(features ${level} ${ARG_FEATURES})
    if("${features}" STREQUAL "${previous}")
      continue()
    endif()
    set(previous "${features}")
    string(MAKE_C_IDENTIFIER "${name}_${level}" target)
    cmake_language(CALL ${ARG_ADD} ${target})
    _vorn_flags_of(flags ${features})
    target_compile_options(${target} PRIVATE ${flags})
    target_compile_options(${target} PRIVATE ${VORN_KERNEL_OPTIMISATION})
    string(REPLACE ";" "," note_features "${features}")
    set(note_source ${CMAKE_CURRENT_BINARY_DIR}/${target}_isa_note.cpp)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/isa_note.cpp.in ${note_source} @ONLY)
    target_sources(${target} PRIVATE ${note_source})
    target_link_libraries(${target} PRIVATE vorn_headers)
    set_target_properties(${target} PROPERTIES
      OUTPUT_NAME ${name}
      LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib/vorn/${level})
    string(REPLACE ";" " " feature_text "${features}")
    set_property(GLOBAL APPEND PROPERTY VORN_LIBRARY_BUILDS "${name}|${level}|${feature_text}|${target}")
    list(APPEND targets ${target})
  endforeach()
  add_custom_target(${name} DEPENDS ${targets})
  set(${name}_BUILDS ${targets} PARENT_SCOPE)
endfunction()

# vorn_target_isa(<target> <level>): compiles a test or benchmark program for
# every feature of <level>; the caller checks VORN_ISA_BUILD_<level> first.
function(vorn_target_isa target level)
  if(NOT level IN_LIST VORN_ISA_LEVELS)
    message(FATAL_ERROR "unknown instruction-set level '${level}'")
  endif()
  _vorn_flags_of(flags ${_vorn_level_features_${level}})
  target_compile_options(${target} PRIVATE ${flags})
endfunction()

function(vorn_write_isa_header)
  set(levels "")
  foreach(level IN LISTS VORN_ISA_LEVELS)
    string(REPLACE ";" " " features "${_vorn_level_features_${level}}")
    string(APPEND levels "    {\"${level}\", \"${features}\"},\n")
  endforeach()
  get_property(entries GLOBAL PROPERTY VORN_LIBRARY_BUILDS)
  set(rows "")
  foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 level)
    list(GET parts 2 features)
    string(APPEND rows "    {\"${name}\", \"${level}\", \"${features}\"},\n")
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/build_isa.hpp.in
                 ${PROJECT_BINARY_DIR}/generated/include/vorn/build_isa.hpp @ONLY)
endfunction()

# vorn_library_build(<out> <name> <level>): the target of library <name>'s
# build for exactly <level>, or an empty string when there is none.
function(vorn_library_build out name level)
  get_property(entries GLOBAL PROPERTY VORN_LIBRARY_BUILDS)
  set(${out} "" PARENT_SCOPE)
  foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 entry_name)
    list(GET parts 1 entry_level)
    if(entry_name STREQUAL name AND entry_level STREQUAL level)
      list(GET parts 3 target)
      set(${out} ${target} PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

# vorn_all_library_builds(<out>): every build target of every library.
function(vorn_all_library_builds out)
  get_property(entries GLOBAL PROPERTY VORN_LIBRARY_BUILDS)
  set(targets "")
  foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 3 target)
    list(APPEND targets ${target})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Whether the build machine runs every feature of each level: decides only
# which test programs compiled for a level are run here (a program of a level
# the CPU lacks could die on an illegal instruction before it can skip).
function(_vorn_build_machine_runs out)
  set(code "int main() { __builtin_cpu_init(); return 0")
  foreach(feature IN LISTS ARGN)
    string(APPEND code " + !__builtin_cpu_supports(\"${feature}\")")
  endforeach()
  string(APPEND code "; }\n")
  string(MAKE_C_IDENTIFIER "probe ${ARGN}" key)
  set(src ${PROJECT_BINARY_DIR}/isa_probe/${key}.cpp)
  file(WRITE ${src} "${code}")
  try_run(run_result compile_ok ${PROJECT_BINARY_DIR}/isa_probe/${key} ${src})
  if(compile_ok AND run_result EQUAL 0)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

foreach(level IN LISTS VORN_ISA_LEVELS)
  _vorn_build_machine_runs(_runs ${_vorn_level_features_${level}})
  set(VORN_ISA_RUNS_${level} ${_runs} CACHE INTERNAL "")
  string(REPLACE ";" ", " _missing "${_vorn_level_features_${level}}")
  set(VORN_ISA_FEATURES_${level} "${_missing}" CACHE INTERNAL "")
endforeach()
