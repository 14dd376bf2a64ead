# Installs the CMake package (find_package(ovutil) -> ovutil::ovutil) and ovutil.pc.
include(CMakePackageConfigHelpers)
set(OV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ovutil)
install(EXPORT ovutilTargets NAMESPACE ovutil:: DESTINATION ${OV_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ovutilConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ovutilConfig.cmake INSTALL_DESTINATION ${OV_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ovutilConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ovutilConfig.cmake ${PROJECT_BINARY_DIR}/ovutilConfigVersion.cmake
  DESTINATION ${OV_CMAKE_DIR} COMPONENT dev)

get_property(OV_ALL_LIBS GLOBAL PROPERTY OV_LIBRARIES)
# Dependents before their dependencies, as a linker reads them.
list(REVERSE OV_ALL_LIBS)
set(OV_PC_LIBS "")
foreach(lib IN LISTS OV_ALL_LIBS)
  string(APPEND OV_PC_LIBS " -l${lib}")
endforeach()
# The .pc file names its prefix relative to its own directory, so that a copy installed with
# `cmake --install --prefix P` (or moved afterwards) still points at itself.
set(OV_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(OV_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH OV_PC_UP /ovutil-prefix/${OV_PC_DIR} /ovutil-prefix)
  string(REGEX REPLACE "/$" "" OV_PC_UP "${OV_PC_UP}")
  set(OV_PC_PREFIX "\${pcfiledir}/${OV_PC_UP}")
endif()
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(OV_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(OV_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/ovutil.pc.in ${PROJECT_BINARY_DIR}/ovutil.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ovutil.pc DESTINATION ${OV_PC_DIR} COMPONENT dev)
