/* dll_load.c - loads the two TSKQDL32.dll files of a Windows build as a caller would, and uses
 * them through their exports (runs under wine64).
 *
 *   dll_load <current TSKQDL32.dll> <legacy TSKQDL32.dll>
 *
 * For each DLL: every name of its export list resolves, to the same address as its ordinal
 * (1 to N, alphabetical); the ordinal after the last and the names of the other edition do not
 * resolve; QDL_Get_Version, reached by its ordinal, gives the edition's text. Then one record
 * goes through both: a port added by the current DLL is read back by it, listed and read by the
 * legacy DLL (both use tsk_cfg.ini in the Windows directory), and deleted again. Prints each
 * failed check and exits non-zero when there was one.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "tskqdl32.h"

typedef int(QDL_CALL* AddFn)(int, void*);
typedef int(QDL_CALL* DeleteFn)(int, int, const char*);
typedef int(QDL_CALL* GetFn)(int, const char*, void*);
typedef int(QDL_CALL* ListFn)(const ListFilter*, const ListFilter*, char*, unsigned short*);
typedef int(QDL_CALL* VersionFn)(char*);

static const char* const kCurrentNames[] = {
    "QDL_Add_Record",   "QDL_Add_Record_Ex", "QDL_Delete_Record", "QDL_Get_List",
    "QDL_Get_Modem_Record_Ex", "QDL_Get_Record", "QDL_Get_Record_Ex", "QDL_Get_Version",
};
static const char* const kLegacyNames[] = {
    "QDL_Add_Record", "QDL_Delete_Record", "QDL_Get_List", "QDL_Get_Record", "QDL_Get_Version",
};

static int g_failures = 0;

static void fail(const char* what, const char* detail) {
    printf("FAILED: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    ++g_failures;
}

static int listed(const char* names, unsigned short count, const char* name) {
    unsigned short i;
    for (i = 0; i < count; ++i) {
        if (strcmp(names, name) == 0) return 1;
        names += strlen(names) + 1;
    }
    return 0;
}

/* Names and ordinals of one DLL; returns the module, or NULL when it does not load. */
static HMODULE check_exports(const char* path, const char* const* names, int count,
                             const char* version) {
    char text[64];
    int i;
    VersionFn get_version;
    HMODULE dll = LoadLibraryA(path);
    if (dll == NULL) {
        fail("cannot load", path);
        return NULL;
    }
    for (i = 0; i < count; ++i) {
        FARPROC by_name = GetProcAddress(dll, names[i]);
        FARPROC by_ordinal = GetProcAddress(dll, MAKEINTRESOURCEA(i + 1));
        if (by_name == NULL) fail("name does not resolve", names[i]);
        if (by_ordinal == NULL || by_ordinal != by_name) {
            fail("ordinal is not the name's", names[i]);
        }
    }
    if (GetProcAddress(dll, MAKEINTRESOURCEA(count + 1)) != NULL) {
        fail("an ordinal after the last resolves", path);
    }
    if (count == 5) {
        for (i = 0; i < 8; ++i) {
            if (strstr(kCurrentNames[i], "_Ex") && GetProcAddress(dll, kCurrentNames[i]) != NULL) {
                fail("the legacy DLL exports", kCurrentNames[i]);
            }
        }
    }
    get_version = (VersionFn)(void (*)(void))GetProcAddress(dll, MAKEINTRESOURCEA(count));
    if (get_version == NULL) return dll;
    memset(text, 'x', sizeof text);
    if (get_version(text) != QDL_OK || strcmp(text, version) != 0 || text[24] != 'x') {
        fail("wrong version text", path);
    }
    if (get_version(NULL) != QDL_ERR_NULL_ARG) fail("null version buffer accepted", path);
    return dll;
}

static FARPROC must(HMODULE dll, const char* name) {
    FARPROC f = GetProcAddress(dll, name);
    if (f == NULL) fail("missing", name);
    return f;
}

/* The registry value would send the current DLL elsewhere than the legacy one. */
static void clear_registry_value(void) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brenvik\\Fieldloom\\Configuration", 0,
                      KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "kbRTTskCfgIni");
        RegCloseKey(key);
    }
}

static void one_record_through_both(HMODULE current, HMODULE legacy) {
    AddFn add = (AddFn)(void (*)(void))must(current, "QDL_Add_Record");
    GetFn get = (GetFn)(void (*)(void))must(current, "QDL_Get_Record");
    DeleteFn del = (DeleteFn)(void (*)(void))must(current, "QDL_Delete_Record");
    ListFn list = (ListFn)(void (*)(void))must(legacy, "QDL_Get_List");
    GetFn legacy_get = (GetFn)(void (*)(void))must(legacy, "QDL_Get_Record");
    PortRecord port;
    PortRecord back;
    LegacyPortRecord old;
    ListFilter filter;
    char names[66 * 16];
    unsigned short count = 16;
    int found;
    if (!add || !get || !del || !list || !legacy_get) return;

    del(RECORD_PORT, 0, "DllLoadPort");
    memset(&port, 0xFF, sizeof port);
    strcpy(port.name, "DllLoadPort");
    port.port_type = PORT_TCPIP_ETH;
    port.connect_timeout = 1200;
    port.request_timeout = 3400;
    if (add(RECORD_PORT, &port) != QDL_OK) fail("add through the current DLL", NULL);
    memset(&back, 0, sizeof back);
    if (get(RECORD_PORT, "DllLoadPort", &back) != QDL_OK || back.port_type != PORT_TCPIP_ETH ||
        back.connect_timeout != 1200 || back.request_timeout != 3400) {
        fail("read back through the current DLL", NULL);
    }

    memset(&filter, 0, sizeof filter);
    strcpy(filter.key, "TYPE");
    strcpy(filter.value, "TCPIP_ETH");
    found = list(&filter, NULL, names, &count);
    if (found < 1 || !listed(names, count, "DllLoadPort")) fail("listed by the legacy DLL", NULL);
    memset(&old, 0, sizeof old);
    if (legacy_get(RECORD_PORT, "DllLoadPort", &old) != QDL_OK || old.connect_timeout != 1200) {
        fail("read by the legacy DLL", NULL);
    }

    if (del(RECORD_PORT, 0, "DllLoadPort") != QDL_OK) fail("delete through the current DLL", NULL);
    if (get(RECORD_PORT, "DllLoadPort", &back) != QDL_ERR_NOT_FOUND) fail("still there", NULL);
}

int main(int argc, char** argv) {
    HMODULE current;
    HMODULE legacy;
    if (argc != 3) {
        printf("usage: dll_load <current TSKQDL32.dll> <legacy TSKQDL32.dll>\n");
        return 2;
    }
    clear_registry_value();
    current = check_exports(argv[1], kCurrentNames, 8, "QDL Version 3.00 (44a1)");
    legacy = check_exports(argv[2], kLegacyNames, 5, "QDL Version 1.01 (03a1)");
    if (current != NULL && legacy != NULL) one_record_through_both(current, legacy);
    if (current != NULL) FreeLibrary(current);
    if (legacy != NULL) FreeLibrary(legacy);
    printf("%s\n", g_failures == 0 ? "OK" : "FAILED");
    return g_failures == 0 ? 0 : 1;
}
