# check_so.cmake - the dynamic symbol table, version node and SONAME of a Linux shared library.
#
#   cmake -DLIBRARY=<.so> -DDEF=<.def> -DNODE=<version node> -DSONAME=<name> -DNM=<nm>
#         -DOBJDUMP=<objdump> -P check_so.cmake
#
# Fails unless the defined dynamic symbols are exactly the functions named in the .def file
# (each a text symbol, nothing else exported: no C++ internals, no runtime symbols), each bound
# to the version node NODE as its default version ("name@@NODE"), NODE is the only version node
# the library defines, and the SONAME is the given one. The node keeps a program and a plugin
# that use the two libraries apart: a reference to QDL_Get_Version@TSKQDL32_1 is never bound to
# the current library's QDL_Get_Version@@TSKQDL32_3, whichever was loaded first.
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/export_common.cmake)

foreach(var LIBRARY DEF NODE SONAME NM OBJDUMP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "FAILED: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS ${LIBRARY})
  message(FATAL_ERROR "FAILED: ${LIBRARY} does not exist")
endif()

qdl_read_def(${DEF} expected ordinals)
set(QDL_PROBLEMS)

# "<address> <type> <name>[@@<node>]" per defined dynamic symbol; a version node's own
# definition is an absolute symbol "<address> A <node>".
qdl_run_lines(lines ${NM} -D --defined-only ${LIBRARY})
set(found)
set(nodes)
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^@]+)(@@?.*)?$")
    qdl_problem("unreadable nm line: ${line}")
    continue()
  endif()
  set(type ${CMAKE_MATCH_1})
  set(name ${CMAKE_MATCH_2})
  set(version "${CMAKE_MATCH_3}")
  if(type STREQUAL "A")
    list(APPEND nodes ${name})
    continue()
  endif()
  list(APPEND found ${name})
  if(NOT name IN_LIST expected)
    continue()
  endif()
  if(NOT type STREQUAL "T")
    qdl_problem("${name} is of type ${type}, not a function in the text section")
  endif()
  if(version STREQUAL "")
    qdl_problem("${name} has no version node")
  elseif(NOT version STREQUAL "@@${NODE}")
    qdl_problem("${name} is ${name}${version}, expected ${name}@@${NODE}")
  endif()
endforeach()
qdl_compare_names("${expected}" "${found}")
if(NOT nodes STREQUAL NODE)
  qdl_problem("the library defines the version nodes '${nodes}', expected '${NODE}'")
endif()

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
qdl_report("${LIBRARY}: ${count} exports of ${DEF} in node ${NODE}, SONAME ${SONAME}")
