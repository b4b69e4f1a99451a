// batch.h - many record operations as one call: one lock, one replacement of the file, all or
// nothing. An internal interface of the current library on Linux, for qdlcfg; it is not
// exported, and the export lists never grow.
//
// A Batch is one write call that lasts from its construction to commit() or its end:
//   - it holds the process's call guard all that time (exported calls of other threads wait;
//     exported calls made on the batch's own thread join it) and, from the first operation that
//     uses the configuration file, the file's inter-process lock;
//   - each operation runs exactly what the exported function of the same name runs inside its
//     guard (dispatch.h): the same argument checks in the same order, the same path copy, the
//     same status, the same changes to the caller's record. It runs against the store's copy of
//     the file, which holds every change the batch has made so far, so the operations see each
//     other as the same calls made one by one would;
//   - nothing reaches the disk before commit(), which replaces the file once with exactly the
//     bytes the same calls one by one would have left in it.
//
// All or nothing: an add, extended add or delete that does not return QDL_OK fails the batch.
// The operations after it still run and report their statuses (keys the failed one wrote before
// it stopped stay in the copy, as they would stay in the file through the exported call), but
// commit() then writes nothing and returns the first failure's status. So does a failure of the
// replacement itself (QDL_ERR_FILE): the file keeps every byte it had. Reads never fail a batch.
// A batch that ends without commit() - abandon(), the destructor - writes nothing either.
//
// The listing of a batch scans the bytes that commit() would write (its changes included), not
// the file on disk; it resolves the listing's path copy and runs the checks of QDL_Get_List as
// the exported call does.
//
// A dry run (Mode::DryRun) does all of that but takes no lock, makes no folder and never writes:
// commit() reports what the batch would have reported and drops the changes (qdlcfg's --check).
//
// A batch belongs to the thread that made it: every call, and its end, happen on that thread.
// When the path copies of one process name different files (the registry value changed between
// their first uses), each file is replaced on its own at commit().
#pragma once

#include <optional>

#include "platform/platform.h"
#include "tskqdl32.h"

namespace qdl {

class Batch {
public:
    enum class Mode { Write, DryRun };

    explicit Batch(Mode mode = Mode::Write);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // The operations, each as its exported function (QDL_Add_Record and so on).
    int add_record(int kind, void* record);
    int add_record_ex(int kind, void* record);
    int delete_record(int kind, int address_kind, const char* name);
    int get_record(int kind, const char* name, void* record);
    int get_record_ex(int kind, const char* name, void* record);
    int get_modem_record_ex(int kind, const char* name, ModemRecordEx* record);
    int get_list(const ListFilter* first, const ListFilter* second, char* names,
                 unsigned short* count);

    // QDL_OK while no change has failed; otherwise the first failure's status.
    int status() const { return status_; }

    // Writes the batch's changes as one replacement of the file and ends the batch: QDL_OK (also
    // when there was nothing to write: the file is then not touched), the first failure's
    // status (nothing written), or QDL_ERR_FILE when the replacement failed (nothing written).
    int commit();

    // Ends the batch without writing anything.
    void abandon();

    // Operations on a batch that has ended return QDL_ERR_FILE and do nothing.
    bool open() const { return scope_.has_value(); }

private:
    template <class Body>
    int run(bool changes, Body&& body) noexcept;

    std::optional<platform::CallScope> scope_;
    int status_ = QDL_OK;
};

}  // namespace qdl
