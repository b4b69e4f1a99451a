/* header_c.c - the public header compiled as C99 (with -Wpedantic): the layout as a C
 * compiler sees it, for header_test.cpp to compare. */
#include <stddef.h>

#include "tskqdl32.h"

size_t qdl_c_layout(int which) {
    switch (which) {
    case 0: return sizeof(PortRecord);
    case 1: return sizeof(PortRecordEx);
    case 2: return sizeof(DeviceRecord);
    case 3: return sizeof(DeviceRecordEx);
    case 4: return sizeof(GlobalParameters);
    case 5: return sizeof(ModemRecord);
    case 6: return sizeof(ModemRecordEx);
    case 7: return sizeof(LegacyPortRecord);
    case 8: return offsetof(PortRecord, kwt_t3pp);
    case 9: return offsetof(DeviceRecordEx, assoc_device);
    case 10: return offsetof(ModemRecordEx, modem_break);
    case 11: return offsetof(LegacyPortRecord, bxln_addr);
    default: return 0;
    }
}

/* The prototypes are callable from C as declared. */
int qdl_c_version(char *buffer) { return QDL_Get_Version(buffer); }
