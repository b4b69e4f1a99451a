// batch_test.cpp - the tool's batch: each operation behaves as its exported call made on its
// own, and the file gets all of the batch's changes or none.
//
//   OneByOne   seeded random sequences of adds, extended adds and deletes of every kind (valid,
//              refused before and after their first key), made through the exported calls and
//              through a batch: the same statuses, the same records handed back, the same bytes
//   Atomicity  a refused record at each position of a batch, and each way the replacement can
//              fail: the file byte for byte as it was, nothing left beside it, nothing cached
//   Listing    a batch lists the records it has added but not yet written; a dry run too,
//              and then leaves the file and the store's copy as they were
#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "exports/batch.h"
#include "platform/platform.h"
#include "platform/posix/file_io.h"
#include "posix/safety_support.h"
#include "support/test_env.h"

namespace {

namespace sys = qdl::platform::sys;

constexpr const char* kNames[] = {"Alpha", "ALPHA", "Beta", "Gamma", "9Lives", "Delta"};
constexpr std::size_t kRecordRoom = std::max({sizeof(PortRecordEx), sizeof(DeviceRecordEx),
                                              sizeof(ModemRecordEx), sizeof(GlobalParameters)});

// One operation and the record it hands over (a copy per run: the calls change records).
struct Op {
    enum What { Add, AddEx, Delete } what = Add;
    int kind = RECORD_PORT;
    int address_kind = 0;
    std::string name;
    std::vector<unsigned char> record = std::vector<unsigned char>(kRecordRoom, 0);
};

Op random_op(std::mt19937& rng) {
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    Op op;
    op.what = static_cast<Op::What>(pick(3));
    op.kind = 1 + static_cast<int>(pick(4));
    op.name = kNames[pick(std::size(kNames))];
    op.address_kind = 1 + static_cast<int>(pick(6));
    void* r = op.record.data();
    switch (op.kind) {
    case RECORD_PORT: {
        PortRecord p = safety::serial_port(op.name);
        p.port_type = static_cast<std::uint16_t>(pick(7));   // 0 and 6 are refused
        if (pick(6) == 0) p.parity = 9;                      // refused after PORT and TYPE
        std::memcpy(r, &p, sizeof p);
        safety::set_text(static_cast<PortRecordEx*>(r)->modem_recordname, QDL_NAME_SIZE,
                         pick(2) ? "Dial" : "");
        break;
    }
    case RECORD_DEVICE: {
        DeviceRecord d = safety::full_device(op.name);
        d.address_kind = static_cast<std::uint16_t>(pick(8));  // 0 and 7 are refused
        if (pick(6) == 0) safety::set_text(d.kwt_id, sizeof d.kwt_id, "-x");
        std::memcpy(r, &d, sizeof d);
        safety::set_text(static_cast<DeviceRecordEx*>(r)->assoc_device, QDL_NAME_SIZE,
                         pick(2) ? "Peer" : "");
        break;
    }
    case RECORD_GLOBAL: {
        GlobalParameters g{};
        g.connect_timeout = pick(3) == 0 ? 0xFFFFFFFFu : pick(70000);
        g.request_timeout = pick(70000);
        safety::set_text(g.password, sizeof g.password, pick(2) ? "pw" + op.name : "");
        std::memcpy(r, &g, sizeof g);
        break;
    }
    default: {
        ModemRecord m = safety::full_modem(op.name);
        std::memcpy(r, &m, sizeof m);
        static_cast<ModemRecordEx*>(r)->modem_break = static_cast<std::uint16_t>(pick(12));
        break;
    }
    }
    return op;
}

int run_exported(Op& op) {
    switch (op.what) {
    case Op::Add: return QDL_Add_Record(op.kind, op.record.data());
    case Op::AddEx: return QDL_Add_Record_Ex(op.kind, op.record.data());
    default: return QDL_Delete_Record(op.kind, op.address_kind, op.name.c_str());
    }
}

int run_in(qdl::Batch& batch, Op& op) {
    switch (op.what) {
    case Op::Add: return batch.add_record(op.kind, op.record.data());
    case Op::AddEx: return batch.add_record_ex(op.kind, op.record.data());
    default: return batch.delete_record(op.kind, op.address_kind, op.name.c_str());
    }
}

class BatchTest : public ::testing::Test {
protected:
    ~BatchTest() override { sys::restore_calls(); }

