# wine-server.cmake - starts or stops the wineserver of one wine prefix for a test run.
#
#   cmake -DWINE=<wine64> -DWINESERVER=<path> -DWINEPREFIX=<dir> -DACTION=start|stop
#         -P wine-server.cmake
#
# start: "wineserver -p60" (the server stays while programs run, and a minute after the last
# should the stop never come), then "wineboot", which starts wine's own service processes; all
# with their standard streams on /dev/null. Otherwise the first test program would start those
# processes, they would inherit its output pipes and keep them open, and CTest would wait for
# the end of that output until the server stops. stop: "wineserver -k" ends the server and the
# service processes.
foreach(var WINE WINESERVER WINEPREFIX ACTION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
set(ENV{WINEPREFIX} ${WINEPREFIX})
set(ENV{WINEDEBUG} -all)
if(ACTION STREQUAL "start")
  set(args -p60)
elseif(ACTION STREQUAL "stop")
  set(args -k)
else()
  message(FATAL_ERROR "ACTION must be start or stop")
endif()
execute_process(COMMAND ${WINESERVER} ${args}
                INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null
                RESULT_VARIABLE rc)
# "wineserver -k" fails when no server runs: nothing to stop.
if(ACTION STREQUAL "stop")
  return()
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "wineserver -p failed: ${rc}")
endif()
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
execute_process(COMMAND ${WINE} wineboot
                INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "wineboot failed: ${rc}")
endif()
