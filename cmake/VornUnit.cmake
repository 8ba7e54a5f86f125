# vorn_add_unit(<name> FEATURES <cpu features...> SIGNATURE <text> SOURCES <files...>)
#
# A kernel unit is a shared library that exports exactly one unmangled symbol,
# brask_body_<20 hex digits>. The digits are the first 20 of the SHA-1 of the
# unit's name and argument signature, so a change of the argument record changes
# the symbol and a stale host fails to resolve it instead of passing the wrong
# record. Hosts learn the symbols from the generated <vorn/unit_entries.hpp>.
# The sources see the symbol as VORN_UNIT_ENTRY and the unit's name as
# VORN_UNIT_NAME, which names its declaration, vorn::records::<name>.
# The unit is built once per instruction-set level (VornIsa.cmake); every
# build finds libbrask_runtime two directories up, in lib/.

set_property(GLOBAL PROPERTY VORN_UNITS "")

function(_vorn_add_unit_build target)
  add_library(${target} SHARED ${_vorn_unit_sources})
  target_link_libraries(${target} PRIVATE vorn_unit_frame brask_runtime)
  target_compile_definitions(${target} PRIVATE VORN_UNIT_ENTRY=${_vorn_unit_symbol} VORN_UNIT_NAME=${_vorn_unit_name})
  target_compile_options(${target} PRIVATE ${VORN_WARNINGS})
  target_link_options(${target} PRIVATE -Wl,--version-script=${_vorn_unit_script} ${VORN_NO_UNDEFINED})
  set_target_properties(${target} PROPERTIES
    PREFIX "lib"
    BUILD_RPATH "$ORIGIN/../.."
    INSTALL_RPATH "$ORIGIN/../.."
    LINK_DEPENDS ${_vorn_unit_script})
endfunction()

function(vorn_add_unit name)
  cmake_parse_arguments(ARG "" "SIGNATURE" "SOURCES;FEATURES" ${ARGN})
  string(SHA1 digest "${name}:${ARG_SIGNATURE}")
  string(SUBSTRING "${digest}" 0 20 digits)
  set(_vorn_unit_symbol "brask_body_${digits}")
  set(_vorn_unit_name ${name})
  set(_vorn_unit_script ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
  file(WRITE ${_vorn_unit_script} "{\n  global: ${_vorn_unit_symbol};\n  local: *;\n};\n")
  list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE _vorn_unit_sources)
  vorn_add_library_builds(${name} FEATURES ${ARG_FEATURES} ADD _vorn_add_unit_build)
  set(${name}_BUILDS ${${name}_BUILDS} PARENT_SCOPE)
  set_property(GLOBAL APPEND PROPERTY VORN_UNITS "${name}=${_vorn_unit_symbol}")
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
