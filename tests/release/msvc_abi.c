/* msvc_abi.c - a Windows program built for the MSVC ABI (clang --target=*-windows-msvc,
 * lld-link, the SDK's TSKQDL32.lib), with no C runtime at all: its entry point is `start`, it
 * calls kernel32 and version.dll only through import libraries made by llvm-dlltool, and it
 * calls every export of one DLL of the SDK through the header, checking what each returns:
 *
 *   current (default)    the eight QDL_ functions: a port with its modem record name, a modem,
 *                        read back plain and extended, listed, deleted
 *   legacy (-DQDL_TEST_LEGACY)  the five functions with LegacyPortRecord
 *
 * It also reads the DLL's version resource the way Windows shows it (file and product version,
 * product name, original file name) and compares it with QDL_EXPECT_MAJOR/MINOR/PATCH and
 * QDL_EXPECT_VERSION. Exit code 0 when all hold; otherwise the number of the first failed check,
 * which is also written to stdout. Run it beside the DLL, in a fresh wine prefix. */
#include <tskqdl32.h>

#if defined(_M_IX86)
#  define WINAPI __stdcall
#else
#  define WINAPI
#endif
typedef void *HANDLE;
#define STD_OUTPUT_HANDLE ((unsigned long)-11)
__declspec(dllimport) void WINAPI ExitProcess(unsigned int code);
__declspec(dllimport) HANDLE WINAPI GetStdHandle(unsigned long which);
__declspec(dllimport) int WINAPI WriteFile(HANDLE file, const void *data, unsigned long size,
                                           unsigned long *written, void *overlapped);
__declspec(dllimport) HANDLE WINAPI GetModuleHandleA(const char *name);
__declspec(dllimport) unsigned long WINAPI GetModuleFileNameA(HANDLE module, char *path,
                                                              unsigned long size);
__declspec(dllimport) unsigned long WINAPI GetFileVersionInfoSizeA(const char *path,
                                                                   unsigned long *handle);
__declspec(dllimport) int WINAPI GetFileVersionInfoA(const char *path, unsigned long handle,
                                                     unsigned long size, void *data);
__declspec(dllimport) int WINAPI VerQueryValueA(const void *block, const char *sub, void **value,
                                                unsigned int *size);

typedef struct {
    unsigned long signature, struct_version, file_ms, file_ls, product_ms, product_ls;
} FixedFileInfoHead; /* the start of VS_FIXEDFILEINFO */

/* No C runtime: the few helpers the program and the compiler need. */
void *memset(void *to, int byte, size_t n) {
    volatile unsigned char *p = (volatile unsigned char *)to;
    while (n--) *p++ = (unsigned char)byte;
    return to;
}
void *memcpy(void *to, const void *from, size_t n) {
    volatile unsigned char *p = (volatile unsigned char *)to;
    const unsigned char *q = (const unsigned char *)from;
    while (n--) *p++ = *q++;
    return to;
}
static int same(const char *a, const char *b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}
static void copy(char *to, const char *from) {
    while ((*to++ = *from++) != 0) {}
}
static void say(const char *text) {
    unsigned long n = 0, written;
    while (text[n]) ++n;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, n, &written, 0);
}
static void check(int ok, unsigned int number, const char *what) {
    if (ok) return;
    char line[8] = {'#', (char)('0' + number / 10), (char)('0' + number % 10), ' ', 0};
    say("msvc_abi: check ");
    say(line);
    say(what);
    say(" failed\n");
    ExitProcess(number);
}

static char version_block[8192];