    void put(const std::string& text) {
        if (text.empty()) qdltest::remove_file(file());
        else qdltest::write_file(file(), text);
    }
    std::string file() const { return machine.default_file(); }
    std::string text() const { return qdltest::read_file(file()); }
    std::vector<std::string> strays() const {
        return safety::strays(machine.windows_dir(), "tsk_cfg.ini");
    }

    qdltest::Machine machine;
};

TEST_F(BatchTest, OneByOneAndBatchGiveTheSameStatusesRecordsAndBytes) {
    const std::string starts[] = {"", "; kept\n[Alpha]\nTYPE=VME_PORT\n",
                                  "[Gamma]\r\nMODEM_DIAL=ATDT\r\n"};
    const unsigned runs = safety::scaled(24, 6);
    for (unsigned run = 0; run < runs; ++run) {
        const unsigned seed = safety::seed() + run;
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        std::vector<Op> ops(8 + rng() % 20);
        for (Op& op : ops) op = random_op(rng);
        const std::string start = starts[run % std::size(starts)];

        // Every other run keeps only the operations that succeed (a failed one is undone by
        // putting the file back), so that its batch commits.
        const bool clean = run % 2 == 0;
        put(start);
        std::vector<Op> kept, alone;
        std::vector<int> statuses;
        for (const Op& op : ops) {
            const std::string before = text();
            alone.push_back(op);
            statuses.push_back(run_exported(alone.back()));
            if (clean && statuses.back() != QDL_OK) {
                put(before);
                alone.pop_back();
                statuses.pop_back();
            } else {
                kept.push_back(op);
            }
        }
        ops = kept;
        const std::string expected = text();

        put(start);
        std::vector<Op> batched = ops;
        qdl::Batch batch;
        int first_failure = QDL_OK;
        for (std::size_t i = 0; i < ops.size(); ++i) {
            ASSERT_EQ(run_in(batch, batched[i]), statuses[i]) << "operation " << i;
            ASSERT_EQ(batched[i].record, alone[i].record) << "operation " << i;
            if (first_failure == QDL_OK) first_failure = statuses[i];
        }
        std::string pending;
        qdl::platform::profile_text("tsk_cfg.ini", pending);
        EXPECT_EQ(pending, expected);
        EXPECT_EQ(batch.commit(), first_failure);
        EXPECT_TRUE(!clean || first_failure == QDL_OK);
        EXPECT_EQ(text(), first_failure == QDL_OK ? expected : start);
    }
}

TEST_F(BatchTest, RefusedRecordAtAnyPositionWritesNothing) {
    const std::string start = "; hand-written\n[Old]\nTYPE=VME_PORT\n";
    constexpr int kOps = 6;
    for (int k = 0; k < kOps; ++k) {
        SCOPED_TRACE("refused at " + std::to_string(k));
        put(start);
        qdl::Batch batch;
        for (int i = 0; i < kOps; ++i) {
            const std::string name = "Rec" + std::to_string(i);
            PortRecord p = safety::serial_port(name);
            if (i == k) p.parity = 9;  // PORT, TYPE and STOPBITS are in the copy already
            ModemRecord m = safety::full_modem(name);
            EXPECT_EQ(batch.add_record(RECORD_PORT, &p), i == k ? QDL_ERR_BAD_VALUE : QDL_OK);
            EXPECT_EQ(batch.add_record(RECORD_MODEM, &m), QDL_OK);
        }
        EXPECT_EQ(batch.status(), QDL_ERR_BAD_VALUE);
        EXPECT_EQ(batch.commit(), QDL_ERR_BAD_VALUE);
        EXPECT_EQ(text(), start);
        EXPECT_EQ(strays(), std::vector<std::string>{});
        ModemRecord back;
        EXPECT_EQ(QDL_Get_Record(RECORD_MODEM, "Rec0", &back), QDL_ERR_NOT_FOUND);
    }
}

int g_errno = 0;
ssize_t failing_write(int, const void*, std::size_t) { return errno = g_errno, -1; }
int failing_fsync(int) { return errno = g_errno, -1; }
int failing_rename(const char*, const char*) { return errno = g_errno, -1; }
int no_temp_open(const char* path, int flags, mode_t mode) {
    if (flags & O_EXCL) return errno = g_errno, -1;
    return ::open(path, flags, mode);
}

TEST_F(BatchTest, FailedReplacementWritesNothing) {
    struct Fault {
        const char* name;
        void (*inject)();
        int err;
        bool at_first_change;
    };
    const Fault faults[] = {
        {"no temporary file", [] { sys::calls().open = no_temp_open; }, EACCES, true},
        {"disk full", [] { sys::calls().write = failing_write; }, ENOSPC, false},
        {"I/O error at fsync", [] { sys::calls().fsync = failing_fsync; }, EIO, false},
        {"failed rename", [] { sys::calls().rename = failing_rename; }, EXDEV, false},
    };
    const std::string start = "[Old]\r\nTYPE=VME_PORT\r\n";
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        put(start);
        g_errno = fault.err;
        {
            qdl::Batch batch;
            if (fault.at_first_change) fault.inject();
            for (const char* name : {"A", "B", "C"}) {
                ModemRecord m = safety::full_modem(name);
                EXPECT_EQ(batch.add_record(RECORD_MODEM, &m),
                          fault.at_first_change ? QDL_ERR_FILE : QDL_OK);
            }
            EXPECT_EQ(batch.delete_record(RECORD_PORT, 0, "Old"),
                      fault.at_first_change ? QDL_ERR_FILE : QDL_OK);
            fault.inject();
            EXPECT_EQ(batch.commit(), QDL_ERR_FILE);
        }
        sys::restore_calls();
        EXPECT_EQ(text(), start);
        EXPECT_EQ(strays(), std::vector<std::string>{});
        PortRecord p;
        EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "Old", &p), QDL_OK);
    }
}

