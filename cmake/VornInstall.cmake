# Installation: the libraries (runtime, kernel units, cell engine, host API),
# the headers (with the generated ones), the programs and a CMake package, so
# that another project can find_package(vorn) and link vorn::host.
#
#   <prefix>/lib                  every shared library; the host API loads the
#                                 units and the engine from its own directory
#   <prefix>/bin                  vorn-power, vorn-mass (RPATH $ORIGIN/../lib)
#   <prefix>/include              vorn/..., the generated headers among them
#   <prefix>/lib/cmake/vorn       vornConfig.cmake, vornConfigVersion.cmake, targets
include(CMakePackageConfigHelpers)

set(VORN_INSTALL_CMAKEDIR lib/cmake/vorn)

set_target_properties(vorn_headers PROPERTIES EXPORT_NAME headers)
set_target_properties(brask_runtime PROPERTIES EXPORT_NAME runtime)
install(TARGETS vorn_headers brask_runtime vorn_host EXPORT vornTargets
  LIBRARY DESTINATION lib
  ARCHIVE DESTINATION lib
  RUNTIME DESTINATION bin)

# Loaded at run time, never linked: installed beside the host library.
get_property(_vorn_units GLOBAL PROPERTY VORN_UNITS)
set(_vorn_loaded unit_cell_engine_2d)
foreach(entry IN LISTS _vorn_units)
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 name)
  list(APPEND _vorn_loaded ${name})
endforeach()
install(TARGETS ${_vorn_loaded} LIBRARY DESTINATION lib)

install(TARGETS vorn-power vorn-mass RUNTIME DESTINATION bin)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vorn ${PROJECT_BINARY_DIR}/generated/include/vorn
  DESTINATION include)

install(EXPORT vornTargets NAMESPACE vorn:: DESTINATION ${VORN_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vornConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vornConfig.cmake INSTALL_DESTINATION ${VORN_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vornConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vornConfig.cmake ${PROJECT_BINARY_DIR}/vornConfigVersion.cmake
  DESTINATION ${VORN_INSTALL_CMAKEDIR})
