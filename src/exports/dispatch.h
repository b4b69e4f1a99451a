// dispatch.h - the inner, unguarded forms of the exported functions. An exported function that
// calls another calls these, so the call guard is taken once and every other effect of the
// inner call (the path copy it resolves, its checks) stays. The tool's batch (batch.h) runs
// them too, each inside the one guard of the batch.
#pragma once

#include "tskqdl32.h"

namespace qdl {

int add_record(int kind, void* record);
int get_record(int kind, const char* name, void* record);
int delete_record(int kind, int address_kind, const char* name);

// The extended functions (exports_ex.cpp; current library only).
int add_record_ex(int kind, void* record);
int get_record_ex(int kind, const char* name, void* record);
int get_modem_record_ex(int kind, const char* name, ModemRecordEx* record);

// The kind as the exported functions see it: the low 16 bits of the argument.
inline int kind_code(int kind) { return kind & 0xFFFF; }

}  // namespace qdl
