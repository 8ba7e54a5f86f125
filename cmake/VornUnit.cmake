# vorn_add_unit(<name> ISA <level> SIGNATURE <text> SOURCES <files...>)
#
# A kernel unit is a shared library that exports exactly one unmangled symbol,
# brask_body_<20 hex digits>. The digits are the first 20 of the SHA-1 of the
# unit's name and argument signature, so a change of the argument record changes
# the symbol and a stale host fails to resolve it instead of passing the wrong
# record. Hosts learn the symbols from the generated <vorn/unit_entries.hpp>.

set_property(GLOBAL PROPERTY VORN_UNITS "")

function(vorn_add_unit name)
  cmake_parse_arguments(ARG "" "ISA;SIGNATURE" "SOURCES" ${ARGN})
  string(SHA1 digest "${name}:${ARG_SIGNATURE}")
  string(SUBSTRING "${digest}" 0 20 digits)
  set(symbol "brask_body_${digits}")

  add_library(${name} SHARED ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE vorn_unit_frame brask_runtime)
  target_compile_definitions(${name} PRIVATE VORN_UNIT_ENTRY=${symbol})
  target_compile_options(${name} PRIVATE ${VORN_WARNINGS})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
  file(WRITE ${script} "{\n  global: ${symbol};\n  local: *;\n};\n")
  target_link_options(${name} PRIVATE -Wl,--version-script=${script} -Wl,--no-undefined)
  set_target_properties(${name} PROPERTIES
    PREFIX "lib"
    BUILD_RPATH "$ORIGIN"
    INSTALL_RPATH "$ORIGIN"
    LINK_DEPENDS ${script})
  vorn_target_isa(${name} ${ARG_ISA} LIBRARY ${name})
  set_property(GLOBAL APPEND PROPERTY VORN_UNITS "${name}=${symbol}")
endfunction()

function(vorn_write_unit_entries_header)
  get_property(entries GLOBAL PROPERTY VORN_UNITS)
  set(rows "")
  set(names "")
  foreach(entry IN LISTS entries)
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 symbol)
    string(APPEND rows "inline constexpr UnitEntry ${name}{\"${name}\", \"${symbol}\"};\n")
    string(APPEND names "${name}, ")
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/unit_entries.hpp.in
                 ${PROJECT_BINARY_DIR}/generated/include/vorn/unit_entries.hpp @ONLY)
endfunction()
