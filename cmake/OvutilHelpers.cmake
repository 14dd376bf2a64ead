# One helper per kind of target: shared library, unit test, benchmark, fuzz target.

# ov_add_library(<name> SOURCES ... [INCLUDE_DIR dir] [PUBLIC_LINK ...] [PRIVATE_LINK ...] [SOVERSION n])
# A versioned shared library with hidden default visibility, exported as ovutil::<name>.
function(ov_add_library name)
  cmake_parse_arguments(A "" "INCLUDE_DIR;SOVERSION" "SOURCES;PUBLIC_LINK;PRIVATE_LINK" ${ARGN})
  if(NOT A_SOVERSION)
    set(A_SOVERSION 1)
  endif()
  add_library(${name} SHARED ${A_SOURCES})
  add_library(ovutil::${name} ALIAS ${name})
  set_target_properties(${name} PROPERTIES
    VERSION ${A_SOVERSION}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
    SOVERSION ${A_SOVERSION}
    EXPORT_NAME ${name})
  if(OV_INSTALL_RPATH)
    # The libraries are installed side by side: each finds its siblings next to itself,
    # wherever the copy was installed and without LD_LIBRARY_PATH.
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
  if(A_INCLUDE_DIR)
    target_include_directories(${name} PUBLIC
      $<BUILD_INTERFACE:${A_INCLUDE_DIR}>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
    install(DIRECTORY ${A_INCLUDE_DIR}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
  endif()
  target_link_libraries(${name} PUBLIC ${A_PUBLIC_LINK} PRIVATE ${A_PRIVATE_LINK})
  # A library's calls to its own exported functions are not interposed (no caller replaces
  # them at run time), so the compiler may inline them as it does within a program.
  target_compile_options(${name} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-fno-semantic-interposition>)
  # Components of the packages: the versioned library in "libs", the unversioned link that
  # only a build needs in "dev".
  install(TARGETS ${name} EXPORT ovutilTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libs NAMELINK_COMPONENT dev
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT libs)
  set_property(GLOBAL APPEND PROPERTY OV_LIBRARIES ${name})
endfunction()

# ov_add_test(<file> [SOURCES ...] [LINK ...] [THREADS])
# One test program per test file, named after it: getpath_test.cc builds getpath_test.
# SOURCES adds sources that hold no tests of their own. CTest names each test
# "<program>.<Suite>.<Test>", so `ctest -R getpath_test` runs the tests of getpath_test.cc.
# THREADS labels the tests "threads" (the ThreadSanitizer build runs those), else "unit".
function(ov_add_test file)
  cmake_parse_arguments(A "THREADS" "" "SOURCES;LINK" ${ARGN})
  get_filename_component(name ${file} NAME_WE)
  add_executable(${name} ${file} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LINK} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # One label per test: gtest_discover_tests hands properties on as a flat list, which
  # would split a list of labels. `make check` runs both labels.
  set(label unit)
  if(A_THREADS)
    set(label threads)
  endif()
  gtest_discover_tests(${name}
    TEST_PREFIX "${name}."
    PROPERTIES LABELS ${label}
    DISCOVERY_TIMEOUT 60)
endfunction()

# ov_add_bench(<name> SOURCES ... [LINK ...])
function(ov_add_bench name)
  cmake_parse_arguments(A "" "" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LINK} benchmark::benchmark Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/bench)
endfunction()

# ov_add_fuzz(<name> SOURCES ... [LINK ...] CORPUS <dir> [LARGE <seeds>])
# A libFuzzer target; CI runs it briefly over its seed corpus (ctest -L fuzz). A decoder of
# outside input gives LARGE: a second test, <name>_large, runs it on inputs of up to 1 MiB
# with a short time limit per input (scripts/run-fuzz --large), so that a superlinear path
# fails as a timeout; it starts from the corpus and the large seeds of that kind that
# hostile_inputs writes at build time (fuzz/CMakeLists.txt): der, stanza, or none.
function(ov_add_fuzz name)
  cmake_parse_arguments(A "" "CORPUS;LARGE" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${A_LINK})
  add_test(NAME ${name}
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/run-fuzz $<TARGET_FILE:${name}> ${A_CORPUS}
            ${CMAKE_CURRENT_BINARY_DIR}/${name}_work)
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
  if(A_LARGE)
    set(seeds "")
    if(NOT A_LARGE STREQUAL "none")
      set(seeds ${OV_FUZZ_LARGE_SEEDS}/${A_LARGE})
    endif()
    add_test(NAME ${name}_large
      COMMAND ${PROJECT_SOURCE_DIR}/scripts/run-fuzz --large $<TARGET_FILE:${name}> ${A_CORPUS}
              ${CMAKE_CURRENT_BINARY_DIR}/${name}_large_work ${seeds})
    set_tests_properties(${name}_large PROPERTIES LABELS fuzz TIMEOUT 600)
  endif()
endfunction()

# ov_add_areas(): adds every sub-directory of the current directory that holds a
# CMakeLists.txt, in name order (tests/, bench/ and fuzz/ keep one area per sub-directory).
function(ov_add_areas)
  file(GLOB areas LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT areas)
  foreach(area IN LISTS areas)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/CMakeLists.txt)
      add_subdirectory(${area})
    endif()
  endforeach()
endfunction()
