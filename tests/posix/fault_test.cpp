// fault_test.cpp - every failure at every system call. Each writing operation is first run once
// to count the calls it makes through the replaceable system-call table (file_io.h), then once
// per call N with call N failing: ENOSPC for write, EIO for fsync, rename, read and close,
// EACCES for open, mkdir, stat and access, and so on; read, write and flock, which are retried
// when interrupted, are failed with EINTR in a second run. After each run:
//   - a reported failure left the file byte for byte as it was, no lock held (a fresh open file
//     description takes the flock at once), nothing beside the file; the next read does not see
//     the change, and the same operation then succeeds;
//   - a reported success (always, for EINTR) left the whole change in the file, and the next
//     read sees it.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "exports/batch.h"
#include "platform/posix/file_io.h"
#include "posix/safety_support.h"
#include "support/test_env.h"
#include "testing/hooks.h"
#include "tskqdl32.h"

namespace {

namespace sys = qdl::platform::sys;

// ---- The calls, counted and failed ----------------------------------------------------------------

enum Call {
    kOpen, kRead, kWrite, kFsync, kClose, kRename, kUnlink, kStat, kFstat, kLstat, kReadlink,
    kMkdir, kFlock, kFchmod, kFchown, kAccess, kInotifyInit, kInotifyAdd, kInotifyRm, kCallKinds
};

struct CallKind {
    const char* name;
    int error;     // the failure injected
    bool retried;  // EINTR is retried: a second run fails the call with EINTR
};

constexpr CallKind kKinds[kCallKinds] = {
    {"open", EACCES, false},       {"read", EIO, true},        {"write", ENOSPC, true},
    {"fsync", EIO, false},         {"close", EIO, false},      {"rename", EIO, false},
    {"unlink", EACCES, false},     {"stat", EACCES, false},    {"fstat", EIO, false},
    {"lstat", EACCES, false},      {"readlink", EIO, false},   {"mkdir", EACCES, false},
    {"flock", ENOLCK, true},       {"fchmod", EPERM, false},   {"fchown", EPERM, false},
    {"access", EACCES, false},     {"inotify_init1", EMFILE, false},
    {"inotify_add_watch", ENOSPC, false}, {"inotify_rm_watch", EINVAL, false}};

struct Injector {
    int calls = 0;           // calls made so far
    int fail_at = 0;         // the call that fails, from 1; 0: none
    bool interrupt = false;  // fail it with EINTR when it is retried
    bool interrupted = false;  // it was failed with EINTR
    std::vector<Call> seen;  // every call, in order
} g;

sys::Calls g_real;

// The errno with which this call fails, or 0.
int fault(Call c) {
    ++g.calls;
    g.seen.push_back(c);
    if (g.calls != g.fail_at) return 0;
    g.interrupted = g.interrupt && kKinds[c].retried;
    return g.interrupted ? EINTR : kKinds[c].error;
}

template <Call C, class Fn>
struct Hook;
template <Call C, class R, class... A>
struct Hook<C, R (*)(A...)> {
    template <R (*sys::Calls::*Entry)(A...)>
    static R call(A... args) {
        const int err = fault(C);
        if (err == 0) return (g_real.*Entry)(args...);
        // A close that fails has closed the descriptor all the same (Linux).
        if (C == kClose) (g_real.*Entry)(args...);
        errno = err;
        return static_cast<R>(-1);
    }
};

#define QDL_HOOK(kind, entry) \
    t.entry = &Hook<kind, decltype(sys::Calls::entry)>::template call<&sys::Calls::entry>

// Counts (and fails) every call from here on.
void hook_calls(int fail_at, bool interrupt) {
    g = Injector{};
    g.fail_at = fail_at;
    g.interrupt = interrupt;
    g_real = sys::calls();
    sys::Calls& t = sys::calls();
    QDL_HOOK(kOpen, open);
    QDL_HOOK(kRead, read);
    QDL_HOOK(kWrite, write);
    QDL_HOOK(kFsync, fsync);
    QDL_HOOK(kClose, close);
    QDL_HOOK(kRename, rename);
    QDL_HOOK(kUnlink, unlink);
    QDL_HOOK(kStat, stat);
    QDL_HOOK(kFstat, fstat);
    QDL_HOOK(kLstat, lstat);
    QDL_HOOK(kReadlink, readlink);
    QDL_HOOK(kMkdir, mkdir);
    QDL_HOOK(kFlock, flock);
    QDL_HOOK(kFchmod, fchmod);
    QDL_HOOK(kFchown, fchown);
    QDL_HOOK(kAccess, access);
    QDL_HOOK(kInotifyInit, inotify_init1);
    QDL_HOOK(kInotifyAdd, inotify_add_watch);
    QDL_HOOK(kInotifyRm, inotify_rm_watch);
}

#undef QDL_HOOK

// ---- The operations -----------------------------------------------------------------------------

// Whether a fresh open file description takes the lock at once (none held; no lock file is
// none held either).
bool lock_free(const std::string& lock_file) {
    const int fd = ::open(lock_file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

bool port_is(const std::string& name, bool present) {
    PortRecord p;
    const int s = QDL_Get_Record(RECORD_PORT, name.c_str(), &p);
    return present ? s == QDL_OK && safety::same_port(p, safety::serial_port(name))
                   : s == QDL_ERR_NOT_FOUND;
}

struct Operation {
    const char* what;
    bool in_prefix;              // the file is the default one in the Windows directory
    std::function<int()> write;  // its status
    std::function<bool()> seen;  // the next read sees the change
};

constexpr int kBatchPorts = 1000;

std::vector<Operation> operations() {
    return {
        {"port add", false,
         [] {
             PortRecord p = safety::serial_port("NewPort");
             return QDL_Add_Record(RECORD_PORT, &p);
         },
         [] { return port_is("NewPort", true); }},
        {"device add", false,
         [] {
             DeviceRecord d = safety::full_device("NewDev");
             return QDL_Add_Record(RECORD_DEVICE, &d);
         },
         [] {
             DeviceRecord d;
             return QDL_Get_Record(RECORD_DEVICE, "NewDev", &d) == QDL_OK &&
                    safety::same_device(d, safety::full_device("NewDev"));
         }},
        {"global add (delete and rewrite)", false,
         [] {
             GlobalParameters g{};  // no password: the old one must go
             g.connect_timeout = 7000;
             g.request_timeout = 8000;
             return QDL_Add_Record(RECORD_GLOBAL, &g);
         },
         [] {
             GlobalParameters g{};
             return QDL_Get_Record(RECORD_GLOBAL, "x", &g) == QDL_OK &&
                    g.connect_timeout == 7000 && g.password[0] == '\0';
         }},
        {"port delete", false, [] { return QDL_Delete_Record(RECORD_PORT, 0, "Line1"); },
         [] { return port_is("Line1", false); }},
        {"batch of 1,000 port adds", false,
         [] {
             qdl::Batch batch;
             for (int i = 0; i < kBatchPorts; ++i) {
                 PortRecord p = safety::serial_port(std::string("B").append(std::to_string(i)));
                 batch.add_record(RECORD_PORT, &p);
             }
             return batch.commit();
         },
         [] {
             return port_is("B0", true) &&
                    port_is(std::string("B").append(std::to_string(kBatchPorts - 1)), true);
         }},
        {"first write, making the prefix folders", true,
         [] {
             PortRecord p = safety::serial_port("First");
             return QDL_Add_Record(RECORD_PORT, &p);
         },
         [] { return port_is("First", true); }},
    };
}

class Fault : public safety::ConfigInDirectory {
protected:
    std::string prefix = machine.scratch_dir() + "/prefix";
    std::string seeded;  // the file every operation in `dir` starts from

    // The file of an operation, and the directory that must hold nothing else.
    std::string file_of(const Operation& op) const {
        return op.in_prefix ? machine.default_file() : path;
    }
    std::string dir_of(const Operation& op) const {
        return op.in_prefix ? prefix + "/windows" : dir;
    }

    // Puts the state back from which the operation starts, and reads it once, so that every
    // run finds the store in the same state (no watch left from a write before) and makes the
    // same calls in the same order.
    void start(const Operation& op) {
        if (!op.in_prefix) {
            qdltest::write_file(path, seeded);
        } else {
            std::filesystem::remove_all(prefix);  // the registry file too: the default name
            qdl::reset_config_paths_for_tests();
        }
        PortRecord p;
        (void)QDL_Get_Record(RECORD_PORT, "Line1", &p);
    }

    void seed() {
        PortRecord p = safety::serial_port("Line1");
        DeviceRecord d = safety::full_device("Dev1");
        GlobalParameters g{};
        g.connect_timeout = 500;
        g.request_timeout = 600;
        std::strcpy(g.password, "secret");
        // The global parameters first: their add removes them and writes them anew at the end.
        ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_OK);
        ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
        ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &d), QDL_OK);
        seeded = qdltest::read_file(path);
    }
};

