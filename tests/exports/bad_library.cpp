// bad_library.cpp - a library built the wrong way on purpose: one export too many and, as a
// DLL, the C++ runtime linked as DLLs; as a Linux library, no version script, so no version
// node and no SONAME of the library's own. The export checks must reject it
// (tests/exports/CMakeLists.txt).
#include <string>

#if defined(_WIN32)
#define BAD_EXPORT extern "C" __declspec(dllexport)
#else
#define BAD_EXPORT extern "C" __attribute__((visibility("default")))
#endif

BAD_EXPORT int QDL_Get_Version(char* buffer) {
    const std::string text = "not the library";
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    return 0;
}

BAD_EXPORT int qdl_internal_helper() { return 1; }
