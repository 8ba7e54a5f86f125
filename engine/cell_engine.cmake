# The cell engine library, unit_cell_engine_2d: one translation unit that
# exports the two engine_run instantiations and nothing else. It links against
# nothing of the system and allocates nothing.
set(VORN_CELL_ENGINE_SOURCE ${CMAKE_CURRENT_LIST_DIR}/cell_engine.cpp CACHE INTERNAL "")
set(VORN_CELL_ENGINE_EXPORTS ${CMAKE_CURRENT_LIST_DIR}/cell_engine.map CACHE INTERNAL "")

# vorn_add_cell_engine(<name>): one build of the engine library. The caller
# chooses its instruction set with vorn_target_isa.
function(vorn_add_cell_engine name)
  add_library(${name} SHARED ${VORN_CELL_ENGINE_SOURCE})
  target_link_libraries(${name} PRIVATE vorn_engine_core)
  target_compile_options(${name} PRIVATE ${VORN_WARNINGS})
  target_link_options(${name} PRIVATE -Wl,--version-script=${VORN_CELL_ENGINE_EXPORTS} -Wl,--no-undefined)
  set_target_properties(${name} PROPERTIES PREFIX "lib" LINK_DEPENDS ${VORN_CELL_ENGINE_EXPORTS})
endfunction()

vorn_add_cell_engine(unit_cell_engine_2d)
vorn_target_isa(unit_cell_engine_2d avx512_engine LIBRARY unit_cell_engine_2d)
