// global.cpp - placeholder until this record kind lands.
#include "records/records.h"
namespace qdl {
int global_add(GlobalParameters*, const char*) { return QDL_ERR_BAD_TYPE; }
int global_get(GlobalParameters*, const char*) { return QDL_ERR_BAD_TYPE; }
int global_delete(const char*) { return QDL_ERR_BAD_TYPE; }
}  // namespace qdl
