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
