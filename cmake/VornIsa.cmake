# Instruction-set levels of the delivered libraries.
#
# Each library names one level. With VORN_ISA=auto (the default) a level is
# used when the compiler accepts its flags and the build machine runs its
# instructions; otherwise the library is built for plain x86-64. VORN_ISA=levels
# forces the levels (cross builds), VORN_ISA=portable forces plain x86-64. The
# arithmetic is written so that both builds give bit-identical results.
#
# The features each library was actually built for are written to the generated
# header <vorn/build_isa.hpp>, so that a host can refuse a CPU that lacks them
# with a clear message instead of dying on an illegal instruction.

include(CheckCXXCompilerFlag)

set(VORN_ISA "auto" CACHE STRING "Instruction-set levels: auto, levels or portable")
set_property(CACHE VORN_ISA PROPERTY STRINGS auto levels portable)

# level name -> compiler flags and the CPU features (names as __builtin_cpu_supports knows them)
set(_vorn_isa_levels sse41 avx2 avx2_fma avx2_avx512vl avx512_engine)
set(_vorn_isa_flags_sse41 -msse4.1)
set(_vorn_isa_cpu_sse41 sse4.1)
set(_vorn_isa_flags_avx2 -mavx2)
set(_vorn_isa_cpu_avx2 avx avx2)
set(_vorn_isa_flags_avx2_fma -mavx2 -mfma)
set(_vorn_isa_cpu_avx2_fma avx avx2 fma)
set(_vorn_isa_flags_avx2_avx512vl -mavx2 -mavx512f -mavx512vl)
set(_vorn_isa_cpu_avx2_avx512vl avx avx2 avx512f avx512vl)
set(_vorn_isa_flags_avx512_engine -mavx2 -mfma -mavx512f -mavx512vl -mavx512dq -mavx512bw -mbmi -mbmi2 -mpopcnt)
set(_vorn_isa_cpu_avx512_engine avx avx2 fma avx512f avx512vl avx512dq avx512bw bmi bmi2 popcnt)

function(_vorn_host_supports out)
  set(code "int main() { __builtin_cpu_init(); return 0")
  foreach(feature IN LISTS ARGN)
    string(APPEND code " + !__builtin_cpu_supports(\"${feature}\")")
  endforeach()
  string(APPEND code "; }\n")
  string(MAKE_C_IDENTIFIER "${ARGN}" key)
  set(src ${CMAKE_BINARY_DIR}/isa_probe/${key}.cpp)
  file(WRITE ${src} "${code}")
  try_run(run_result compile_ok ${CMAKE_BINARY_DIR}/isa_probe/${key} ${src})
  if(compile_ok AND run_result EQUAL 0)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

foreach(level IN LISTS _vorn_isa_levels)
  if(VORN_ISA STREQUAL "portable")
    set(_use OFF)
  else()
    string(REPLACE ";" " " _flags "${_vorn_isa_flags_${level}}")
    string(MAKE_C_IDENTIFIER "VORN_CXX_ACCEPTS_${level}" _var)
    set(CMAKE_REQUIRED_QUIET ON)
    check_cxx_compiler_flag("${_flags}" ${_var})
    set(_use ${${_var}})
    if(_use AND VORN_ISA STREQUAL "auto")
      _vorn_host_supports(_use ${_vorn_isa_cpu_${level}})
    endif()
  endif()
  set(VORN_ISA_USE_${level} ${_use} CACHE INTERNAL "")
  message(STATUS "vorn: instruction-set level ${level}: ${_use}")
endforeach()

set_property(GLOBAL PROPERTY VORN_ISA_LIBRARIES "")

# vorn_target_isa(<target> <level> [LIBRARY <name>]): compile <target> for <level>
# when that level is in use. LIBRARY records the features a delivered library needs.
function(vorn_target_isa target level)
  cmake_parse_arguments(ARG "" "LIBRARY" "" ${ARGN})
  if(NOT level IN_LIST _vorn_isa_levels)
    message(FATAL_ERROR "unknown instruction-set level '${level}'")
  endif()
  set(features "")
  if(VORN_ISA_USE_${level})
    target_compile_options(${target} PRIVATE ${_vorn_isa_flags_${level}})
    set(features ${_vorn_isa_cpu_${level}})
  endif()
  if(ARG_LIBRARY)
    string(REPLACE ";" " " features "${features}")
    set_property(GLOBAL APPEND PROPERTY VORN_ISA_LIBRARIES "${ARG_LIBRARY}=${features}")
  endif()
endfunction()

function(vorn_write_isa_header)
  get_property(entries GLOBAL PROPERTY VORN_ISA_LIBRARIES)
  set(rows "")
  foreach(entry IN LISTS entries)
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 name)
    list(LENGTH parts len)
    set(features "")
    if(len GREATER 1)
      list(GET parts 1 features)
    endif()
    string(APPEND rows "    {\"${name}\", \"${features}\"},\n")
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/build_isa.hpp.in
                 ${PROJECT_BINARY_DIR}/generated/include/vorn/build_isa.hpp @ONLY)
endfunction()
