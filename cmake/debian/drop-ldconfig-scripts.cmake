# Run by cpack after it has built the packages (CPACK_POST_BUILD_SCRIPTS).
#
# For a package with shared libraries in a directory the loader searches, CPack writes a
# postinst and a postrm that only call ldconfig, and offers no switch to leave them out.
# libovutil1 has dpkg run ldconfig through its triggers file instead, as Debian asks
# (lintian: maintscript-calls-ldconfig), so this takes those two scripts out of the packages
# again. A script that does anything else is left alone and stops the build: it was written
# on purpose and needs a look.
find_program(OV_DPKG_DEB dpkg-deb REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree "${deb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND ${OV_DPKG_DEB} -R "${deb}" "${tree}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -R ${deb} failed")
  endif()
  set(dropped "")
  foreach(script IN ITEMS postinst postrm)
    set(path "${tree}/DEBIAN/${script}")
    if(NOT EXISTS "${path}")
      continue()
    endif()
    file(READ "${path}" text)
    string(REGEX REPLACE "[ \t\n]+" " " text "${text}")
    if(text MATCHES "^#!/bin/sh set -e if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then ldconfig fi ?$")
      file(REMOVE "${path}")
      list(APPEND dropped ${script})
    else()
      message(FATAL_ERROR "${deb}: ${script} does more than call ldconfig; not dropped")
    endif()
  endforeach()
  if(dropped)
    execute_process(COMMAND ${OV_DPKG_DEB} --root-owner-group -b "${tree}" "${deb}"
                    OUTPUT_QUIET RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "dpkg-deb -b ${deb} failed")
    endif()
    message(STATUS "${deb}: dropped the ldconfig-only ${dropped} (the triggers file runs ldconfig)")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
