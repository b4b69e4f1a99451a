# Cross build for 32-bit Windows (i686-w64-mingw32) with Debian's mingw-w64 packages.
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake
#
# As toolchain-mingw64.cmake. The exports are cdecl and listed in the .def files without
# decoration. Programs of this build cannot run here (no 32-bit support in the kernel), so it
# only builds the DLLs; their export tables are checked by tests/exports.
set(QDL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
