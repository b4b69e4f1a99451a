// exports.cpp - the exported functions that both libraries have: argument checks in their fixed
// order, the path copy each one resolves, and the dispatch on the record kind.
//
//   QDL_Add_Record     resolve add path; record null; kind; the kind's writer
//   QDL_Delete_Record  resolve shared path; name null; kind; the kind's delete
//   QDL_Get_Record     name null; record null; resolve shared path; kind; the kind's reader
//   QDL_Get_List       filters, count and buffer checks; the scan (listing/query.cpp)
//   QDL_Get_Version    buffer null; the version text
//
// The extended functions of the current library are in exports_ex.cpp.
#include <cstring>

#include "exports/dispatch.h"
#include "exports/guard.h"
#include "frame/frame.h"
#include "listing/query.h"
#include "records/records.h"
#include "tskqdl32.h"

namespace qdl {

namespace {

bool kind_known(int kind) { return kind >= RECORD_PORT && kind <= kEdition.last_kind; }

}  // namespace

int add_record(int kind, void* record) {
    const char* path = config_path(PathBuffer::Add);
    if (record == nullptr) return QDL_ERR_NULL_ARG;
    kind = kind_code(kind);
    if (!kind_known(kind)) return QDL_ERR_BAD_TYPE;
    switch (kind) {
    case RECORD_PORT: return port_add(record, path);
    case RECORD_DEVICE: return device_add(static_cast<DeviceRecord*>(record), path);
    case RECORD_GLOBAL: return global_add(static_cast<GlobalParameters*>(record), path);
    default:
        if constexpr (kModemsBuilt) {
            return modem_add(static_cast<ModemRecord*>(record), path);
        }
        return QDL_ERR_BAD_TYPE;
    }
}

int get_record(int kind, const char* name, void* record) {
    if (name == nullptr || record == nullptr) return QDL_ERR_NULL_ARG;
    const char* path = config_path(PathBuffer::Shared);
    kind = kind_code(kind);
    if (!kind_known(kind)) return QDL_ERR_BAD_TYPE;
    switch (kind) {
    case RECORD_PORT: return port_get(name, record, path);
    case RECORD_DEVICE: return device_get(name, static_cast<DeviceRecord*>(record), path);
    case RECORD_GLOBAL: return global_get(static_cast<GlobalParameters*>(record), path);
    default:
        if constexpr (kModemsBuilt) {
            return modem_get(name, static_cast<ModemRecord*>(record), path);
        }
        return QDL_ERR_BAD_TYPE;
    }
}

int delete_record(int kind, int address_kind, const char* name) {
    const char* path = config_path(PathBuffer::Shared);
    if (name == nullptr) return QDL_ERR_NULL_ARG;
    kind = kind_code(kind);
    if (!kind_known(kind)) return QDL_ERR_BAD_TYPE;
    switch (kind) {
    case RECORD_PORT: return port_delete(name, path);
    case RECORD_DEVICE: return device_delete(kind_code(address_kind), name, path);
    case RECORD_GLOBAL: return global_delete(path);
    default:
        if constexpr (kModemsBuilt) {
            return modem_delete(name, path);
        }
        return QDL_ERR_BAD_TYPE;
    }
}

}  // namespace qdl

using qdl::platform::Access;

extern "C" {

QDL_API int QDL_CALL QDL_Add_Record(int kind, void* record) {
    return qdl::guarded(Access::Write, [&] { return qdl::add_record(kind, record); });
}

QDL_API int QDL_CALL QDL_Delete_Record(int kind, int address_kind, const char* name) {
    return qdl::guarded(Access::Write,
                        [&] { return qdl::delete_record(kind, address_kind, name); });
}

QDL_API int QDL_CALL QDL_Get_Record(int kind, const char* name, void* record) {
    return qdl::guarded(Access::Read, [&] { return qdl::get_record(kind, name, record); });
}

QDL_API int QDL_CALL QDL_Get_List(const ListFilter* first, const ListFilter* second,
                                  char* names, unsigned short* count) {
    return qdl::guarded(Access::Read,
                        [&] { return qdl::get_list(first, second, names, count); });
}

QDL_API int QDL_CALL QDL_Get_Version(char* buffer) {
    if (buffer == nullptr) return QDL_ERR_NULL_ARG;
    std::memcpy(buffer, qdl::kEdition.version, QDL_VERSION_SIZE);
    return QDL_OK;
}

}  // extern "C"
