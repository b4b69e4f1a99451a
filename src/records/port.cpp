// port.cpp - placeholder until this record kind lands.
#include "records/records.h"
namespace qdl {
int port_add(void*, const char*) { return QDL_ERR_BAD_TYPE; }
int port_get(const char*, void*, const char*) { return QDL_ERR_BAD_TYPE; }
int port_delete(const char*, const char*) { return QDL_ERR_BAD_TYPE; }
int port_add_extension(PortRecordEx*, const char*) { return QDL_ERR_BAD_TYPE; }
int port_get_extension(PortRecordEx*, const char*) { return QDL_ERR_BAD_TYPE; }
}  // namespace qdl
