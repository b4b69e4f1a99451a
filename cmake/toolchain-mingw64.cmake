# Cross build for 64-bit Windows (x86_64-w64-mingw32) with Debian's mingw-w64 packages.
#
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
#
# The posix thread model compilers give std::thread and std::mutex; the runtime libraries
# (libstdc++, libgcc, libwinpthread) are linked statically, so every program and DLL imports
# system DLLs only. Test programs run under wine64 (tests/CMakeLists.txt sets the emulator).
set(QDL_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
