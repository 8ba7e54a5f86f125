# cmake -P script: install BUILD_DIR into WORK_DIR/prefix, configure and build
# CONSUMER_SOURCE against it, then run the consumer and the installed
# vorn-power from the prefix, away from the build tree. BUILDS lists every
# library build as <level>/lib<name>.so, separated by commas; each must be installed.
# PYTHON, when set, is the interpreter the Python package was built for: the
# installed package must import from the prefix and compute a diagram.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/checked_run.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
unset(ENV{VORN_LIB_DIR})  # the installed library must find its units by itself
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)
message(STATUS "${last_output}")
string(REPLACE "," ";" BUILDS "${BUILDS}")
foreach(build IN LISTS BUILDS)
  if(NOT EXISTS ${prefix}/lib/vorn/${build})
    message(FATAL_ERROR "lib/vorn/${build} is not installed")
  endif()
endforeach()
run(${CMAKE_COMMAND} -E env VORN_ISA_LEVEL=x86-64 ${WORK_DIR}/build/consumer)
if(NOT last_output MATCHES "level x86-64, cell engine [^\n]*/lib/vorn/x86-64/libunit_cell_engine_2d.so")
  message(FATAL_ERROR "with VORN_ISA_LEVEL=x86-64 the consumer did not load the x86-64 engine:\n${last_output}")
endif()
run(${prefix}/bin/vorn-power --seeds 500 --no-svg)
if(NOT last_output MATCHES "seeds +500")
  message(FATAL_ERROR "installed vorn-power printed no summary:\n${last_output}")
endif()
if(PYTHON)
  run(${CMAKE_COMMAND} -E env PYTHONPATH=${prefix}/lib/python3/dist-packages PYTHONDONTWRITEBYTECODE=1 ${PYTHON} -c
      "import vorn\nprint(vorn.__file__, vorn.power_diagram([[0.25, 0.5], [0.75, 0.5]]).areas.tolist())")
  if(NOT last_output MATCHES "^${prefix}/lib/python3/dist-packages/vorn/__init__.py \\[0.5, 0.5\\]")
    message(FATAL_ERROR "the installed Python package did not compute from the prefix:\n${last_output}")
  endif()
endif()
