# The cell engine library, unit_cell_engine_2d: one translation unit that
# exports the two engine_run instantiations and nothing else. It links against
# nothing of the system and allocates nothing. Built once per instruction-set
# level: the AVX-512 and AVX2 builds hold the eight-lane vector backends of
# those levels, the x86-64 build the portable one.
function(_vorn_add_cell_engine_build target)
  set(exports ${PROJECT_SOURCE_DIR}/engine/cell_engine.map)
  add_library(${target} SHARED ${PROJECT_SOURCE_DIR}/engine/cell_engine.cpp)
  target_link_libraries(${target} PRIVATE vorn_engine_core)
  target_compile_options(${target} PRIVATE ${VORN_WARNINGS})
  target_link_options(${target} PRIVATE -Wl,--version-script=${exports} ${VORN_NO_UNDEFINED})
  set_target_properties(${target} PROPERTIES PREFIX "lib" LINK_DEPENDS ${exports})
endfunction()

vorn_add_library_builds(unit_cell_engine_2d
  FEATURES avx avx2 fma bmi bmi2 popcnt avx512f avx512vl avx512dq avx512bw
  ADD _vorn_add_cell_engine_build)
