/* cdecl_check.c - calls every export of the 32-bit DLLs the way a caller of another compiler
 * does, through a thunk that checks what the callee leaves behind (i686 build, under wine32).
 *
 *   cdecl_check current|legacy <TSKQDL32.dll> [current|legacy <TSKQDL32.dll>]
 *
 * The thunk pushes 32-bit argument slots right to left at a stack pointer that is only 4-byte
 * aligned (it walks through the four alignments mod 16), calls, and removes the slots itself.
 * The callee must leave ESP where the call found it (a callee that removes its own arguments
 * moves it by 4 per slot) and keep EBX, ESI, EDI and EBP. A 16-bit argument fills a whole slot
 * whose upper half carries noise the callee must ignore; a callee that takes it in two bytes
 * reads the next argument out of that noise and gives the wrong status.
 * With each DLL the exports make a round trip of every record kind the edition knows (add, read
 * back, list, delete) and meet null arguments; every export must have been called. Prints each
 * failed check and exits 1 when there was one.
 */
#include <windows.h>

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "tskqdl32.h"

/* What the thunk saw: ESP when the callee was entered (before the return address), EBP, how far
 * ESP moved over the call, and a bit per callee-saved register that came back changed. */
uint32_t qdl_probe_esp;
uint32_t qdl_probe_ebp;
int32_t qdl_probe_moved;
uint32_t qdl_probe_clobbered;

/* int qdl_probe_call(FARPROC fn, const uint32_t* slots, int count, uint32_t pad): pad bytes
 * below a 16-byte boundary set ESP's alignment at the call. */
int qdl_probe_call(FARPROC fn, const uint32_t* slots, int count, uint32_t pad);
__asm__(
    "    .text\n"
    "    .globl _qdl_probe_call\n"
    "_qdl_probe_call:\n"
    "    pushl %ebp\n"
    "    movl  %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    andl  $-16, %esp\n"
    "    subl  20(%ebp), %esp\n"
    "    movl  12(%ebp), %edx\n"
    "    movl  16(%ebp), %ecx\n"
    "1:  testl %ecx, %ecx\n"
    "    jz    2f\n"
    "    decl  %ecx\n"
    "    pushl (%edx,%ecx,4)\n"
    "    jmp   1b\n"
    "2:  movl  %esp, _qdl_probe_esp\n"
    "    movl  %ebp, _qdl_probe_ebp\n"
    "    movl  8(%ebp), %eax\n"
    "    movl  $0x0B0B0B0B, %ebx\n"
    "    movl  $0x05050505, %esi\n"
    "    movl  $0x0D0D0D0D, %edi\n"
    "    call  *%eax\n"
    "    movl  %esp, %ecx\n"
    "    subl  _qdl_probe_esp, %ecx\n"
    "    movl  %ecx, _qdl_probe_moved\n"
    "    xorl  %edx, %edx\n"
    "    cmpl  $0x0B0B0B0B, %ebx\n"
    "    je    3f\n"
    "    orl   $1, %edx\n"
    "3:  cmpl  $0x05050505, %esi\n"
    "    je    4f\n"
    "    orl   $2, %edx\n"
    "4:  cmpl  $0x0D0D0D0D, %edi\n"
    "    je    5f\n"
    "    orl   $4, %edx\n"
    "5:  cmpl  _qdl_probe_ebp, %ebp\n"
    "    je    6f\n"
    "    orl   $8, %edx\n"
    "6:  movl  %edx, _qdl_probe_clobbered\n"
    "    movl  _qdl_probe_ebp, %ebp\n"
    "    leal  -12(%ebp), %esp\n"
    "    popl  %edi\n"
    "    popl  %esi\n"
    "    popl  %ebx\n"
    "    popl  %ebp\n"
    "    ret\n");

#define K(kind) (0x5A5A0000u | (uint32_t)(kind)) /* a 16-bit argument with noise above it */
#define P(ptr) ((uint32_t)(uintptr_t)(ptr))

static HMODULE g_dll;
static const char* const* g_names;
static int g_name_count;
static int g_called[8];
static int g_missing[8];
static unsigned g_calls;
static int g_failures;

static const char* const kCurrentNames[] = {
    "QDL_Add_Record",   "QDL_Add_Record_Ex", "QDL_Delete_Record", "QDL_Get_List",
    "QDL_Get_Modem_Record_Ex", "QDL_Get_Record", "QDL_Get_Record_Ex", "QDL_Get_Version",
};
static const char* const kLegacyNames[] = {
    "QDL_Add_Record", "QDL_Delete_Record", "QDL_Get_List", "QDL_Get_Record", "QDL_Get_Version",
};

