# Installs the CMake package (find_package(ovutil) -> ovutil::ovutil) and ovutil.pc.
include(CMakePackageConfigHelpers)
set(OV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ovutil)
install(EXPORT ovutilTargets NAMESPACE ovutil:: DESTINATION ${OV_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ovutilConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ovutilConfig.cmake INSTALL_DESTINATION ${OV_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ovutilConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ovutilConfig.cmake ${PROJECT_BINARY_DIR}/ovutilConfigVersion.cmake
  DESTINATION ${OV_CMAKE_DIR})

get_property(OV_ALL_LIBS GLOBAL PROPERTY OV_LIBRARIES)
# Dependents before their dependencies, as a linker reads them.
list(REVERSE OV_ALL_LIBS)
set(OV_PC_LIBS "")
foreach(lib IN LISTS OV_ALL_LIBS)
  string(APPEND OV_PC_LIBS " -l${lib}")
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/ovutil.pc.in ${PROJECT_BINARY_DIR}/ovutil.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ovutil.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
