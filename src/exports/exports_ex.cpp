// exports_ex.cpp - the extended functions of the current library. Each layers over the plain
// add or get (dispatch.h) and then writes or reads the extension keys of its kind.
//
//   QDL_Add_Record_Ex        resolve add-extended path; record null; kind 1, 2 or 4 (else
//                            QDL_ERR_BAD_VALUE); the plain add; the extension keys
//   QDL_Get_Record_Ex        resolve shared path; record null; kind 1 or 2 (else
//                            QDL_ERR_BAD_VALUE); the plain get; the extension keys
//   QDL_Get_Modem_Record_Ex  record null; name null; the modem probe; modem_break preset to 1;
//                            the plain get with the caller's kind; MODEM_BREAK
#include "exports/dispatch.h"
#include "exports/guard.h"
#include "frame/frame.h"
#include "records/records.h"
#include "tskqdl32.h"

namespace qdl {

int add_record_ex(int kind, void* record) {
    const char* path = config_path(PathBuffer::AddEx);
    if (record == nullptr) return QDL_ERR_NULL_ARG;
    const int code = kind_code(kind);
    if (code != RECORD_PORT && code != RECORD_DEVICE && code != RECORD_MODEM) {
        return QDL_ERR_BAD_VALUE;
    }
    if (const int status = add_record(kind, record); status != QDL_OK) return status;
    switch (code) {
    case RECORD_PORT: return port_add_extension(static_cast<PortRecordEx*>(record), path);
    case RECORD_DEVICE: return device_add_extension(static_cast<DeviceRecordEx*>(record), path);
    default: return modem_add_extension(static_cast<ModemRecordEx*>(record), path);
    }
}

int get_record_ex(int kind, const char* name, void* record) {
    const char* path = config_path(PathBuffer::Shared);
    if (record == nullptr) return QDL_ERR_NULL_ARG;
    const int code = kind_code(kind);
    if (code != RECORD_PORT && code != RECORD_DEVICE) return QDL_ERR_BAD_VALUE;
    if (const int status = get_record(kind, name, record); status != QDL_OK) return status;
    if (code == RECORD_PORT) {
        return port_get_extension(static_cast<PortRecordEx*>(record), path);
    }
    return device_get_extension(static_cast<DeviceRecordEx*>(record), path);
}

int get_modem_record_ex(int kind, const char* name, ModemRecordEx* record) {
    if (record == nullptr || name == nullptr) return QDL_ERR_NULL_ARG;
    if (!record_exists(name, RECORD_MODEM, 0)) return QDL_ERR_NOT_FOUND;
    record->modem_break = 1;
    if (const int status = get_record(kind, name, record); status != QDL_OK) return status;
    return modem_get_break(name, record, config_path(PathBuffer::Shared));
}

}  // namespace qdl

using qdl::platform::Access;

extern "C" {

QDL_API int QDL_CALL QDL_Add_Record_Ex(int kind, void* record) {
    return qdl::guarded(Access::Write, [&] { return qdl::add_record_ex(kind, record); });
}

QDL_API int QDL_CALL QDL_Get_Record_Ex(int kind, const char* name, void* record) {
    return qdl::guarded(Access::Read, [&] { return qdl::get_record_ex(kind, name, record); });
}

QDL_API int QDL_CALL QDL_Get_Modem_Record_Ex(int kind, const char* name, ModemRecordEx* record) {
    return qdl::guarded(Access::Read,
                        [&] { return qdl::get_modem_record_ex(kind, name, record); });
}

}  // extern "C"
