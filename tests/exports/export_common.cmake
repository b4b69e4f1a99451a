# export_common.cmake - helpers of the export checks (check_so.cmake, check_dll.cmake).
#
#   qdl_read_def(<def> <names-var> <ordinals-var>)   the names and ordinals of a .def file
#   qdl_read_map(<map> <names-var>)                  the global names of a version script
#   qdl_run_lines(<var> <command...>)                a tool's output as a list of lines
#   qdl_compare_names(<expected> <found>)            the exported names against the list
#   qdl_problem(<text>) / qdl_report(<what>)         collect failed checks, report them

# Text lines as a CMake list: ';' would split a line, and unbalanced square brackets would stop
# the splitting, so both are replaced ('[' ']' become '<' '>').
function(qdl_lines text out)
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "[" "<" text "${text}")
  string(REPLACE "]" ">" text "${text}")
  string(REPLACE "\r" "" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Output from a line that begins with one of QDL_STOP_AT on is dropped (the long unwind and
# relocation tables of "objdump -p", which nothing here reads).
function(qdl_run_lines out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "FAILED: ${ARGN} exited with ${rc}: ${err}")
  endif()
  foreach(stop IN LISTS QDL_STOP_AT)
    string(FIND "${text}" "\n${stop}" at)
    if(at GREATER -1)
      string(SUBSTRING "${text}" 0 ${at} text)
    endif()
  endforeach()
  qdl_lines("${text}" lines)
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# EXPORTS section of a module-definition file: "    NAME   @N" per line.
function(qdl_read_def def names_out ordinals_out)
  file(READ ${def} text)
  qdl_lines("${text}" lines)
  set(names)
  set(ordinals)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+@([0-9]+)[ \t]*$")
      list(APPEND names ${CMAKE_MATCH_1})
      list(APPEND ordinals ${CMAKE_MATCH_2})
    endif()
  endforeach()
  if(NOT names)
    message(FATAL_ERROR "FAILED: no exports in ${def}")
  endif()
  set(${names_out} "${names}" PARENT_SCOPE)
  set(${ordinals_out} "${ordinals}" PARENT_SCOPE)
endfunction()

# The names of the "global:" part of a version script.
function(qdl_read_map map names_out)
  file(READ ${map} text)
  qdl_lines("${text}" lines)
  set(names)
  set(in_global OFF)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "global:")
      set(in_global ON)
    elseif(line MATCHES ":$")
      set(in_global OFF)
    elseif(in_global AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*),$")  # ';' became ','
      list(APPEND names ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set(${names_out} "${names}" PARENT_SCOPE)
endfunction()

# Every name found is one of the expected names ("unexpected export") and every expected name
# is found ("missing export"). Both lists are passed as values: "${list}".
function(qdl_compare_names expected found)
  set(problems ${QDL_PROBLEMS})
  foreach(name IN LISTS found)
    if(NOT name IN_LIST expected)
      list(APPEND problems "unexpected export ${name}")
    endif()
  endforeach()
  foreach(name IN LISTS expected)
    if(NOT name IN_LIST found)
      list(APPEND problems "missing export ${name}")
    endif()
  endforeach()
  set(QDL_PROBLEMS "${problems}" PARENT_SCOPE)
endfunction()

# Problems are collected and reported together at the end (qdl_report).
macro(qdl_problem text)
  list(APPEND QDL_PROBLEMS "${text}")
endmacro()

function(qdl_report what)
  if(QDL_PROBLEMS)
    list(JOIN QDL_PROBLEMS "\n  " text)
    message(FATAL_ERROR "FAILED: ${what}:\n  ${text}")
  endif()
  message(STATUS "OK: ${what}")
endfunction()
