// dispatch.h - the inner, unguarded forms of the exported functions. An exported function that
// calls another calls these, so the call guard is taken once and every other effect of the
// inner call (the path copy it resolves, its checks) stays.
#pragma once

namespace qdl {

int add_record(int kind, void* record);
int get_record(int kind, const char* name, void* record);

// The kind as the exported functions see it: the low 16 bits of the argument.
inline int kind_code(int kind) { return kind & 0xFFFF; }

}  // namespace qdl
