/* bad_cdecl_dll.c - two exports of the legacy interface that break the calling convention on
 * purpose (i686): QDL_Get_Version removes its own argument (stdcall), and QDL_Delete_Record
 * takes its two 16-bit codes in one 32-bit slot, so it reads the name from the second slot.
 * cdecl_check must reject both (tests/exports/CMakeLists.txt).
 */
#include <string.h>

typedef struct {
    unsigned short kind;
    unsigned short address_kind;
} ShortPair;

__declspec(dllexport) int __stdcall QDL_Get_Version(char* buffer) {
    if (buffer == 0) return -2;
    strcpy(buffer, "QDL Version 1.01 (03a1)");
    return 0;
}

__declspec(dllexport) int QDL_Delete_Record(ShortPair codes, const char* name) {
    if (name == 0) return -2;
    return codes.kind == 1 ? 0 : -1;
}