TEST_F(Fault, EveryFailureAtEveryCallLeavesTheOldFileOrTheWholeChange) {
    seed();
    int total_runs = 0;
    std::string counts;
    for (const Operation& op : operations()) {
        SCOPED_TRACE(op.what);
        const std::string file = file_of(op);
        const std::string file_name = file.substr(file.rfind('/') + 1);
        // The change itself, and the calls it makes.
        start(op);
        const std::string before = qdltest::read_file(file);
        const bool existed = qdltest::file_exists(file);
        hook_calls(0, false);
        ASSERT_EQ(op.write(), QDL_OK);
        sys::restore_calls();
        const std::vector<Call> calls = g.seen;
        const std::string after = qdltest::read_file(file);
        ASSERT_NE(after, before);

        int runs = 0;
        for (int n = 1; n <= static_cast<int>(calls.size()); ++n) {
            for (const bool interrupt : {false, true}) {
                if (interrupt && !kKinds[calls[n - 1]].retried) continue;
                char at[64];
                std::snprintf(at, sizeof at, "call %d (%s%s)", n, kKinds[calls[n - 1]].name,
                              interrupt ? ", EINTR" : "");
                SCOPED_TRACE(at);
                ++runs;
                start(op);
                hook_calls(n, interrupt);
                const int status = op.write();
                sys::restore_calls();
                ASSERT_TRUE(lock_free(file + ".lock")) << "a lock is still held";
                if (std::filesystem::exists(dir_of(op))) {  // (a failed mkdir made none)
                    EXPECT_EQ(safety::joined(safety::strays(dir_of(op), file_name)), "");
                }
                if (status == QDL_OK) {
                    EXPECT_EQ(qdltest::read_file(file), after) << "success without the change";
                    EXPECT_TRUE(op.seen());
                    continue;
                }
                EXPECT_FALSE(g.interrupted) << "an interrupted call is tried again: " << status;
                EXPECT_EQ(qdltest::read_file(file), before) << "failure " << status;
                EXPECT_EQ(qdltest::file_exists(file), existed);
                EXPECT_FALSE(op.seen()) << "the failed change is read back";
                EXPECT_EQ(op.write(), QDL_OK) << "the next call fails too";
                EXPECT_EQ(qdltest::read_file(file), after);
                if (HasFailure()) return;
            }
        }
        total_runs += runs;
        char line[128];
        std::snprintf(line, sizeof line, "%s: %zu calls, %d runs\n", op.what, calls.size(), runs);
        counts += line;
    }
    std::printf("%stotal: %d runs\n", counts.c_str(), total_runs);
}

}  // namespace
