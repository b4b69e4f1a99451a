# check_so.cmake - the dynamic symbol table and SONAME of a Linux shared library.
#
#   cmake -DLIBRARY=<.so> -DDEF=<.def> -DSONAME=<name> -DNM=<nm> -DOBJDUMP=<objdump>
#         -P check_so.cmake
#
# Fails unless the defined dynamic symbols are exactly the functions named in the .def file
# (each a text symbol, nothing else exported: no C++ internals, no runtime symbols) and the
# SONAME is the given one.
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/export_common.cmake)

foreach(var LIBRARY DEF SONAME NM OBJDUMP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "FAILED: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS ${LIBRARY})
  message(FATAL_ERROR "FAILED: ${LIBRARY} does not exist")
endif()

qdl_read_def(${DEF} expected ordinals)
set(QDL_PROBLEMS)

# "<address> <type> <name>[@<version>]" per defined dynamic symbol.
qdl_run_lines(lines ${NM} -D --defined-only ${LIBRARY})
set(found)
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) (.+)$")
    qdl_problem("unreadable nm line: ${line}")
    continue()
  endif()
  set(type ${CMAKE_MATCH_1})
  set(name ${CMAKE_MATCH_2})
  list(FIND expected "${name}" at)
  if(at EQUAL -1)
    qdl_problem("unexpected export ${name} (${type})")
  elseif(NOT type STREQUAL "T")
    qdl_problem("${name} is of type ${type}, not a function in the text section")
  else()
    list(APPEND found ${name})
  endif()
endforeach()
foreach(name IN LISTS expected)
  list(FIND found ${name} at)
  if(at EQUAL -1)
    qdl_problem("missing export ${name}")
  endif()
endforeach()

qdl_run_lines(lines ${OBJDUMP} -p ${LIBRARY})
set(sonames)
foreach(line IN LISTS lines)
  if(line MATCHES "^ *SONAME +(.+)$")
    list(APPEND sonames ${CMAKE_MATCH_1})
  endif()
endforeach()
if(NOT sonames STREQUAL SONAME)
  qdl_problem("SONAME is '${sonames}', expected '${SONAME}'")
endif()

list(LENGTH expected count)
qdl_report("${LIBRARY}: ${count} exports of ${DEF}, SONAME ${SONAME}")
