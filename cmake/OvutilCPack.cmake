# Debian packages of the installed copy, split the way Debian splits a library:
#   libovutil1     the shared libraries and the message catalogs       (component "libs")
#   libovutil-dev  headers, the CMake package, ovutil.pc, the .so links (component "dev")
#   ovutil-tools   the ovutil tool and its man page                     (component "tools")
# `make package` configures a build for /usr without the $ORIGIN run path (the system's
# library directory is searched anyway) and runs cpack; scripts/package-test checks the result.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ovutil)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ovutil developers <ovutil-dev@example.org>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL libs dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file for the run-time package, so that what links against it depends on it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(OV_DEB_VERSION "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")

# dpkg-shlibdeps finds the libraries of this build where they were built.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "")
get_property(ov_libs GLOBAL PROPERTY OV_LIBRARIES)
foreach(lib IN LISTS ov_libs)
  get_target_property(dir ${lib} BINARY_DIR)
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${dir})
endforeach()

set(CPACK_DEBIAN_LIBS_PACKAGE_NAME libovutil1)
set(CPACK_DEBIAN_LIBS_PACKAGE_SECTION libs)
# The triggers file has dpkg run ldconfig; the ldconfig-only maintainer scripts that CPack
# writes beside it are taken out after the build. The symbols file lists every exported
# symbol with the version that brought it; scripts/package-test checks it against the built
# libraries.
set(CPACK_DEBIAN_LIBS_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/cmake/debian/triggers ${PROJECT_SOURCE_DIR}/cmake/debian/symbols)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/drop-ldconfig-scripts.cmake)
set(CPACK_DEBIAN_LIBS_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The first line of a description is the package's synopsis.
set(CPACK_DEBIAN_LIBS_DESCRIPTION "utility library of the access-control product
Process start-up, message texts by number, the product's stanza
configuration files, the data model exchanged between components with its
ASN.1 wire form, locks and text utilities. This package holds the shared
libraries and the message catalogs.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libovutil-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libovutil1 (= ${OV_DEB_VERSION})")
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEV_DESCRIPTION "utility library of the access-control product - development files
Headers, the CMake package (find_package(ovutil)) and the pkg-config file
needed to build programs against the utility library.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ovutil-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libovutil1 (= ${OV_DEB_VERSION})")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "administrator's tool of the access-control product's utility library
The ovutil command reads, changes, checks and migrates the product's stanza
configuration files, prints message texts and the install path table, and
decodes wire objects into their masked trace.")

# Debian wants a copyright file and a changelog in each package's documentation directory.
if(OV_DEBIAN_DOCS)
  find_program(OV_GZIP gzip REQUIRED)
  string(TIMESTAMP ov_deb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(ov_changelog ${PROJECT_BINARY_DIR}/debian/changelog.Debian)
  foreach(comp IN ITEMS libs dev tools)
    string(TOUPPER ${comp} COMP)
    set(pkg ${CPACK_DEBIAN_${COMP}_PACKAGE_NAME})
    file(WRITE ${ov_changelog}.${pkg}
      "${pkg} (${OV_DEB_VERSION}) unstable; urgency=medium\n\n"
      "  * Release ${PROJECT_VERSION}; see NEWS.md in the source for what it adds.\n\n"
      " -- ${CPACK_PACKAGE_CONTACT}  ${ov_deb_date}\n")
    execute_process(COMMAND ${OV_GZIP} -9nf ${ov_changelog}.${pkg})
    install(FILES ${ov_changelog}.${pkg}.gz RENAME changelog.Debian.gz
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${pkg} COMPONENT ${comp})
    install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${pkg} COMPONENT ${comp})
  endforeach()
endif()

include(CPack)
