# libovutil: the product's own code, one source unit per file in src/util and src/WVCore.
file(GLOB OVUTIL_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/util/*.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/WVCore/*.cc)
ov_add_library(ovutil
  SOURCES ${OVUTIL_SOURCES}
  INCLUDE_DIR ${PROJECT_SOURCE_DIR}/include
  PUBLIC_LINK ovz ovsvc ovmsg ovasn Threads::Threads
  SOVERSION 1)
target_include_directories(ovutil PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/util ${CMAKE_CURRENT_SOURCE_DIR}/WVCore)
# Start-up finds the installed message catalogs from the directory libovutil was loaded from,
# so that a copy installed under any prefix (or moved there) finds its own catalogs.
get_filename_component(OV_NLS_INSTALL_FULL ${OV_NLS_INSTALL_DIR} ABSOLUTE BASE_DIR ${CMAKE_INSTALL_PREFIX})
file(RELATIVE_PATH nls_from_libdir ${CMAKE_INSTALL_FULL_LIBDIR} ${OV_NLS_INSTALL_FULL})
set(OV_NLS_FROM_LIBDIR ${nls_from_libdir} CACHE INTERNAL "Installed catalogs, relative to the library directory")
target_compile_definitions(ovutil PRIVATE OV_INSTALLED_NLS_FROM_LIBDIR="${OV_NLS_FROM_LIBDIR}")
