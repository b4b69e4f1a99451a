# wine-tests.cmake - the Windows test programs of a mingw-w64 build, run by CTest under wine64.
#
#   GoogleTest          built from the sources of Debian's googletest package with the cross
#                       compiler (QDL_GTEST_SOURCE, default /usr/src/googletest)
#   wine                wine64 is the CMAKE_CROSSCOMPILING_EMULATOR; every test runs with
#                       WINEDEBUG=-all in a prefix of its own inside the build tree
#                       (<build>/wineprefix, made by the build), never the user's own
#   wineserver          kept running for the whole test run (fixture qdl_wine: started with
#                       "wineserver -p60" before the first test, stopped after the last), so
#                       each program does not pay for starting a server
#   qdl_windows_test()  one CTest entry per test program: the fixture qdltest::Machine gives
#                       every test a fresh machine inside one process. All programs share the
#                       prefix's registry and Windows directory, so they run one at a time.
#
# Included by tests/CMakeLists.txt before any test program is defined.

set(QDL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
if(NOT EXISTS ${QDL_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources at ${QDL_GTEST_SOURCE} (Debian package googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QDL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Programs of a 32-bit build cannot run on this machine; only a 64-bit build gets wine.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(QDL_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
  find_program(QDL_WINE64 NAMES wine64 wine)
  find_program(QDL_WINESERVER NAMES wineserver PATHS /usr/lib/wine /usr/lib64/wine
               NO_DEFAULT_PATH)
  find_program(QDL_WINESERVER NAMES wineserver)
endif()

set(QDL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(QDL_CAN_RUN_WINDOWS_TESTS OFF)
if(QDL_WINE64 AND QDL_WINESERVER)
  set(QDL_CAN_RUN_WINDOWS_TESTS ON)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QDL_WINE64})
  # The same environment for wine, the server and every test. No Mono or Gecko install
  # dialogs while the prefix is made.
  set(QDL_WINE_ENV WINEPREFIX=${QDL_WINEPREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=")

  set(ready ${QDL_WINEPREFIX}/.qdl-prefix-ready)
  add_custom_command(OUTPUT ${ready}
    COMMAND ${CMAKE_COMMAND} -E env ${QDL_WINE_ENV} ${QDL_WINE64} wineboot --init
    COMMAND ${CMAKE_COMMAND} -E env ${QDL_WINE_ENV} ${QDL_WINESERVER} -w
    COMMAND ${CMAKE_COMMAND} -E touch ${ready}
    COMMENT "Making the wine prefix ${QDL_WINEPREFIX}"
    VERBATIM)
  add_custom_target(qdl_wineprefix ALL DEPENDS ${ready})

  foreach(action start stop)
    add_test(NAME wine_server_${action}
             COMMAND ${CMAKE_COMMAND} -DWINE=${QDL_WINE64} -DWINESERVER=${QDL_WINESERVER}
                     -DWINEPREFIX=${QDL_WINEPREFIX} -DACTION=${action}
                     -P ${PROJECT_SOURCE_DIR}/cmake/wine-server.cmake)
  endforeach()
  set_tests_properties(wine_server_start PROPERTIES FIXTURES_SETUP qdl_wine)
  set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP qdl_wine)
else()
  message(WARNING "wine64 not found: the Windows test programs are built but not run")
endif()

# The build directory as a Windows program sees it (wine maps drive Z: to /).
string(REPLACE "/" "\\" QDL_BINARY_DIR_WINDOWS "Z:${CMAKE_BINARY_DIR}")

# qdl_windows_test(<target> [args...]): registers a test program as one CTest entry under wine.
function(qdl_windows_test target)
  if(NOT QDL_CAN_RUN_WINDOWS_TESTS)
    return()
  endif()
  add_test(NAME ${target} COMMAND ${target} ${ARGN})
  set_tests_properties(${target} PROPERTIES
    ENVIRONMENT "${QDL_WINE_ENV};QDL_TEST_BUILD_DIR=${QDL_BINARY_DIR_WINDOWS}"
    FIXTURES_REQUIRED qdl_wine
    RESOURCE_LOCK qdl_wine_machine
    TIMEOUT 600)
endfunction()
