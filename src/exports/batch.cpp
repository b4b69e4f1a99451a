// batch.cpp - the tool's batch (batch.h): the inner functions of the exported calls run inside
// one write guard, with the guard's handling of exceptions; the first failed change decides
// what commit() does.
#include "exports/batch.h"

#include <new>
#include <string>

#include "exports/dispatch.h"
#include "frame/frame.h"
#include "listing/query.h"

namespace qdl {

Batch::Batch(Mode mode) {
    scope_.emplace(mode == Mode::DryRun ? platform::Access::DryRun : platform::Access::Write);
}

Batch::~Batch() = default;  // an unfinished scope drops its changes

// As guarded() in guard.h, without the scope of its own: no exception leaves an operation.
template <class Body>
int Batch::run(bool changes, Body&& body) noexcept {
    if (!scope_) return QDL_ERR_FILE;
    int status;
    try {
        status = body();
    } catch (const std::bad_alloc&) {
        status = QDL_ERR_NO_MEMORY;
    } catch (...) {
        status = QDL_ERR_FILE;
    }
    if (changes && status != QDL_OK && status_ == QDL_OK) status_ = status;
    return status;
}

int Batch::add_record(int kind, void* record) {
    return run(true, [&] { return qdl::add_record(kind, record); });
}

int Batch::add_record_ex(int kind, void* record) {
    return run(true, [&] { return qdl::add_record_ex(kind, record); });
}

int Batch::delete_record(int kind, int address_kind, const char* name) {
    return run(true, [&] { return qdl::delete_record(kind, address_kind, name); });
}

int Batch::get_record(int kind, const char* name, void* record) {
    return run(false, [&] { return qdl::get_record(kind, name, record); });
}

int Batch::get_record_ex(int kind, const char* name, void* record) {
    return run(false, [&] { return qdl::get_record_ex(kind, name, record); });
}

int Batch::get_modem_record_ex(int kind, const char* name, ModemRecordEx* record) {
    return run(false, [&] { return qdl::get_modem_record_ex(kind, name, record); });
}

int Batch::get_list(const ListFilter* first, const ListFilter* second, char* names,
                    unsigned short* count) {
    return run(false, [&] {
        unsigned capacity = 0;
        if (const int s = check_list_arguments(first, second, names, count, capacity);
            s != QDL_OK) {
            return s;
        }
        std::string text;
        if (!platform::profile_text(config_path(PathBuffer::List), text)) return QDL_ERR_FILE;
        return list_text(text, *first, second, names, capacity, *count);
    });
}

int Batch::commit() {
    if (!scope_) return QDL_ERR_FILE;
    if (status_ != QDL_OK) {
        scope_.reset();
        return status_;
    }
    bool written = false;
    try {
        written = scope_->finish();
    } catch (...) {
        written = false;
    }
    scope_.reset();
    return written ? QDL_OK : QDL_ERR_FILE;
}

void Batch::abandon() { scope_.reset(); }

}  // namespace qdl
