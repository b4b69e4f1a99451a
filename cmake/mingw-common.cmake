# Shared part of the two mingw-w64 toolchain files; QDL_MINGW_TRIPLET names the target.
set(CMAKE_SYSTEM_NAME Windows)
if(QDL_MINGW_TRIPLET MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()

# Prefer the posix thread model (std::thread, std::mutex); fall back to the default compilers.
foreach(lang_tool C:gcc CXX:g++)
  string(REPLACE ":" ";" pair ${lang_tool})
  list(GET pair 0 lang)
  list(GET pair 1 tool)
  find_program(QDL_MINGW_${lang} NAMES ${QDL_MINGW_TRIPLET}-${tool}-posix
               ${QDL_MINGW_TRIPLET}-${tool} REQUIRED)
  set(CMAKE_${lang}_COMPILER ${QDL_MINGW_${lang}})
endforeach()
find_program(CMAKE_RC_COMPILER NAMES ${QDL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QDL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static C and C++ runtime for every program and DLL: nothing but system DLLs is imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
