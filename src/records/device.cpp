// device.cpp - placeholder until this record kind lands.
#include "records/records.h"
namespace qdl {
int device_add(DeviceRecord*, const char*) { return QDL_ERR_BAD_TYPE; }
int device_get(const char*, DeviceRecord*, const char*) { return QDL_ERR_BAD_TYPE; }
int device_delete(int, const char*, const char*) { return QDL_ERR_BAD_TYPE; }
int device_add_extension(DeviceRecordEx*, const char*) { return QDL_ERR_BAD_TYPE; }
int device_get_extension(DeviceRecordEx*, const char*) { return QDL_ERR_BAD_TYPE; }
}  // namespace qdl