static void fail(const char* what, const char* detail) {
    printf("FAILED: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    ++g_failures;
}

static int export_index(const char* name) {
    int i;
    for (i = 0; i < g_name_count; ++i) {
        if (strcmp(g_names[i], name) == 0) return i;
    }
    return -1;
}

/* Calls the export `name` with `count` slots and checks the stack, the registers and the
 * status. */
static int call(const char* name, int expect, int count, ...) {
    static const char* const kRegisters[] = {"EBX", "ESI", "EDI", "EBP"};
    const int index = export_index(name);
    const uint32_t at_call = (4u * g_calls++) & 15u; /* ESP mod 16 at the call */
    FARPROC fn = GetProcAddress(g_dll, name);
    uint32_t slots[4];
    va_list args;
    int result;
    int i;
    if (index >= 0) g_called[index] = 1;
    if (fn == NULL) {
        if (index >= 0 && !g_missing[index]++) fail("missing export", name);
        return expect;
    }
    va_start(args, count);
    for (i = 0; i < count; ++i) slots[i] = va_arg(args, uint32_t);
    va_end(args);
    result = qdl_probe_call(fn, slots, count, (0u - (at_call + 4u * (uint32_t)count)) & 15u);
    if (qdl_probe_moved != 0) {
        printf("FAILED: %s moved ESP by %ld bytes over the call\n", name, (long)qdl_probe_moved);
        ++g_failures;
    }
    for (i = 0; i < 4; ++i) {
        if (qdl_probe_clobbered & (1u << i)) {
            printf("FAILED: %s changed %s\n", name, kRegisters[i]);
            ++g_failures;
        }
    }
    if (result != expect) {
        printf("FAILED: %s returned %d, expected %d\n", name, result, expect);
        ++g_failures;
    }
    return result;
}

static void check(int ok, const char* what) {
    if (!ok) fail(what, NULL);
}

/* Both editions start from no registry value and no file in the Windows directory. */
static void fresh_machine(void) {
    char path[MAX_PATH + 16];
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brenvik\\Fieldloom\\Configuration", 0,
                      KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "kbRTTskCfgIni");
        RegCloseKey(key);
    }
    GetWindowsDirectoryA(path, MAX_PATH);
    strcat(path, "\\tsk_cfg.ini");
    DeleteFileA(path);
}

/* The head that PortRecord and LegacyPortRecord share. */
static void port_round_trip(void* record, void* back, size_t size) {
    PortRecord* port = (PortRecord*)record;
    const PortRecord* got = (const PortRecord*)back;
    memset(record, 0xFF, size);
    strcpy(port->name, "CdeclPort");
    port->port_type = PORT_TCPIP_ETH;
    port->connect_timeout = 1200;
    port->request_timeout = 3400;
    call("QDL_Add_Record", QDL_ERR_NULL_ARG, 2, K(RECORD_PORT), 0u);
    call("QDL_Add_Record", QDL_OK, 2, K(RECORD_PORT), P(record));
    call("QDL_Add_Record", QDL_ERR_EXISTS, 2, K(RECORD_PORT), P(record));
    memset(back, 0, size);
    call("QDL_Get_Record", QDL_OK, 3, K(RECORD_PORT), P("CdeclPort"), P(back));
    check(got->port_type == PORT_TCPIP_ETH && got->connect_timeout == 1200 &&
              got->request_timeout == 3400 && strcmp(got->name, "CdeclPort") == 0,
          "port read back");
    call("QDL_Get_Record", QDL_ERR_NULL_ARG, 3, K(RECORD_PORT), 0u, P(back));
}

static void global_round_trip(void) {
    GlobalParameters global;
    GlobalParameters back;
    memset(&global, 0, sizeof global);
    global.connect_timeout = 1500;
    global.request_timeout = 2500;
    strcpy(global.password, "secret");
    call("QDL_Add_Record", QDL_OK, 2, K(RECORD_GLOBAL), P(&global));
    memset(&back, 0xCC, sizeof back);
    call("QDL_Get_Record", QDL_OK, 3, K(RECORD_GLOBAL), P(""), P(&back));
    check(back.connect_timeout == 1500 && back.request_timeout == 2500 &&
              strcmp(back.password, "secret") == 0,
          "global parameters read back");
    call("QDL_Delete_Record", QDL_OK, 3, K(RECORD_GLOBAL), K(0), P(""));
}

/* Lists the ports; the 16-bit count is written in its two bytes only. */
static void list_ports(void) {
    ListFilter filter;
    struct {
        char names[66 * 4];
        unsigned short count;
        unsigned short guard;
    } out;
    memset(&filter, 0, sizeof filter);
    strcpy(filter.key, "TYPE");
    strcpy(filter.value, "TCPIP_ETH");
    memset(&out, 0x55, sizeof out);
    out.count = 4;
    out.guard = 0xBEEF;
    call("QDL_Get_List", 1, 4, P(&filter), 0u, P(out.names), P(&out.count));
    check(out.count == 1 && strcmp(out.names, "CdeclPort") == 0 && out.guard == 0xBEEF,
          "listed ports");
    call("QDL_Get_List", QDL_ERR_NULL_ARG, 4, 0u, 0u, P(out.names), P(&out.count));
}

static void check_version(const char* expected) {
    char text[64];
    memset(text, 'x', sizeof text);
    call("QDL_Get_Version", QDL_OK, 1, P(text));
    check(strcmp(text, expected) == 0 && text[QDL_VERSION_SIZE] == 'x', "version text");
    call("QDL_Get_Version", QDL_ERR_NULL_ARG, 1, 0u);
}

