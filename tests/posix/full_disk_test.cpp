// full_disk_test.cpp - a write that the file system refuses fails with QDL_ERR_FILE and leaves
// the file exactly as it was, with no temporary file beside it.
//
// Refusals: a file size limit (RLIMIT_FSIZE, SIGXFSZ ignored), a full tmpfs (mounted in a
// private mount namespace of a child; skipped where mounting is not allowed), and, as the user
// nobody, a directory without write permission (with and without an existing lock file) and a
// read-only file. Each refusal is tried on every kind of write: adds of all kinds, an extended
// add, the global parameters (two sections in one call) and deletes. Each attempt runs in a
// child process, whose exit code names the first check that failed.
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <string>

#include "frame/frame.h"
#include "posix/safety_support.h"
#include "support/test_env.h"
#include "testing/hooks.h"
#include "tskqdl32.h"

namespace {

constexpr uid_t kNobody = 65534;

// ---- The file every attempt starts from, and the attempts ------------------------------------

constexpr std::int32_t kGlobalConnect = 500;

int seed_file() {
    PortRecord p = safety::serial_port("Line1");
    DeviceRecord d = safety::full_device("Dev1");
    ModemRecord m = safety::full_modem("Modem1");
    GlobalParameters g{};
    g.connect_timeout = kGlobalConnect;
    g.request_timeout = 600;
    std::strcpy(g.password, "secret");
    for (const int s : {QDL_Add_Record(RECORD_PORT, &p), QDL_Add_Record(RECORD_DEVICE, &d),
                        QDL_Add_Record(RECORD_MODEM, &m), QDL_Add_Record(RECORD_GLOBAL, &g)}) {
        if (s != QDL_OK) return s;
    }
    return QDL_OK;
}

bool port_is(const char* name, bool present) {
    PortRecord p;
    const int s = QDL_Get_Record(RECORD_PORT, name, &p);
    return present ? s == QDL_OK && safety::same_port(p, safety::serial_port(name))
                   : s == QDL_ERR_NOT_FOUND;
}

struct Attempt {
    const char* what;
    std::function<int()> write;
    std::function<bool()> unchanged;  // the failed write is not visible to the next read
};

std::vector<Attempt> attempts() {
    return {
        {"add port",
         [] {
             PortRecord p = safety::serial_port("NewPort");
             return QDL_Add_Record(RECORD_PORT, &p);
         },
         [] { return port_is("NewPort", false); }},
        {"add device",
         [] {
             DeviceRecord d = safety::full_device("NewDev");
             return QDL_Add_Record(RECORD_DEVICE, &d);
         },
         [] {
             DeviceRecord d;
             return QDL_Get_Record(RECORD_DEVICE, "NewDev", &d) == QDL_ERR_NOT_FOUND;
         }},
        {"add modem",
         [] {
             ModemRecord m = safety::full_modem("NewModem");
             return QDL_Add_Record(RECORD_MODEM, &m);
         },
         [] {
             ModemRecord m;
             return QDL_Get_Record(RECORD_MODEM, "NewModem", &m) == QDL_ERR_NOT_FOUND;
         }},
        {"add port extended",
         [] {
             PortRecordEx e{};
             e.base = safety::serial_port("NewPortEx");
             std::strcpy(e.modem_recordname, "Modem1");
             return QDL_Add_Record_Ex(RECORD_PORT, &e);
         },
         [] { return port_is("NewPortEx", false); }},
        {"add global parameters",
         [] {
             GlobalParameters g{};
             g.connect_timeout = 7000;
             g.request_timeout = 8000;
             return QDL_Add_Record(RECORD_GLOBAL, &g);
         },
         [] {
             GlobalParameters g{};
             return QDL_Get_Record(RECORD_GLOBAL, "x", &g) == QDL_OK &&
                    g.connect_timeout == kGlobalConnect && std::strcmp(g.password, "secret") == 0;
         }},
        {"delete port", [] { return QDL_Delete_Record(RECORD_PORT, 0, "Line1"); },
         [] { return port_is("Line1", true); }},
        {"delete global parameters", [] { return QDL_Delete_Record(RECORD_GLOBAL, 0, "x"); },
         [] {
             GlobalParameters g{};
             return QDL_Get_Record(RECORD_GLOBAL, "x", &g) == QDL_OK &&
                    g.connect_timeout == kGlobalConnect;
         }},
        {"delete device address",
         [] { return QDL_Delete_Record(RECORD_DEVICE, ADDRESS_KWT_ID, "Dev1"); },
         [] {
             DeviceRecord d;
             return QDL_Get_Record(RECORD_DEVICE, "Dev1", &d) == QDL_OK &&
                    safety::same_device(d, safety::full_device("Dev1"));
         }},
    };
}

// Exit codes of an attempt's child.
enum Outcome {
    kRefused = 0,
    kNotRefused = 1,      // the write did not return QDL_ERR_FILE
    kBytesChanged = 2,    // the file's bytes differ from before
    kTempLeft = 3,        // something new lies beside the file
    kStaleView = 4,       // the next read sees the failed change
    kNoRecovery = 5,      // once the cause is gone, the same write does not succeed
    kSeedFailed = 6,
};

// The body of an attempt's child: `refuse` sets the cause up (false: the test cannot run here),
// `lift` takes it away again (null: the parent retries instead).
int attempt(const Attempt& a, const std::string& dir, const std::string& file,
            const std::function<bool()>& refuse, const std::function<void()>& lift) {
    const std::string before = qdltest::read_file(dir + "/" + file);
    if (!refuse()) return safety::kCannotSetUp;
    if (a.write() != QDL_ERR_FILE) return kNotRefused;
    if (qdltest::read_file(dir + "/" + file) != before) return kBytesChanged;
    if (!safety::strays(dir, file).empty()) return kTempLeft;
    if (!a.unchanged()) return kStaleView;
    if (!lift) return kRefused;
    lift();
    return a.write() == QDL_OK ? kRefused : kNoRecovery;
}

class FullDisk : public safety::ConfigInDirectory {
protected:
    std::string file = "tsk_cfg.ini";  // the name of `path` in `dir`

