# vorn_add_unit(<name> FEATURES <cpu features...> DECLARATION <header> SOURCES <files...>)
#
# A kernel unit is a shared library that exports exactly one unmangled symbol,
# brask_body_<20 hex digits>. The digits are the first 20 of the SHA-1 of
# "<name>:<signature>", where the signature is the text that
# units/frame/unit_signature.hpp makes of the unit's declaration,
# vorn::records::<name> in <header>: a change of the argument record (or of the
# kernel) changes the symbol, and a stale host fails to resolve it instead of
# passing the wrong record. Hosts learn the symbols from the generated
# <vorn/unit_entries.hpp>. The sources see the symbol as VORN_UNIT_ENTRY and
# the unit's name as VORN_UNIT_NAME, which names its declaration.
# The unit is built once per instruction-set level (VornIsa.cmake); every
# build finds libbrask_runtime two directories up, in lib/.
#
# Signatures are computed while configuring, by a small program built and run
# then. The headers it includes become configure dependencies, so that a
# change of a declaration configures again, with the new symbol, by itself.

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

# The signature of unit <name>, declared in <header>, into <out>.
function(_vorn_unit_signature out name header)
  set(dir ${PROJECT_BINARY_DIR}/unit_signatures)
  set(VORN_UNIT_NAME ${name})
  set(VORN_UNIT_DECLARATION ${header})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/unit_signature.cpp.in ${dir}/${name}.cpp @ONLY)
  # -H: the compiler lists every header it opens, one a line, after a dot per include depth.
  try_run(run_status compiled ${dir}/${name} ${dir}/${name}.cpp
    CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${PROJECT_SOURCE_DIR};${PROJECT_SOURCE_DIR}/include"
    COMPILE_DEFINITIONS -H
    CXX_STANDARD 20
    CXX_STANDARD_REQUIRED ON
    CXX_EXTENSIONS OFF
    COMPILE_OUTPUT_VARIABLE compile_output
    RUN_OUTPUT_VARIABLE signature)
  if(NOT compiled OR NOT run_status EQUAL 0)
    message(FATAL_ERROR "${name}: no signature could be made of its declaration in ${header}:\n"
                        "${compile_output}\n${signature}")
  endif()
  # The text goes into the symbol's digest and, quoted, into a C++ header.
  if(NOT signature MATCHES "^[A-Za-z0-9_]+\\(.*\\) over \\[[0-9?,]*\\]$" OR signature MATCHES "[\"\\;\n]")
    message(FATAL_ERROR "${name}: unexpected signature text '${signature}'")
  endif()
  string(REGEX MATCHALL "\n\\.+ [^\n]+" opened "\n${compile_output}")
  foreach(line IN LISTS opened)
    string(REGEX REPLACE "^\n\\.+ " "" path "${line}")
    cmake_path(ABSOLUTE_PATH path BASE_DIRECTORY ${dir} NORMALIZE)
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${path}" NORMALIZE ours)
    if(ours)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    endif()
  endforeach()
  set(${out} "${signature}" PARENT_SCOPE)
endfunction()

function(vorn_add_unit name)
  cmake_parse_arguments(ARG "" "DECLARATION" "SOURCES;FEATURES" ${ARGN})
  _vorn_unit_signature(signature ${name} ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DECLARATION})
  string(SHA1 digest "${name}:${signature}")
  string(SUBSTRING "${digest}" 0 20 digits)
  set(_vorn_unit_symbol "brask_body_${digits}")
  set(_vorn_unit_name ${name})
  set(_vorn_unit_script ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
  file(WRITE ${_vorn_unit_script} "{\n  global: ${_vorn_unit_symbol};\n  local: *;\n};\n")
  list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE _vorn_unit_sources)
  vorn_add_library_builds(${name} FEATURES ${ARG_FEATURES} ADD _vorn_add_unit_build)
  set(${name}_BUILDS ${${name}_BUILDS} PARENT_SCOPE)
  set_property(GLOBAL APPEND PROPERTY VORN_UNITS "${name}=${_vorn_unit_symbol}")
  set_property(GLOBAL PROPERTY VORN_UNIT_SIGNATURE_${name} "${signature}")
endfunction()

function(vorn_write_unit_entries_header)
  get_property(entries GLOBAL PROPERTY VORN_UNITS)
  set(rows "")
  set(names "")
  foreach(entry IN LISTS entries)
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 symbol)
    get_property(signature GLOBAL PROPERTY VORN_UNIT_SIGNATURE_${name})
    string(APPEND rows "inline constexpr UnitEntry ${name}{\n    \"${name}\", \"${symbol}\",\n    \"${signature}\"};\n")
    string(APPEND names "${name}, ")
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/unit_entries.hpp.in
                 ${PROJECT_BINARY_DIR}/generated/include/vorn/unit_entries.hpp @ONLY)
endfunction()
