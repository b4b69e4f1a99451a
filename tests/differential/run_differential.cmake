# run_differential.cmake - runs profile_diff on Linux and under wine on the same seeds and
# compares the transcripts (kept in OUT as profile_diff.linux.txt / profile_diff.wine.txt).
# WINE is wine64, or cmake/wine32-run.sh for the i686 program.
#
#   cmake -DLINUX_PROGRAM=... -DWINDOWS_PROGRAM=... -DWINEPREFIX=... -DWINE=... -DOPS=...
#         -DSEEDS=1;2;3 -DOUT=<dir> [-DEXPECT=ON] -P run_differential.cmake
cmake_minimum_required(VERSION 3.20)

if(NOT EXISTS "${WINDOWS_PROGRAM}" OR NOT EXISTS "${WINEPREFIX}/system.reg" OR NOT WINE)
  set(why "${WINDOWS_PROGRAM} or its wine prefix or wine is missing")
  if(EXPECT)
    message(FATAL_ERROR "FAILED: ${why} (Windows builds expected)")
  endif()
  message("QDL-SKIP: ${why}")
  return()
endif()

file(MAKE_DIRECTORY ${OUT})
set(linux_out ${OUT}/profile_diff.linux.txt)
set(wine_out ${OUT}/profile_diff.wine.txt)
execute_process(COMMAND ${LINUX_PROGRAM} run ${OPS} ${SEEDS}
                INPUT_FILE /dev/null OUTPUT_FILE ${linux_out} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "FAILED: the Linux run exited with ${rc}")
endif()

# Output to files, not pipes: wine's service processes outlive the program and would keep a
# pipe open.
set(ENV{WINEPREFIX} ${WINEPREFIX})
set(ENV{WINEDEBUG} -all)
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
execute_process(COMMAND ${WINE} ${WINDOWS_PROGRAM} run ${OPS} ${SEEDS}
                INPUT_FILE /dev/null OUTPUT_FILE ${wine_out} ERROR_FILE ${wine_out}.err
                RESULT_VARIABLE rc TIMEOUT 500)
if(NOT rc EQUAL 0)
  file(READ ${wine_out}.err err)
  message(FATAL_ERROR "FAILED: the wine run exited with ${rc}: ${err}")
endif()

execute_process(COMMAND ${LINUX_PROGRAM} compare ${linux_out} ${wine_out} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "FAILED: the transcripts differ (${linux_out}, ${wine_out})")
endif()
