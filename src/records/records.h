// records.h - the record kinds behind the exported functions. The entry points (src/exports/)
// has already run the argument checks and resolved the path copy of the call; each function
// gets the path it writes or reads through and returns a status code.
#pragma once

#include "tskqdl32.h"

namespace qdl {

// Ports (port.cpp). `record` is a PortRecord, or a LegacyPortRecord in the legacy library.
int port_add(void* record, const char* path);
int port_get(const char* name, void* record, const char* path);
int port_delete(const char* name, const char* path);
int port_add_extension(PortRecordEx* record, const char* path);   // after a successful add
int port_get_extension(PortRecordEx* record, const char* path);   // after a successful get

// Devices (device.cpp).
int device_add(DeviceRecord* record, const char* path);
int device_get(const char* name, DeviceRecord* record, const char* path);
int device_delete(int address_kind, const char* name, const char* path);
int device_add_extension(DeviceRecordEx* record, const char* path);
int device_get_extension(DeviceRecordEx* record, const char* path);

// Global parameters (global.cpp). The name is not used.
int global_add(GlobalParameters* record, const char* path);
int global_get(GlobalParameters* record, const char* path);
int global_delete(const char* path);

// Modems (modem.cpp; current library only).
int modem_add(ModemRecord* record, const char* path);
int modem_get(const char* name, ModemRecord* record, const char* path);
int modem_delete(const char* name, const char* path);
int modem_add_extension(ModemRecordEx* record, const char* path);  // MODEM_BREAK
int modem_get_break(const char* name, ModemRecordEx* record, const char* path);

}  // namespace qdl
