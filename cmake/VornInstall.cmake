# Installation: the libraries (runtime, kernel units, cell engine, host API),
# the headers (with the generated ones), the programs and a CMake package, so
# that another project can find_package(vorn) and link vorn::host.
#
#   <prefix>/lib                  the host API and the runtime
#   <prefix>/lib/vorn/<level>     the units and the cell engine, one directory per
#                                 instruction-set level; the host API loads the
#                                 best build the CPU runs
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

# Loaded at run time, never linked: every build of every unit and of the
# cell engine, in lib/vorn/<level>/ below the host library.
get_property(_vorn_builds GLOBAL PROPERTY VORN_LIBRARY_BUILDS)
foreach(entry IN LISTS _vorn_builds)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 1 level)
  list(GET parts 3 target)
  install(TARGETS ${target} LIBRARY DESTINATION lib/vorn/${level})
endforeach()

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
