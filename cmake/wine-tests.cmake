# wine-tests.cmake - the Windows test programs of a mingw-w64 build, run by CTest under wine.
#
#   GoogleTest          built from the sources of Debian's googletest package with the cross
#                       compiler (QDL_GTEST_SOURCE, default /usr/src/googletest)
#   wine (x86_64)       wine64 is the CMAKE_CROSSCOMPILING_EMULATOR; every test runs with
#                       WINEDEBUG=-all in a prefix of its own inside the build tree
#                       (<build>/wineprefix, made by the build), never the user's own
#   wine (i686)         cmake/wine32-run.sh is the emulator: Debian's wine32 under qemu-i386
#                       (qemu-user), in <build>/wineprefix too, made by the first test
#                       (wine_prefix). Only single-threaded programs run reliably there.
#   wineserver          x86_64: kept running for the whole test run (fixture qdl_wine: started
#                       with "wineserver -p60" before the first test, stopped after the last),
#                       so each program does not pay for starting a server. i686: each program
#                       starts its own with -p0, which ends with the program; the fixture's
#                       cleanup ends whatever is left of the prefix's wine processes.
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

find_program(QDL_WINESERVER NAMES wineserver PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
find_program(QDL_WINESERVER NAMES wineserver)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(QDL_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
  find_program(QDL_WINE64 NAMES wine64 wine)
else()
  # The paths cmake/wine32-run.sh uses.
  find_program(QDL_QEMU_I386 NAMES qemu-i386)
  find_program(QDL_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
endif()

set(QDL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
# The same environment for wine, the server and every test. No Mono or Gecko install dialogs
# while the prefix is made.
set(QDL_WINE_ENV WINEPREFIX=${QDL_WINEPREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=")
set(QDL_CAN_RUN_WINDOWS_TESTS OFF)
set(QDL_WINE_EMULATED OFF)
set(QDL_WINE_TEST_TIMEOUT 600)
if(QDL_WINE64 AND QDL_WINESERVER)
  set(QDL_CAN_RUN_WINDOWS_TESTS ON)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QDL_WINE64})

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
elseif(QDL_QEMU_I386 AND QDL_WINE32 AND QDL_WINESERVER)
  set(QDL_CAN_RUN_WINDOWS_TESTS ON)
  set(QDL_WINE_EMULATED ON)
  set(QDL_WINE_TEST_TIMEOUT 300)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine32-run.sh)
  # Makes the prefix when it is missing (about 15 s under emulation) with a program of wine's.
  # What counts is the prefix: under emulation wine may make it and still fail to start the
  # program itself ("ShellExecuteEx failed"), so once the prefix's wineserver has ended (it
  # writes the registry as it goes) the registry file decides.
  add_test(NAME wine_prefix
           COMMAND sh -c "test -f \"$WINEPREFIX/system.reg\" || { \"$0\" cmd.exe /c exit 0; \"$1\" -w; }; test -f \"$WINEPREFIX/system.reg\""
                   ${CMAKE_CROSSCOMPILING_EMULATOR} ${QDL_WINESERVER})
  add_test(NAME wine_server_stop
           COMMAND ${CMAKE_COMMAND} -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR}
                   -DWINESERVER=${QDL_WINESERVER} -DWINEPREFIX=${QDL_WINEPREFIX} -DACTION=stop
                   -P ${PROJECT_SOURCE_DIR}/cmake/wine-server.cmake)
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP qdl_wine
                       ENVIRONMENT "${QDL_WINE_ENV}" TIMEOUT 300)
  set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP qdl_wine)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8)
  message(WARNING "wine64 not found: the Windows test programs are built but not run")
else()
  message(WARNING "qemu-i386 or wine32 not found: the Windows test programs are built but not run")
endif()

# The build directory as a Windows program sees it (wine maps drive Z: to /).
string(REPLACE "/" "\\" QDL_BINARY_DIR_WINDOWS "Z:${CMAKE_BINARY_DIR}")

# qdl_windows_test(<target> [args...]): registers a test program as one CTest entry under wine;
# qdl_windows_test_named(<test> <target> [args...]) the same under another name.
function(qdl_windows_test_named name target)
  if(NOT QDL_CAN_RUN_WINDOWS_TESTS)
    return()
  endif()
  add_test(NAME ${name} COMMAND ${target} ${ARGN})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "${QDL_WINE_ENV};QDL_TEST_BUILD_DIR=${QDL_BINARY_DIR_WINDOWS}"
    FIXTURES_REQUIRED qdl_wine
    RESOURCE_LOCK qdl_wine_machine
    TIMEOUT ${QDL_WINE_TEST_TIMEOUT})
endfunction()

function(qdl_windows_test target)
  qdl_windows_test_named(${target} ${target} ${ARGN})
endfunction()