static void check_version_resource(void) {
    char path[520];
    unsigned long handle = 0, size;
    void *value;
    unsigned int length;
    HANDLE dll = GetModuleHandleA("TSKQDL32.dll");
    check(dll != 0, 40, "the DLL is loaded");
    check(GetModuleFileNameA(dll, path, sizeof path) > 0, 41, "the DLL's path");
    size = GetFileVersionInfoSizeA(path, &handle);
    check(size > 0 && size <= sizeof version_block, 42, "the DLL has a version resource");
    check(GetFileVersionInfoA(path, 0, sizeof version_block, version_block), 43,
          "GetFileVersionInfoA");
    check(VerQueryValueA(version_block, "\\", &value, &length) && length >= 24, 44,
          "the fixed file information");
    {
        const FixedFileInfoHead *fixed = (const FixedFileInfoHead *)value;
        unsigned long ms = ((unsigned long)QDL_EXPECT_MAJOR << 16) | QDL_EXPECT_MINOR;
        unsigned long ls = (unsigned long)QDL_EXPECT_PATCH << 16;
        check(fixed->signature == 0xFEEF04BDul, 45, "the fixed file information's signature");
        check(fixed->file_ms == ms && fixed->file_ls == ls, 46, "the file version");
        check(fixed->product_ms == ms && fixed->product_ls == ls, 47, "the product version");
    }
    check(VerQueryValueA(version_block, "\\StringFileInfo\\040904B0\\ProductVersion", &value,
                         &length) && same((const char *)value, QDL_EXPECT_VERSION), 48,
          "the ProductVersion text");
    check(VerQueryValueA(version_block, "\\StringFileInfo\\040904B0\\FileVersion", &value,
                         &length) && same((const char *)value, QDL_EXPECT_VERSION), 49,
          "the FileVersion text");
    check(VerQueryValueA(version_block, "\\StringFileInfo\\040904B0\\ProductName", &value,
                         &length) && same((const char *)value, "TSKQDL32"), 50,
          "the ProductName");
    check(VerQueryValueA(version_block, "\\StringFileInfo\\040904B0\\OriginalFilename", &value,
                         &length) && same((const char *)value, "TSKQDL32.dll"), 51,
          "the OriginalFilename");
}

/* QDL_Get_List of the sections holding TYPE: the count, and whether `name` is among them. */
static int listed(const char *name, int *found) {
    ListFilter filter;
    char names[66 * 8];
    unsigned short count = 8;
    int total, i = 0;
    memset(&filter, 0, sizeof filter);
    copy(filter.key, "TYPE");
    total = QDL_Get_List(&filter, 0, names, &count);
    *found = 0;
    for (unsigned short n = 0; n < count; ++n) {
        if (same(names + i, name)) *found = 1;
        while (names[i]) ++i;
        ++i;
    }
    return total;
}

