# version-resource.cmake - every Windows binary carries a version resource made from the
# project's version (file and product version @PROJECT_VERSION@, product name TSKQDL32, its
# original file name), from cmake/package/version.rc.in, compiled by the toolchain's windres.
if(NOT WIN32)
  return()
endif()
enable_language(RC)

# qdl_version_resource(<target> <file name> <description> <VFT_DLL|VFT_APP>)
function(qdl_version_resource target file description filetype)
  set(QDL_RC_FILE ${file})
  set(QDL_RC_DESCRIPTION ${description})
  set(QDL_RC_INTERNAL ${target})
  set(QDL_RC_FILETYPE ${filetype})
  set(rc ${CMAKE_BINARY_DIR}/version/${target}.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/package/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

qdl_version_resource(tskqdl32_current TSKQDL32.dll
  "TSKQDL32 communication configuration library (QDL Version 3.00)" VFT_DLL)
qdl_version_resource(tskqdl32_legacy TSKQDL32.dll
  "TSKQDL32 communication configuration library, legacy interface (QDL Version 1.01)" VFT_DLL)
# qdlcfg.exe, once the tool builds for Windows.
if(TARGET qdlcfg)
  qdl_version_resource(qdlcfg qdlcfg.exe "TSKQDL32 configuration tool" VFT_APP)
endif()
