# libovutil: the product's own code, one source unit per file in src/util and src/WVCore.
# Every source is listed here; a new unit is added to the list.

# The base64 coder is also compiled into its tests, benchmark and fuzz targets, which reach
# the kernel switches of its private header: one object library serves them all. Its plain
# reference coders are compiled into those targets only, not into the library.
add_library(ovutil_mime64 OBJECT
  ${CMAKE_CURRENT_SOURCE_DIR}/util/mime64_new.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/util/mime64_new_cpu.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/util/mime64_new_x86.cc)
target_include_directories(ovutil_mime64 PUBLIC ${PROJECT_SOURCE_DIR}/include
                                                ${CMAKE_CURRENT_SOURCE_DIR}/util)
add_library(ovutil_mime64_reference OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/util/mime64_new_reference.cc)
target_link_libraries(ovutil_mime64_reference PRIVATE ovutil_mime64)

set(OVUTIL_SOURCES
  util/MrProcessLock.cc
  util/OVMessageService.cc
  util/OVStanzaFileEditLock.cc
  util/OVStanzaFileProperties.cc
  util/OVStanzaFilePropertiesMigrate.cc
  util/PathMap.cc
  util/WVMsg.cc
  util/cfgfile.cc
  util/encode.cc
  util/fipsMode.cc
  util/getpath.cc
  util/version.cc
  util/wvlock.cc
  util/wvwchar.cc
  WVCore/NameValueMap.cc
  WVCore/NameValueMapConvert.cc
  WVCore/NameValueMapTrace.cc
  WVCore/OVObject.cc
  WVCore/attrlist.cc)
# The map's wire form: read and written by the map itself (the default), or through the
# codec's record tree and its three object calls, so that any codec with their contract can
# replace the stand-in.
if(OV_WIRE_VIA_CODEC)
  list(APPEND OVUTIL_SOURCES WVCore/NameValueMapWireCodec.cc)
else()
  list(APPEND OVUTIL_SOURCES WVCore/NameValueMapWire.cc)
endif()
list(TRANSFORM OVUTIL_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
ov_add_library(ovutil
  SOURCES ${OVUTIL_SOURCES} $<TARGET_OBJECTS:ovutil_mime64>
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
# The version header is generated from the project's version, beside the public headers.
set(OV_GENERATED_INCLUDE ${PROJECT_BINARY_DIR}/generated/include CACHE INTERNAL "Generated public headers")
configure_file(${PROJECT_SOURCE_DIR}/cmake/version.h.in ${OV_GENERATED_INCLUDE}/ovutil/version.h @ONLY)
target_include_directories(ovutil PUBLIC $<BUILD_INTERFACE:${OV_GENERATED_INCLUDE}>)
install(FILES ${OV_GENERATED_INCLUDE}/ovutil/version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ovutil
  COMPONENT dev)
