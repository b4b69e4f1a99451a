/* bad_cdecl_dll.c - three exports of the legacy interface that break the calling convention on
 * purpose (i686): QDL_Get_Version removes its own argument (stdcall), QDL_Delete_Record takes
 * its two 16-bit codes in one 32-bit slot, so it reads the name from the second slot, and
 * QDL_Get_List returns with EBX and ESI changed. cdecl_check must reject all three
 * (tests/exports/CMakeLists.txt).
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

__asm__("    .text\n"
        "    .globl _QDL_Get_List\n"
        "_QDL_Get_List:\n"
        "    movl $-2, %eax\n"
        "    movl %eax, %ebx\n"
        "    movl %eax, %esi\n"
        "    ret\n"
        "    .section .drectve\n"
        "    .ascii \" -export:QDL_Get_List\"\n"
        "    .text\n");