    void seed() { ASSERT_EQ(seed_file(), QDL_OK); }

    // Runs every attempt in a child of its own; skips when a child cannot set the refusal up.
    void run_all(const std::function<bool()>& refuse, const std::function<void()>& lift) {
        for (const Attempt& a : attempts()) {
            const std::string before = qdltest::read_file(path);
            const int code = safety::in_child([&] { return attempt(a, dir, file, refuse, lift); });
            if (code == safety::kCannotSetUp) GTEST_SKIP() << "cannot set the refusal up here";
            ASSERT_EQ(code, kRefused) << a.what;
            if (lift) {
                // The child's retry changed the file: start the next attempt from the seed.
                ASSERT_EQ(unlink(path.c_str()), 0);
                seed();
                continue;
            }
            EXPECT_EQ(qdltest::read_file(path), before) << a.what;
            EXPECT_EQ(a.write(), QDL_OK) << a.what << " as root";  // nothing was left stuck
            ASSERT_EQ(unlink(path.c_str()), 0);
            seed();
        }
    }
};

TEST_F(FullDisk, FileSizeLimitRefusesEveryWriteAndKeepsTheFile) {
    seed();
    run_all(
        [] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit tiny{16, RLIM_INFINITY};
            return setrlimit(RLIMIT_FSIZE, &tiny) == 0;
        },
        [] {
            const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &none);
        });
}

// The whole attempt runs in one child that mounts a 64 KiB tmpfs in a mount namespace of its
// own (gone with it), seeds the file there and fills the rest of the file system.
TEST_F(FullDisk, FullFileSystemRefusesEveryWriteAndKeepsTheFile) {
    const std::string mount_point = machine.scratch_dir() + "/tiny";
    ASSERT_EQ(mkdir(mount_point.c_str(), 0755), 0);
    const std::string tiny_dir = mount_point + "/cfg";
    const std::string filler = mount_point + "/filler";
    machine.set_registry_path(tiny_dir + "/" + file);
    for (const Attempt& a : attempts()) {
        const int code = safety::in_child([&] {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=64k") != 0) {
                return safety::kCannotSetUp;
            }
            qdl::reset_config_paths_for_tests();
            if (mkdir(tiny_dir.c_str(), 0755) != 0 || seed_file() != QDL_OK) return static_cast<int>(kSeedFailed);
            const auto fill = [&] {
                const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                const std::string block(4096, 'x');
                while (write(fd, block.data(), block.size()) > 0) {
                }
                while (write(fd, block.data(), 1) > 0) {
                }
                const bool full = errno == ENOSPC;
                close(fd);
                return full;
            };
            return attempt(a, tiny_dir, file, fill, [&] { unlink(filler.c_str()); });
        });
        if (code == safety::kCannotSetUp) GTEST_SKIP() << "mounting a tmpfs is not allowed here";
        ASSERT_EQ(code, kRefused) << a.what;
    }
}

// ---- As nobody ---------------------------------------------------------------------------------

bool become_nobody() {
    return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0 &&
           geteuid() == kNobody;
}

// The file itself is nobody's and writable to everyone; only its directory is not.
bool hand_file_to_nobody(const std::string& path) {
    return chown(path.c_str(), kNobody, kNobody) == 0 && chmod(path.c_str(), 0666) == 0;
}

TEST_F(FullDisk, ReadOnlyDirectoryRefusesEveryWriteAndKeepsTheFile) {
    seed();
    run_all(
        [&] {
            // A lock file of root's (mode 0600) is there, which nobody cannot lock. Reads work.
            return hand_file_to_nobody(path) && become_nobody() && port_is("Line1", true);
        },
        nullptr);
}

TEST_F(FullDisk, ReadOnlyDirectoryWithoutLockFileRefusesEveryWrite) {
    seed();
    run_all(
        [&] {
            // Still root here: the lock file goes, and nobody cannot make a new one.
            return unlink((path + ".lock").c_str()) == 0 && hand_file_to_nobody(path) &&
                   become_nobody();
        },
        nullptr);
}

TEST_F(FullDisk, ReadOnlyFileRefusesEveryWriteAndKeepsTheFile) {
    seed();
    ASSERT_EQ(chown(dir.c_str(), kNobody, kNobody), 0);  // the directory is writable to nobody
    run_all(
        [&] {
            return chown(path.c_str(), kNobody, kNobody) == 0 && chmod(path.c_str(), 0444) == 0 &&
                   become_nobody();
        },
        nullptr);
}

}  // namespace
