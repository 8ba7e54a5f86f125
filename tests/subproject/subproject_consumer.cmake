# cmake -P script: configure OUTER_SOURCE (which adds VORN_SOURCE as a
# subdirectory) in WORK_DIR, build it and run its consumer program.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/checked_run.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
unset(ENV{VORN_LIB_DIR})
run(${CMAKE_COMMAND} -S ${OUTER_SOURCE} -B ${WORK_DIR} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DVORN_SOURCE=${VORN_SOURCE} -DCONSUMER_MAIN=${CONSUMER_MAIN} -DVORN_ISA=portable -DCMAKE_BUILD_TYPE=Release)
if(last_output MATCHES "Build files have been written" AND EXISTS ${WORK_DIR}/vorn/tests)
  message(FATAL_ERROR "vorn configured its tests as a subproject")
endif()
cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
run(${CMAKE_COMMAND} --build ${WORK_DIR} --target consumer -j ${cores})
run(${WORK_DIR}/consumer)
message(STATUS "${last_output}")