#ifndef QDL_TEST_LEGACY
static void run(void) {
    char version[QDL_VERSION_SIZE];
    PortRecordEx port, port_back;
    PortRecord plain_back;
    ModemRecord modem;
    ModemRecordEx modem_back;
    int found;

    check(QDL_Get_Version(version) == QDL_OK && same(version, "QDL Version 3.00 (44a1)"), 1,
          "QDL_Get_Version");
    check(QDL_Get_Version(0) == QDL_ERR_NULL_ARG, 2, "QDL_Get_Version(NULL)");

    memset(&modem, 0, sizeof modem);
    copy(modem.name, "DialMsvc");
    copy(modem.modem_dial, "ATDT");
    copy(modem.modem_phoneno, "5550142");
    modem.modem_usedcanda = 1;
    modem.modem_deviceid = 0xFFFF;
    check(QDL_Add_Record(4, &modem) == QDL_OK, 3, "QDL_Add_Record of a modem");

    memset(&port, 0xFF, sizeof port);
    memset(port.base.name, 0, sizeof port.base.name);
    copy(port.base.name, "MsvcLine");
    port.base.port_type = PORT_KWT_SERIAL;
    memset(port.base.port, 0, sizeof port.base.port);
    copy(port.base.port, "COM2");
    memset(port.base.modem_dial, 0, sizeof port.base.modem_dial);
    memset(port.base.bxln_pn, 0, sizeof port.base.bxln_pn);
    port.base.baudrate = 19200;
    port.base.parity = QDL_PARITY_EVEN;
    port.base.connect_timeout = 3000;
    memset(port.modem_recordname, 0, sizeof port.modem_recordname);
    copy(port.modem_recordname, "DialMsvc");
    check(QDL_Add_Record_Ex(1, &port) == QDL_OK, 4, "QDL_Add_Record_Ex of a port");
    check(QDL_Add_Record_Ex(1, &port) == QDL_ERR_EXISTS, 5, "QDL_Add_Record_Ex of it again");

    check(QDL_Get_Record(1, "MsvcLine", &plain_back) == QDL_OK, 6, "QDL_Get_Record");
    check(plain_back.baudrate == 19200 && plain_back.parity == QDL_PARITY_EVEN &&
          plain_back.connect_timeout == 3000 && same(plain_back.port, "COM2") &&
          plain_back.port_type == PORT_KWT_SERIAL, 7, "the port's fields read back");

    check(QDL_Get_Record_Ex(1, "MsvcLine", &port_back) == QDL_OK, 8, "QDL_Get_Record_Ex");
    check(same(port_back.modem_recordname, "DialMsvc") && port_back.base.baudrate == 19200, 9,
          "the port's modem record name read back");

    check(QDL_Get_Modem_Record_Ex(4, "DialMsvc", &modem_back) == QDL_OK, 10,
          "QDL_Get_Modem_Record_Ex");
    check(same(modem_back.base.modem_dial, "ATDT") &&
          same(modem_back.base.modem_phoneno, "5550142") && modem_back.modem_break == 1, 11,
          "the modem's fields read back (no MODEM_BREAK reads as 1)");

    check(listed("MsvcLine", &found) == 1 && found, 12, "QDL_Get_List finds the one port");

    check(QDL_Delete_Record(1, 0, "MsvcLine") == QDL_OK, 13, "QDL_Delete_Record");
    check(QDL_Get_Record(1, "MsvcLine", &plain_back) == QDL_ERR_NOT_FOUND, 14,
          "the deleted port is gone");
    check(QDL_Delete_Record(4, 0, "DialMsvc") == QDL_OK, 15, "QDL_Delete_Record of the modem");
    check(listed("MsvcLine", &found) == 0 && !found, 16, "QDL_Get_List after the delete");
}
#else
static void run(void) {
    char version[QDL_VERSION_SIZE];
    LegacyPortRecord port, back;
    int found;

    check(QDL_Get_Version(version) == QDL_OK && same(version, "QDL Version 1.01 (03a1)"), 1,
          "QDL_Get_Version");

    memset(&port, 0xFF, sizeof port);
    memset(port.name, 0, sizeof port.name);
    copy(port.name, "LegacyLine");
    port.port_type = PORT_KWT_SERIAL;
    memset(port.port, 0, sizeof port.port);
    copy(port.port, "COM3");
    memset(port.modem_dial, 0, sizeof port.modem_dial);
    memset(port.bxln_pn, 0, sizeof port.bxln_pn);
    port.baudrate = 4800;
    port.stopbits = 2;
    check(QDL_Add_Record(1, &port) == QDL_OK, 2, "QDL_Add_Record of a legacy port");
    check(QDL_Add_Record(4, &port) == QDL_ERR_BAD_TYPE, 3, "no modem kind in the legacy library");

    check(QDL_Get_Record(1, "LegacyLine", &back) == QDL_OK, 4, "QDL_Get_Record");
    check(back.baudrate == 4800 && back.stopbits == 2 && same(back.port, "COM3"), 5,
          "the legacy port's fields read back (its own layout)");

    check(listed("LegacyLine", &found) == 1 && found, 6, "QDL_Get_List finds the port");
    check(QDL_Delete_Record(1, 0, "LegacyLine") == QDL_OK, 7, "QDL_Delete_Record");
    check(QDL_Get_Record(1, "LegacyLine", &back) == QDL_ERR_NOT_FOUND, 8,
          "the deleted port is gone");
}
#endif

void start(void) {
    run();
    check_version_resource();
    say("msvc_abi: all checks hold\n");
    ExitProcess(0);
}