// A dry run sees its own changes as a batch does, and then writes nothing and leaves no trace.
TEST_F(BatchTest, ListingSeesTheBatchsOwnChanges) {
    for (const auto mode : {qdl::Batch::Mode::DryRun, qdl::Batch::Mode::Write}) {
        const bool dry = mode == qdl::Batch::Mode::DryRun;
        SCOPED_TRACE(dry ? "dry run" : "write");
        const std::string start = "[Old]\nMODEM_DIAL=1\n";
        put(start);
        qdl::Batch batch(mode);
        ModemRecord m = safety::full_modem("New");
        ASSERT_EQ(batch.add_record(RECORD_MODEM, &m), QDL_OK);
        ASSERT_EQ(batch.delete_record(RECORD_MODEM, 0, "Old"), QDL_OK);
        ListFilter f{};
        std::strcpy(f.key, "MODEM_DIAL");
        char names[4 * QDL_NAME_SIZE];
        unsigned short count = 4;
        EXPECT_EQ(batch.get_list(&f, nullptr, names, &count), 1);
        EXPECT_STREQ(names, "New");
        EXPECT_EQ(batch.get_list(nullptr, nullptr, names, &count), QDL_ERR_NULL_ARG);
        EXPECT_EQ(batch.commit(), QDL_OK);
        EXPECT_EQ(safety::listed("MODEM_DIAL"), std::vector<std::string>{dry ? "Old" : "New"});
        if (dry) {
            EXPECT_EQ(text(), start);
        }
        EXPECT_EQ(strays(), std::vector<std::string>{});
        EXPECT_EQ(batch.add_record(RECORD_MODEM, &m), QDL_ERR_FILE);  // the batch has ended
    }
}

}  // namespace
