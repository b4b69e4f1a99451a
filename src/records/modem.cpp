// modem.cpp - placeholder until this record kind lands.
#include "records/records.h"
namespace qdl {
int modem_add(ModemRecord*, const char*) { return QDL_ERR_BAD_TYPE; }
int modem_get(const char*, ModemRecord*, const char*) { return QDL_ERR_BAD_TYPE; }
int modem_delete(const char*, const char*) { return QDL_ERR_BAD_TYPE; }
int modem_add_extension(ModemRecordEx*, const char*) { return QDL_ERR_BAD_TYPE; }
int modem_get_break(const char*, ModemRecordEx*, const char*) { return QDL_ERR_BAD_TYPE; }
}  // namespace qdl