static void delete_port(void* back) {
    call("QDL_Delete_Record", QDL_ERR_NULL_ARG, 3, K(RECORD_PORT), K(0), 0u);
    call("QDL_Delete_Record", QDL_OK, 3, K(RECORD_PORT), K(0), P("CdeclPort"));
    call("QDL_Get_Record", QDL_ERR_NOT_FOUND, 3, K(RECORD_PORT), P("CdeclPort"), P(back));
}

static void check_current(void) {
    PortRecord port;
    PortRecord port_back;
    DeviceRecordEx device;
    DeviceRecordEx device_back;
    ModemRecordEx modem;
    ModemRecordEx modem_back;

    check_version("QDL Version 3.00 (44a1)");
    port_round_trip(&port, &port_back, sizeof port);

    memset(&device, 0, sizeof device);
    strcpy(device.base.name, "CdeclDevice");
    device.base.address_kind = ADDRESS_TCPIP_ETH;
    device.base.bxln_busadr = 0xFFFF;
    memset(device.base.dest_addr, 0xFF, sizeof device.base.dest_addr);
    strcpy(device.base.ip_addr, "10.1.2.3");
    strcpy(device.assoc_device, "CdeclPeer");
    call("QDL_Add_Record_Ex", QDL_ERR_NULL_ARG, 2, K(RECORD_DEVICE), 0u);
    call("QDL_Add_Record_Ex", QDL_OK, 2, K(RECORD_DEVICE), P(&device));
    memset(&device_back, 0, sizeof device_back);
    call("QDL_Get_Record_Ex", QDL_OK, 3, K(RECORD_DEVICE), P("CdeclDevice"), P(&device_back));
    check(strcmp(device_back.base.ip_addr, "10.1.2.3") == 0 &&
              strcmp(device_back.assoc_device, "CdeclPeer") == 0,
          "device read back");
    call("QDL_Get_Record_Ex", QDL_ERR_NULL_ARG, 3, K(RECORD_DEVICE), P("CdeclDevice"), 0u);

    memset(&modem, 0, sizeof modem);
    strcpy(modem.base.name, "CdeclModem");
    strcpy(modem.base.modem_dial, "ATDT0123");
    modem.base.modem_deviceid = 0xFFFF;
    modem.modem_break = 0;
    call("QDL_Add_Record_Ex", QDL_OK, 2, K(RECORD_MODEM), P(&modem));
    memset(&modem_back, 0x33, sizeof modem_back);
    call("QDL_Get_Modem_Record_Ex", QDL_OK, 3, K(RECORD_MODEM), P("CdeclModem"),
         P(&modem_back));
    check(modem_back.modem_break == 0 && strcmp(modem_back.base.modem_dial, "ATDT0123") == 0,
          "modem read back");
    call("QDL_Get_Modem_Record_Ex", QDL_ERR_NULL_ARG, 3, K(RECORD_MODEM), 0u, P(&modem_back));

    global_round_trip();
    list_ports();
    call("QDL_Delete_Record", QDL_OK, 3, K(RECORD_DEVICE), K(ADDRESS_ALL), P("CdeclDevice"));
    call("QDL_Delete_Record", QDL_OK, 3, K(RECORD_MODEM), K(0), P("CdeclModem"));
    delete_port(&port_back);
}

static void check_legacy(void) {
    LegacyPortRecord port;
    LegacyPortRecord port_back;
    check_version("QDL Version 1.01 (03a1)");
    port_round_trip(&port, &port_back, sizeof port);
    call("QDL_Add_Record", QDL_ERR_BAD_TYPE, 2, K(RECORD_MODEM), P(&port));
    global_round_trip();
    list_ports();
    delete_port(&port_back);
}

int main(int argc, char** argv) {
    int i;
    int j;
    if (argc < 3 || argc % 2 == 0) {
        printf("usage: cdecl_check current|legacy <TSKQDL32.dll> [current|legacy <dll>]\n");
        return 2;
    }
    for (i = 1; i + 1 < argc; i += 2) {
        const int current = strcmp(argv[i], "current") == 0;
        g_names = current ? kCurrentNames : kLegacyNames;
        g_name_count = current ? 8 : 5;
        memset(g_called, 0, sizeof g_called);
        memset(g_missing, 0, sizeof g_missing);
        g_dll = LoadLibraryA(argv[i + 1]);
        if (g_dll == NULL) {
            fail("cannot load", argv[i + 1]);
            continue;
        }
        fresh_machine();
        if (current) {
            check_current();
        } else {
            check_legacy();
        }
        fresh_machine();
        for (j = 0; j < g_name_count; ++j) {
            if (!g_called[j]) fail("not called", g_names[j]);
        }
        FreeLibrary(g_dll);
    }
    printf("%s\n", g_failures == 0 ? "OK" : "FAILED");
    return g_failures == 0 ? 0 : 1;
}
