# Installation: the libraries (runtime, kernel units, cell engine, host API),
# the headers (with the generated ones), the programs and a CMake package, so
# that another project can find_package(vorn) and link vorn::host.
#
#   <prefix>/<libdir>               the host API, the fitting API (when built) and the runtime
#   <prefix>/<libdir>/vorn/<level>  the units and the cell engine, one directory
#                                   per instruction-set level; the host API loads
#                                   the best build the CPU runs
#   <prefix>/<bindir>               vorn-power, vorn-mass (RPATH to <libdir>)
#   <prefix>/<includedir>           vorn/..., the generated headers among them
#   <prefix>/<libdir>/cmake/vorn    vornConfig.cmake, vornConfigVersion.cmake, targets
#
# The directories are GNUInstallDirs' (lib, bin, include unless set otherwise).
include(CMakePackageConfigHelpers)

set(VORN_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/vorn)

set_target_properties(vorn_headers PROPERTIES EXPORT_NAME headers)
set_target_properties(brask_runtime PROPERTIES EXPORT_NAME runtime)
install(TARGETS vorn_headers brask_runtime vorn_host EXPORT vornTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Loaded at run time, never linked: every build of every unit and of the
# cell engine, in lib/vorn/<level>/ below the host library.
get_property(_vorn_builds GLOBAL PROPERTY VORN_LIBRARY_BUILDS)
foreach(entry IN LISTS _vorn_builds)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 1 level)
  list(GET parts 3 target)
  install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/vorn/${level})
endforeach()

if(TARGET vorn_fit)
  install(TARGETS vorn_fit EXPORT vornTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(TARGETS vorn-power vorn-mass RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vorn ${PROJECT_BINARY_DIR}/generated/include/vorn
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT vornTargets NAMESPACE vorn:: DESTINATION ${VORN_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vornConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vornConfig.cmake INSTALL_DESTINATION ${VORN_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vornConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vornConfig.cmake ${PROJECT_BINARY_DIR}/vornConfigVersion.cmake
  DESTINATION ${VORN_INSTALL_CMAKEDIR})
