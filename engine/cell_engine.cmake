# The cell engine library, unit_cell_engine_2d: one translation unit that
# exports the two engine_run instantiations and nothing else. It links against
# nothing of the system and allocates nothing. Built once per instruction-set
# level: the AVX-512 and AVX2 builds hold the eight-lane vector backends of
# those levels, the x86-64 build the portable one.

# The version script exports the names listed in engine_entry_names.hpp.
set(_vorn_engine_names ${PROJECT_SOURCE_DIR}/include/vorn/engine/engine_entry_names.hpp)
file(STRINGS ${_vorn_engine_names} _vorn_engine_symbols REGEX "^ +\"_Z[A-Za-z0-9_]+\";$")
list(TRANSFORM _vorn_engine_symbols REPLACE "^ +\"([A-Za-z0-9_]+)\";$" "\\1")
list(LENGTH _vorn_engine_symbols _vorn_engine_symbol_count)
if(NOT _vorn_engine_symbol_count EQUAL 2)
  message(FATAL_ERROR "${_vorn_engine_names} should name the engine's two entries, found ${_vorn_engine_symbol_count}")
endif()
list(JOIN _vorn_engine_symbols ";\n    " VORN_ENGINE_EXPORTS)
string(APPEND VORN_ENGINE_EXPORTS ";")
configure_file(${PROJECT_SOURCE_DIR}/engine/cell_engine.map.in ${PROJECT_BINARY_DIR}/engine/cell_engine.map @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_vorn_engine_names})

function(_vorn_add_cell_engine_build target)
  set(exports ${PROJECT_BINARY_DIR}/engine/cell_engine.map)
  add_library(${target} SHARED ${PROJECT_SOURCE_DIR}/engine/cell_engine.cpp)
  target_link_libraries(${target} PRIVATE vorn_engine_core)
  target_compile_options(${target} PRIVATE ${VORN_WARNINGS})
  target_link_options(${target} PRIVATE -Wl,--version-script=${exports} ${VORN_NO_UNDEFINED})
  set_target_properties(${target} PROPERTIES PREFIX "lib" LINK_DEPENDS ${exports})
endfunction()

vorn_add_library_builds(unit_cell_engine_2d
  FEATURES avx avx2 fma bmi bmi2 popcnt avx512f avx512vl avx512dq avx512bw
  ADD _vorn_add_cell_engine_build)
