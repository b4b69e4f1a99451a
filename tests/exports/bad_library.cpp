// bad_dll.cpp - a DLL built the wrong way on purpose: the C++ runtime linked as DLLs and one
// export too many. The DLL export check must reject it (tests/exports/CMakeLists.txt).
#include <string>

extern "C" __declspec(dllexport) int QDL_Get_Version(char* buffer) {
    const std::string text = "not the library";
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    return 0;
}

extern "C" __declspec(dllexport) int qdl_internal_helper() { return 1; }
