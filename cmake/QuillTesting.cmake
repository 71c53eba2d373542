# GoogleTest for all three builds: the system package natively, built from the
# Debian sources with the MinGW compilers for Windows. Windows test programs run
# under Wine (CMAKE_CROSSCOMPILING_EMULATOR, tests/tools/wine-run), each in a
# private copy of the prefix in the build tree.

if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main gmock gmock_main)
    get_target_property(dirs ${t} INTERFACE_INCLUDE_DIRECTORIES)
    set_target_properties(${t} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${dirs}")
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# Every test program prints its skips and counts for scripts/test's summary
# (tests/core/ResultLines.cpp): ctest runs a Windows test program as one test
# and sees nothing of the tests inside it.
add_library(quill_result_lines OBJECT ${CMAKE_SOURCE_DIR}/tests/core/ResultLines.cpp)
target_link_libraries(quill_result_lines PRIVATE GTest::gtest)
quill_defaults(quill_result_lines)
if(WIN32)
  # Through gtest: also the Windows test programs made without quill_test.
  set_property(TARGET gtest APPEND PROPERTY INTERFACE_SOURCES
    "$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:$<TARGET_OBJECTS:quill_result_lines>>")
endif()

# The helpers that most test programs share (tests/core/TestUtil.*), compiled
# once per build instead of once per program.
add_library(quill_test_util STATIC ${CMAKE_SOURCE_DIR}/tests/core/TestUtil.cpp)
quill_defaults(quill_test_util)
target_include_directories(quill_test_util PUBLIC ${CMAKE_SOURCE_DIR}/tests/core)
target_link_libraries(quill_test_util PUBLIC quill_base)

set(QUILL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
# Each test runs in a private copy of it (tests/tools/lib.sh), never in it.
set(QUILL_WINE_ENV "QUILL_WINE_TEMPLATE=${QUILL_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")

if(NOT WIN32 AND NOT QUILL_SANITIZE)
  # scripts/test's summary on crafted results: what it counts, which skips it
  # accepts, and its verdict.
  add_test(NAME test_summary COMMAND ${CMAKE_SOURCE_DIR}/tests/tools/test-summary-check)
  set_tests_properties(test_summary PROPERTIES LABELS native TIMEOUT 300)
endif()

if(WIN32)
  # The prefix of the Windows tests, made once before the first of them runs.
  add_test(NAME wine_prefix
    COMMAND ${CMAKE_SOURCE_DIR}/tests/tools/wine-prefix ${QUILL_WINEPREFIX})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
endif()

# quill_test(name [OWN_MAIN] SOURCES... LIBS ... [LABELS ...] [ARGS ...])
# One GoogleTest program. Natively each of its tests becomes a ctest test; a
# Windows program runs whole under wine64 (one Wine start instead of one per
# test), with ARGS (a --gtest_filter that leaves out what other entries run).
function(quill_test name)
  cmake_parse_arguments(T "OWN_MAIN" "" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(NOT WIN32)
    # Windows programs get it through gtest (above).
    target_link_libraries(${name} PRIVATE quill_result_lines)
  endif()
  quill_defaults(${name})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/core)
  if(T_OWN_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBS} quill_test_util GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} quill_test_util GTest::gtest_main GTest::gmock)
  endif()
  if(WIN32)
    target_sources(${name} PRIVATE $<TARGET_OBJECTS:quill_resources>)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1 ${T_ARGS})
    set_tests_properties(${name} PROPERTIES LABELS "windows;${T_LABELS}"
      ENVIRONMENT "${QUILL_WINE_ENV}" FIXTURES_REQUIRED wine TIMEOUT 600)
  else()
    # The discovered tests' properties cannot carry a list, so the labels
    # join into one (native-threads, native-sim...); ctest -L matches a part.
    string(REPLACE ";" "-" labels "native;${T_LABELS}")
    string(REGEX REPLACE "-$" "" labels "${labels}")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS "${labels}" TIMEOUT 120)
  endif()
endfunction()
