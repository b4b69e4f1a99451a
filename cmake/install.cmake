# install.cmake - what `cmake --install` puts where (GNUInstallDirs), the CMake package
# TSKQDL32 (targets TSKQDL32::tskqdl32 and TSKQDL32::tskqdl32_legacy, with a version file), the
# pkg-config files tskqdl32.pc and tskqdl32-legacy.pc, the `docs` target (Doxygen, optional) and
# the test that installs into a temporary prefix and builds consumers against it.
#
#   include/tskqdl32.h
#   lib/libtskqdl32.so.3*                   current library     (Windows: bin/TSKQDL32.dll)
#   lib/tskqdl32-legacy/libtskqdl32.so.1*   legacy library, same file name, own directory
#   lib/cmake/TSKQDL32/                     package configuration, targets, version
#   lib/pkgconfig/tskqdl32.pc, tskqdl32-legacy.pc  (not for Windows)
#   bin/qdlcfg, share/man/man1/qdlcfg.1     (tools/qdlcfg/CMakeLists.txt)
include(CMakePackageConfigHelpers)

set(QDL_LEGACY_LIBDIR ${CMAKE_INSTALL_LIBDIR}/tskqdl32-legacy)
set(QDL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TSKQDL32)

install(FILES ${PROJECT_SOURCE_DIR}/include/tskqdl32.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set_target_properties(tskqdl32_current PROPERTIES EXPORT_NAME tskqdl32)
set_target_properties(tskqdl32_legacy PROPERTIES EXPORT_NAME tskqdl32_legacy)
install(TARGETS tskqdl32_current EXPORT TSKQDL32Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tskqdl32_legacy EXPORT TSKQDL32Targets
  LIBRARY DESTINATION ${QDL_LEGACY_LIBDIR}
  ARCHIVE DESTINATION ${QDL_LEGACY_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}/tskqdl32-legacy)

install(EXPORT TSKQDL32Targets NAMESPACE TSKQDL32:: DESTINATION ${QDL_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/package/TSKQDL32Config.cmake.in
  ${CMAKE_BINARY_DIR}/package/TSKQDL32Config.cmake INSTALL_DESTINATION ${QDL_CMAKE_DIR})
# The package's version is the current library's. TSKQDL32ConfigVersion.cmake applies the usual
# rule (same major version, not older) and lets a request for major version 1 through, so that
# TSKQDL32Config.cmake can say where the legacy library (1.1) is instead of a bare refusal.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/TSKQDL32VersionRule.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/TSKQDL32ConfigVersion.cmake.in
  ${CMAKE_BINARY_DIR}/package/TSKQDL32ConfigVersion.cmake @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/TSKQDL32Config.cmake
  ${CMAKE_BINARY_DIR}/package/TSKQDL32ConfigVersion.cmake
  ${CMAKE_BINARY_DIR}/package/TSKQDL32VersionRule.cmake DESTINATION ${QDL_CMAKE_DIR})

# pkg-config files. Relocatable: the prefix is found from the .pc file's own place
# (${pcfiledir}), so a prefix installed with --prefix, DESTDIR or moved afterwards still works.
# Both put their library directory into the program's run path (-Wl,-rpath): the legacy library
# lies in a directory of its own that the loader never searches, and a program built against
# either library then runs from any prefix without LD_LIBRARY_PATH, as one built with the CMake
# package does.
# A directory given as an absolute path (-DCMAKE_INSTALL_LIBDIR=/usr/lib64) is written as it is.
function(qdl_install_pc name libdir version)
  set(QDL_PC_LIBDIR "\${prefix}/${libdir}")
  if(IS_ABSOLUTE "${libdir}")
    set(QDL_PC_LIBDIR "${libdir}")
  endif()
  set(QDL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(QDL_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
  endif()
  set(QDL_PC_VERSION ${version})
  set(pcdir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  if(IS_ABSOLUTE ${pcdir})
    set(QDL_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
  else()
    file(RELATIVE_PATH up /root/${pcdir} /root)
    string(REGEX REPLACE "/$" "" up "${up}")
    set(QDL_PC_PREFIX "\${pcfiledir}/${up}")
  endif()
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/package/${name}.pc.in
                 ${CMAKE_BINARY_DIR}/package/${name}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/package/${name}.pc DESTINATION ${pcdir})
endfunction()
if(NOT WIN32)
  get_target_property(QDL_LEGACY_VERSION tskqdl32_legacy VERSION)
  qdl_install_pc(tskqdl32 ${CMAKE_INSTALL_LIBDIR} ${PROJECT_VERSION})
  qdl_install_pc(tskqdl32-legacy ${QDL_LEGACY_LIBDIR} ${QDL_LEGACY_VERSION})
endif()

# docs: the public header's comments as HTML, when Doxygen is installed. Any Doxygen warning
# fails the target (WARN_AS_ERROR); diagrams are drawn only when Graphviz's dot is there.
find_package(Doxygen QUIET OPTIONAL_COMPONENTS dot)
if(DOXYGEN_FOUND)
  set(QDL_DOCS_DIR ${CMAKE_BINARY_DIR}/docs)
  set(QDL_DOXYGEN_HAVE_DOT NO)
  set(QDL_DOXYGEN_DOT_PATH "")
  if(DOXYGEN_DOT_FOUND)
    set(QDL_DOXYGEN_HAVE_DOT YES)
    get_filename_component(QDL_DOXYGEN_DOT_PATH ${DOXYGEN_DOT_EXECUTABLE} DIRECTORY)
  endif()
  set(QDL_DOXYGEN_FILTER ${CMAKE_CURRENT_LIST_DIR}/package/doxygen-filter.sed)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/package/Doxyfile.in ${QDL_DOCS_DIR}/Doxyfile @ONLY)
  add_custom_target(docs
    COMMAND ${DOXYGEN_EXECUTABLE} ${QDL_DOCS_DIR}/Doxyfile
    WORKING_DIRECTORY ${QDL_DOCS_DIR}
    COMMENT "Doxygen: ${QDL_DOCS_DIR}/html/index.html"
    VERBATIM)
else()
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E echo "docs: doxygen is not installed"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
endif()

# The install test: installs this build into a temporary prefix, then builds and runs a C
# consumer through pkg-config and a C++ consumer through find_package. Not in sanitizer builds:
# programs built without the sanitizers cannot load libraries built with them.
if(QDL_BUILD_TESTS AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND NOT QDL_SANITIZE)
  add_test(NAME install_consumers
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/install/run.sh ${CMAKE_BINARY_DIR}
            ${PROJECT_SOURCE_DIR}/tests/install ${CMAKE_C_COMPILER} ${CMAKE_CXX_COMPILER}
            ${CMAKE_COMMAND} $<TARGET_EXISTS:qdlcfg>)
  set_tests_properties(install_consumers PROPERTIES TIMEOUT 600)
  # Install directories given as absolute paths, as packagers give them: the .pc files name them
  # as they are (configured only; nothing is built).
  set(dir ${CMAKE_BINARY_DIR}/pc-absolute-dirs)
  add_test(NAME install_pc_absolute_dirs
    COMMAND sh -c "rm -rf \"$1\" && \"$2\" -S \"$3\" -B \"$1\" -DQDL_BUILD_TESTS=OFF \
                   -DQDL_BUILD_TOOLS=OFF -DCMAKE_INSTALL_PREFIX=/opt/q \
                   -DCMAKE_INSTALL_LIBDIR=/opt/q/lib64 -DCMAKE_INSTALL_INCLUDEDIR=/opt/q/inc \
                   >/dev/null && cd \"$1/package\" && cat tskqdl32.pc tskqdl32-legacy.pc | \
                   grep -E '^(libdir|includedir)=' | tr '\\n' ' '" sh
            ${dir} ${CMAKE_COMMAND} ${PROJECT_SOURCE_DIR})
  set_tests_properties(install_pc_absolute_dirs PROPERTIES PASS_REGULAR_EXPRESSION
    "libdir=/opt/q/lib64 includedir=/opt/q/inc libdir=/opt/q/lib64/tskqdl32-legacy includedir=/opt/q/inc ")
endif()
