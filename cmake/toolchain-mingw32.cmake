# Cross build for 32-bit Windows (i686-w64-mingw32) with Debian's mingw-w64 packages.
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake
#
# As toolchain-mingw64.cmake. The exports are cdecl and listed in the .def files without
# decoration. The kernel here cannot start 32-bit programs: the tests run under Debian's 32-bit
# wine inside qemu-user (cmake/wine32-run.sh, set up by cmake/wine-tests.cmake).
set(QDL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
