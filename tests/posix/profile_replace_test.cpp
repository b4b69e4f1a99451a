// profile_replace_test.cpp - how the Linux profile store reaches the disk: one atomic
// replacement per call, nothing written when nothing changes, the old file intact when a
// write fails (faults injected through the system call table), the cache never stale, the
// lock held before the file is read and waited for a bounded time, links and modes kept, odd
// files (FIFO, socket, device) never opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/file_io.h"
#include "platform/posix/posix.h"
#include "support/test_env.h"
#include "testing/hooks.h"
#include "tskqdl32.h"

namespace {

using qdl::platform::Access;
using qdl::platform::CallScope;
using qdl::platform::profile_get_int;
using qdl::platform::profile_get_string;
using qdl::platform::profile_write_string;
namespace sys = qdl::platform::sys;

// ---- Fault injection and call recording ----------------------------------------------------

int g_fail_errno = 0;            // errno of the injected failure
int g_renames = 0;
std::vector<std::string> g_trace;  // "lock" and "stat:<path>" / "open:<path>" in call order

ssize_t failing_write(int, const void*, std::size_t) {
    errno = g_fail_errno;
    return -1;
}
ssize_t half_then_failing_write(int fd, const void* buf, std::size_t n) {
    static bool first = true;
    if (first && n > 1) {
        first = false;
        return ::write(fd, buf, n / 2);
    }
    errno = g_fail_errno;
    return -1;
}
int failing_fsync(int) {
    errno = g_fail_errno;
    return -1;
}
int failing_rename(const char*, const char*) {
    errno = g_fail_errno;
    return -1;
}
int counting_rename(const char* from, const char* to) {
    ++g_renames;
    return ::rename(from, to);
}
long long g_bytes_read = 0;
ssize_t counting_read(int fd, void* buf, std::size_t n) {
    const ssize_t got = ::read(fd, buf, n);
    if (got > 0) g_bytes_read += got;
    return got;
}
int tracing_flock(int fd, int op) {
    g_trace.push_back("lock");
    return ::flock(fd, op);
}
int tracing_stat(const char* path, struct stat* st) {
    g_trace.push_back(std::string("stat:") + path);
    return ::stat(path, st);
}
int tracing_open(const char* path, int flags, mode_t mode) {
    g_trace.push_back(std::string("open:") + path);
    return ::open(path, flags, mode);
}

class ProfileReplace : public ::testing::Test {
protected:
    qdltest::Machine machine;
    std::string dir = machine.scratch_dir();
    std::string path = dir + "/store.ini";

    ProfileReplace() {
        g_renames = 0;
        g_trace.clear();
    }
    ~ProfileReplace() override { sys::restore_calls(); }

    void put(const std::string& text) { qdltest::write_file(path, text); }
    std::string text() const { return qdltest::read_file(path); }
    std::string value(const char* section, const char* key) {
        char buf[128];
        profile_get_string(section, key, "?", buf, sizeof buf, path.c_str());
        return buf;
    }
    struct stat stat_of(const std::string& p) const {
        struct stat st {};
        EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
        return st;
    }
    // The names in the scratch directory.
    std::set<std::string> listing() const {
        std::set<std::string> names;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n != "." && n != "..") names.insert(n);
            }
            closedir(d);
        }
        return names;
    }
};

const std::set<std::string> kStoreFiles{"prefix", "store.ini", "store.ini.lock"};

// ---- One replacement per call --------------------------------------------------------------

TEST_F(ProfileReplace, WriteOutsideAScopeReplacesTheFileAtOnce) {
    put("[s]\nk=1\n");
    const ino_t before = stat_of(path).st_ino;
    ASSERT_TRUE(profile_write_string("s", "k", "2", path.c_str()));
    EXPECT_EQ(text(), "[s]\nk=2\n");
    EXPECT_NE(stat_of(path).st_ino, before);
    EXPECT_EQ(listing(), kStoreFiles);
}

TEST_F(ProfileReplace, WriteScopeReplacesTheFileOnceAtFinish) {
    put("[s]\nk=1\n");
    const ino_t before = stat_of(path).st_ino;
    sys::calls().rename = counting_rename;
    {
        CallScope scope(Access::Write);
        ASSERT_TRUE(profile_write_string("s", "a", "1", path.c_str()));
        ASSERT_TRUE(profile_write_string("s", "b", "2", path.c_str()));
        ASSERT_TRUE(profile_write_string("t", "c", "3", path.c_str()));
        ASSERT_TRUE(profile_write_string("s", "k", nullptr, path.c_str()));
        // Reads inside the call see its writes; the disk does not yet.
        EXPECT_EQ(value("t", "c"), "3");
        EXPECT_EQ(value("s", "k"), "?");
        EXPECT_EQ(text(), "[s]\nk=1\n");
        EXPECT_EQ(stat_of(path).st_ino, before);
        EXPECT_TRUE(scope.finish());
    }
    EXPECT_EQ(g_renames, 1);
    EXPECT_EQ(text(), "[s]\na=1\nb=2\n[t]\nc=3\n");
    EXPECT_NE(stat_of(path).st_ino, before);
    EXPECT_EQ(listing(), kStoreFiles);
}

TEST_F(ProfileReplace, CallThatChangesNothingWritesNothing) {
    put("[s]\nk=1\n");
    struct timespec old_times[2] = {{0, 0}, {1000000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old_times, 0), 0);
    const struct stat before = stat_of(path);
    sys::calls().rename = counting_rename;
    {
        CallScope scope(Access::Write);
        ASSERT_TRUE(profile_write_string("s", "k", "1", path.c_str()));
        ASSERT_TRUE(profile_write_string("s", "absent", nullptr, path.c_str()));
        ASSERT_TRUE(profile_write_string("absent", nullptr, nullptr, path.c_str()));
        EXPECT_TRUE(scope.finish());
    }
    ASSERT_TRUE(profile_write_string("S", " K ", "1", path.c_str()));
    const struct stat after = stat_of(path);
    EXPECT_EQ(g_renames, 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
}

TEST_F(ProfileReplace, ScopeEndingWithoutFinishDropsItsChanges) {
    put("[s]\nk=1\n");
    {
        CallScope scope(Access::Write);
        ASSERT_TRUE(profile_write_string("s", "k", "2", path.c_str()));
        EXPECT_EQ(value("s", "k"), "2");
    }
    EXPECT_EQ(text(), "[s]\nk=1\n");
    EXPECT_EQ(value("s", "k"), "1");
    EXPECT_EQ(listing(), kStoreFiles);
}

TEST_F(ProfileReplace, NewFileTakesTheUmaskAndExistingFileKeepsItsMode) {
    const mode_t old_mask = umask(027);
    ASSERT_TRUE(profile_write_string("s", "k", "v", path.c_str()));
    umask(old_mask);
    EXPECT_EQ(stat_of(path).st_mode & 07777, 0640u);
    ASSERT_EQ(chmod(path.c_str(), 0604), 0);
    ASSERT_TRUE(profile_write_string("s", "k", "w", path.c_str()));
    EXPECT_EQ(stat_of(path).st_mode & 07777, 0604u);
    EXPECT_EQ(text(), "[s]\nk=w\n");
}

TEST_F(ProfileReplace, SymbolicLinkStaysALinkAndItsTargetIsReplaced) {
    ASSERT_EQ(mkdir((dir + "/real").c_str(), 0755), 0);
    qdltest::write_file(dir + "/real/target.ini", "[s]\nk=1\n");
    ASSERT_EQ(symlink("real/target.ini", path.c_str()), 0);
    ASSERT_TRUE(profile_write_string("s", "k", "2", path.c_str()));
    struct stat lst {};
    ASSERT_EQ(lstat(path.c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    EXPECT_EQ(qdltest::read_file(dir + "/real/target.ini"), "[s]\nk=2\n");
    EXPECT_TRUE(qdltest::file_exists(dir + "/real/target.ini.lock"));
    // A link to a file that does not exist yet: the file is created where the link points.
    ASSERT_EQ(symlink("real/later.ini", (dir + "/later.ini").c_str()), 0);
    ASSERT_TRUE(profile_write_string("s", "k", "3", (dir + "/later.ini").c_str()));
    ASSERT_EQ(lstat((dir + "/later.ini").c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    EXPECT_EQ(qdltest::read_file(dir + "/real/later.ini"), "[s]\nk=3\n");
}

// Whoever may read the lock file can hold its lock: it is made readable only to those who may
// write the file (by its write bits; for a new file, those the umask leaves it).
TEST_F(ProfileReplace, LockFileIsKeptAndNoMoreReadableThanTheFileIsWritable) {
    const std::string lock = path + ".lock";
    struct Case {
        mode_t umask, file, lock;  // file 0: made by the write
    };
    const Case cases[] = {{022, 0, 0600},     {002, 0, 0660},     {0, 0, 0666},
                          {022, 0664, 0660},  {022, 0646, 0606},  {022, 0444, 0600},
                          {077, 0666, 0666}};
    for (const Case& c : cases) {
        qdltest::remove_file(lock);
        if (c.file == 0) {
            qdltest::remove_file(path);
        } else {
            put("[s]\nk=1\n");
            ASSERT_EQ(chmod(path.c_str(), c.file), 0);
        }
        const mode_t old_mask = umask(c.umask);
        const bool written = profile_write_string("s", "k", "v", path.c_str());
        umask(old_mask);
        ASSERT_TRUE(written);
        EXPECT_EQ(stat_of(lock).st_mode & 07777, c.lock) << std::oct << c.umask << " " << c.file;
        ASSERT_TRUE(profile_write_string("s", nullptr, nullptr, path.c_str()));
        EXPECT_TRUE(qdltest::file_exists(lock));
    }
}

// ---- Failures leave the old file ------------------------------------------------------------

struct Fault {
    const char* name;
    void (*inject)();
    int err;
};

const Fault kFaults[] = {
    {"disk full", [] { sys::calls().write = failing_write; }, ENOSPC},
    {"disk full halfway", [] { sys::calls().write = half_then_failing_write; }, ENOSPC},
    {"I/O error at fsync", [] { sys::calls().fsync = failing_fsync; }, EIO},
    {"failed rename", [] { sys::calls().rename = failing_rename; }, EXDEV},
};

TEST_F(ProfileReplace, FailedReplacementOutsideAScopeLeavesTheOldFile) {
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.name);
        put("[s]\nk=old\n");
        EXPECT_EQ(value("s", "k"), "old");
        g_fail_errno = fault.err;
        fault.inject();
        EXPECT_FALSE(profile_write_string("s", "k", "new", path.c_str()));
        sys::restore_calls();
        EXPECT_EQ(text(), "[s]\nk=old\n");
        EXPECT_EQ(value("s", "k"), "old");
        EXPECT_EQ(listing(), kStoreFiles);
    }
}

TEST_F(ProfileReplace, FailedReplacementAtFinishIsReportedAndLeavesTheOldFile) {
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.name);
        put("[s]\nk=old\n");
        {
            CallScope scope(Access::Write);
            ASSERT_TRUE(profile_write_string("s", "k", "new", path.c_str()));
            ASSERT_TRUE(profile_write_string("s", "k2", "new2", path.c_str()));
            g_fail_errno = fault.err;
            fault.inject();
            EXPECT_FALSE(scope.finish());
        }
        sys::restore_calls();
        EXPECT_EQ(text(), "[s]\nk=old\n");
        EXPECT_EQ(value("s", "k"), "old");
        EXPECT_EQ(value("s", "k2"), "?");
        EXPECT_EQ(listing(), kStoreFiles);
    }
}

TEST_F(ProfileReplace, WriteThatCannotBePreparedFailsAtOnce) {
    const std::string missing = dir + "/missing/x.ini";
    CallScope scope(Access::Write);
    EXPECT_FALSE(profile_write_string("s", "k", "v", missing.c_str()));
    ASSERT_TRUE(profile_write_string("s", "k", "v", path.c_str()));
    EXPECT_TRUE(scope.finish());
    EXPECT_EQ(text(), "[s]\nk=v\n");
}

TEST_F(ProfileReplace, FileSizeLimitFailsTheWriteAndKeepsTheFile) {
    put("[s]\nk=old\n");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
        const bool ok = profile_write_string("s", "k", std::string(100, 'n').c_str(),
                                             path.c_str());
        _exit(ok ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write was reported as done";
    EXPECT_EQ(text(), "[s]\nk=old\n");
    EXPECT_EQ(listing(), kStoreFiles);
}

// Runs body as user nobody in a child process; its exit code comes back (-1: could not drop
// the privileges, and the test is skipped).
template <class Body>
int as_nobody(Body body) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
        _exit(body());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -2;
    return WEXITSTATUS(status) == 99 ? -1 : WEXITSTATUS(status);
}

TEST_F(ProfileReplace, PermissionsAreCheckedBeforeAnythingChanges) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    // A file nobody may write, in a directory nobody may write.
    const std::string ro_dir = dir + "/ro";
    ASSERT_EQ(mkdir(ro_dir.c_str(), 0755), 0);
    qdltest::write_file(ro_dir + "/a.ini", "[s]\nk=old\n");
    ASSERT_EQ(chmod((ro_dir + "/a.ini").c_str(), 0666), 0);
    // A read-only file in a directory nobody may write.
    const std::string rw_dir = dir + "/rw";
    ASSERT_EQ(mkdir(rw_dir.c_str(), 0777), 0);
    ASSERT_EQ(chmod(rw_dir.c_str(), 0777), 0);
    qdltest::write_file(rw_dir + "/b.ini", "[s]\nk=old\n");
    ASSERT_EQ(chmod((rw_dir + "/b.ini").c_str(), 0444), 0);
    // A file anyone may write, whose lock file (root's, 0644) nobody may only read: a read-only
    // descriptor is never locked (its holder could block every writer).
    qdltest::write_file(rw_dir + "/c.ini", "[s]\nk=old\n");
    ASSERT_EQ(chmod((rw_dir + "/c.ini").c_str(), 0666), 0);
    qdltest::write_file(rw_dir + "/c.ini.lock", "");
    ASSERT_EQ(chmod((rw_dir + "/c.ini.lock").c_str(), 0644), 0);

    const int rc = as_nobody([&] {
        int failures = 0;
        // Writable file, but no temporary file can be made beside it.
        if (profile_write_string("s", "k", "new", (ro_dir + "/a.ini").c_str())) failures |= 1;
        if (profile_write_string("s", "k2", "new", (ro_dir + "/new.ini").c_str())) failures |= 2;
        // Read-only file in a writable directory.
        if (profile_write_string("s", "k", "new", (rw_dir + "/b.ini").c_str())) failures |= 4;
        // A lock file that may only be read.
        if (profile_write_string("s", "k", "new", (rw_dir + "/c.ini").c_str())) failures |= 32;
        const qdl::platform::WriteFailure why = qdl::platform::last_write_failure();
        if (why.step != qdl::platform::WriteFailure::Step::LockFile ||
            why.path != rw_dir + "/c.ini.lock" || why.error != EACCES) {
            failures |= 64;
        }
        // Changing nothing needs no permission; reads work.
        if (!profile_write_string("s", "absent", nullptr, (rw_dir + "/b.ini").c_str())) {
            failures |= 8;
        }
        char buf[8];
        profile_get_string("s", "k", "?", buf, sizeof buf, (ro_dir + "/a.ini").c_str());
        if (std::strcmp(buf, "old") != 0) failures |= 16;
        return failures;
    });
    if (rc == -1) GTEST_SKIP() << "cannot become user nobody";
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(qdltest::read_file(ro_dir + "/a.ini"), "[s]\nk=old\n");
    EXPECT_EQ(qdltest::read_file(rw_dir + "/b.ini"), "[s]\nk=old\n");
    EXPECT_EQ(qdltest::read_file(rw_dir + "/c.ini"), "[s]\nk=old\n");
    EXPECT_FALSE(qdltest::file_exists(ro_dir + "/new.ini"));
    // Nothing left behind in the writable directory but the lock file.
    DIR* d = opendir(rw_dir.c_str());
    ASSERT_NE(d, nullptr);
    std::set<std::string> names;
    while (dirent* e = readdir(d)) names.insert(e->d_name);
    closedir(d);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "b.ini", "b.ini.lock", "c.ini",
                                            "c.ini.lock"}));
}

// ---- The cache is never stale --------------------------------------------------------------

TEST_F(ProfileReplace, RewriteWithinTheSameSecondAtTheSameSizeIsSeen) {
    for (int i = 0; i < 10; ++i) {
        const std::string v = std::to_string(i);
        put("[s]\nk=" + v + "\n");
        ASSERT_EQ(value("s", "k"), v) << "round " << i;
    }
}

TEST_F(ProfileReplace, OutsideEditThatRestoresTheOldTimesIsSeen) {
    put("[s]\nk=1\n");
    const struct timespec stamps[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), stamps, 0), 0);
    EXPECT_EQ(value("s", "k"), "1");
    EXPECT_EQ(value("s", "k"), "1");
    put("[s]\nk=2\n");  // same inode, same size
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), stamps, 0), 0);
    EXPECT_EQ(value("s", "k"), "2");
}

TEST_F(ProfileReplace, WriteAfterAnOutsideEditKeepsTheEdit) {
    put("[s]\nk=1\n");
    EXPECT_EQ(value("s", "k"), "1");
    put("[s]\nk=1\next=added outside\n");
    ASSERT_TRUE(profile_write_string("s", "new", "v", path.c_str()));
    EXPECT_EQ(text(), "[s]\nk=1\next=added outside\nnew=v\n");
}

TEST_F(ProfileReplace, FileReplacedOrRemovedOutsideIsSeen) {
    put("[s]\nk=1\n");
    EXPECT_EQ(value("s", "k"), "1");
    qdltest::write_file(path + ".other", "[s]\nk=9\n");
    ASSERT_EQ(rename((path + ".other").c_str(), path.c_str()), 0);
    EXPECT_EQ(value("s", "k"), "9");
    qdltest::remove_file(path);
    EXPECT_EQ(value("s", "k"), "?");
}

TEST_F(ProfileReplace, OwnWritesAreReadBackWithoutAStaleCopy) {
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(profile_write_string("s", "k", std::to_string(i).c_str(), path.c_str()));
        ASSERT_EQ(profile_get_int("s", "k", -1, path.c_str()), static_cast<unsigned>(i));
        const std::string text = 'x' + std::to_string(i);
        put("[s]\nk=" + text + "\n");
        ASSERT_EQ(value("s", "k"), text);
    }
}

// ---- Lock ----------------------------------------------------------------------------------

TEST_F(ProfileReplace, WriteScopeLocksBeforeItLooksAtTheFile) {
    put("[s]\nk=1\n");
    // (Making a lock file takes its mode from the file's: there is one already.)
    qdltest::write_file(path + ".lock", "");
    sys::calls().flock = tracing_flock;
    sys::calls().stat = tracing_stat;
    sys::calls().open = tracing_open;
    {
        CallScope scope(Access::Write);
        EXPECT_EQ(value("s", "k"), "1");
        ASSERT_TRUE(profile_write_string("s", "k", "2", path.c_str()));
        EXPECT_TRUE(scope.finish());
    }
    sys::restore_calls();
    const auto lock = std::find(g_trace.begin(), g_trace.end(), "lock");
    ASSERT_NE(lock, g_trace.end());
    for (auto it = g_trace.begin(); it != lock; ++it) {
        EXPECT_NE(*it, "stat:" + path);
        EXPECT_NE(*it, "open:" + path);
    }
    EXPECT_NE(std::find(lock, g_trace.end(), "stat:" + path), g_trace.end());
}

TEST_F(ProfileReplace, WriterWaitsForTheLockHolder) {
    put("[s]\nk=1\n");
    const int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    bool written = false;
    std::thread writer([&] { written = profile_write_string("s", "k", "2", path.c_str()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(text(), "[s]\nk=1\n");  // the writer is still waiting
    put("[s]\nk=1\nheld=x\n");        // changed while the lock is held elsewhere
    ::close(fd);
    writer.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(text(), "[s]\nk=2\nheld=x\n");
}

TEST_F(ProfileReplace, WriterGivesUpOnAHolderThatNeverLetsGo) {
    const std::string file = machine.default_file();
    qdltest::write_file(file, "[Held]\nTYPE=VME_PORT\n");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT, 0666);
        if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && write(ready[1], "x", 1) == 1) {
            for (;;) pause();
        }
        _exit(1);
    }
    close(ready[1]);
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    const auto limit = std::chrono::milliseconds(300);
    qdl::platform::set_lock_wait_limit_for_tests(limit);
    PortRecord port;
    std::memset(&port, 0xFF, sizeof port);
    std::strcpy(port.name, "New");
    port.port_type = PORT_VME;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &port), QDL_ERR_FILE);
    EXPECT_GE(std::chrono::steady_clock::now() - start, limit);  // it did wait
    const qdl::platform::WriteFailure why = qdl::platform::last_write_failure();
    EXPECT_EQ(why.step, qdl::platform::WriteFailure::Step::LockWait);
    EXPECT_EQ(why.path, file + ".lock");
    EXPECT_EQ(why.error, EWOULDBLOCK);
    EXPECT_EQ(qdltest::read_file(file), "[Held]\nTYPE=VME_PORT\n");
    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "Held", &port), QDL_OK);  // reads need no lock
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    std::strcpy(port.name, "New");
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &port), QDL_OK);
}

// Read-modify-write of a counter in a write scope, `rounds` times.
void count_up(const std::string& path, int rounds) {
    for (int i = 0; i < rounds; ++i) {
        CallScope scope(Access::Write);
        const std::uint32_t n = profile_get_int("c", "n", 0, path.c_str());
        profile_write_string("c", "n", std::to_string(n + 1).c_str(), path.c_str());
        scope.finish();
    }
}

TEST_F(ProfileReplace, NoUpdateIsLostBetweenProcessesAndThreads) {
    constexpr int kProcesses = 3, kThreads = 2, kRounds = 30;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) threads.emplace_back(count_up, path, kRounds);
            for (auto& t : threads) t.join();
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(profile_get_int("c", "n", 0, path.c_str()),
              static_cast<unsigned>(kProcesses * kThreads * kRounds));
    EXPECT_EQ(listing(), kStoreFiles);
}

// ---- Odd files -----------------------------------------------------------------------------

// Makes an odd file at `at`: a FIFO (opening it for reading would wait for a writer), a socket,
// or a link to a device.
const char* const kOddKinds[] = {"fifo", "socket", "device"};

void make_odd(const std::string& kind, const std::string& at) {
    if (kind == "fifo") {
        ASSERT_EQ(mkfifo(at.c_str(), 0666), 0);
    } else if (kind == "socket") {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        ASSERT_LT(at.size(), sizeof addr.sun_path);
        std::strcpy(addr.sun_path, at.c_str());
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        close(fd);
    } else {
        ASSERT_EQ(symlink("/dev/null", at.c_str()), 0);
    }
}

// Every call below would wait for ever in an open of a FIFO: a hang ends the test process.
TEST_F(ProfileReplace, OddFilesAreNeverOpenedAndNothingIsWritten) {
    alarm(60);
    const std::string file = machine.default_file();
    ListFilter filter{};
    std::strcpy(filter.key, "TYPE");
    unsigned short count = 0;
    PortRecord port;
    std::memset(&port, 0xFF, sizeof port);
    for (const std::string kind : kOddKinds) {
        SCOPED_TRACE(kind);
        // The configuration file: the listing and the reads as for a missing file, writes fail.
        make_odd(kind, file);
        EXPECT_EQ(QDL_Get_List(&filter, nullptr, nullptr, &count), QDL_ERR_FILE);
        EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "P", &port), QDL_ERR_NOT_FOUND);
        std::strcpy(port.name, "P");
        port.port_type = PORT_VME;
        EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &port), QDL_ERR_FILE);
        qdltest::remove_file(file);
        // The lock file: the write fails before anything is written.
        put("[s]\nk=1\n");
        make_odd(kind, path + ".lock");
        EXPECT_FALSE(profile_write_string("s", "k", "2", path.c_str()));
        EXPECT_EQ(text(), "[s]\nk=1\n");
        qdltest::remove_file(path + ".lock");
        // The registry file: as if there were none.
        make_odd(kind, qdl::platform::registry_file());
        qdl::reset_config_paths_for_tests();
        EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &port), QDL_OK);
        EXPECT_NE(qdltest::read_file(file).find("[P]"), std::string::npos);
        qdltest::remove_file(qdl::platform::registry_file());
        qdltest::remove_file(file);
    }
    alarm(0);
}

// ---- Large files ---------------------------------------------------------------------------

// A file over the limit (a sparse one here) is never read: the configuration file is one that
// cannot be read (record reads find nothing, the listing and writes fail, nothing is written),
// the registry file is none.
TEST_F(ProfileReplace, FilesOverTheLimitAreNeverRead) {
    const auto make_large = [](const std::string& at) {
        const int fd = ::open(at.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(qdl::platform::kMaxFileSize + 1)), 0);
        ::close(fd);
    };
    const std::string file = machine.default_file();
    make_large(file);
    sys::calls().read = counting_read;
    ListFilter filter{};
    std::strcpy(filter.key, "TYPE");
    unsigned short count = 0;
    PortRecord port;
    std::memset(&port, 0xFF, sizeof port);
    std::strcpy(port.name, "P");
    port.port_type = PORT_VME;
    EXPECT_EQ(QDL_Get_List(&filter, nullptr, nullptr, &count), QDL_ERR_FILE);
    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "P", &port), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &port), QDL_ERR_FILE);
    const qdl::platform::WriteFailure why = qdl::platform::last_write_failure();
    EXPECT_EQ(why.step, qdl::platform::WriteFailure::Step::Read);
    EXPECT_EQ(why.error, EFBIG);
    EXPECT_EQ(stat_of(file).st_size, static_cast<off_t>(qdl::platform::kMaxFileSize + 1));
    EXPECT_LT(g_bytes_read, 1 << 20);

    machine.set_registry_path(dir + "/registered.ini");
    make_large(qdl::platform::registry_file());
    qdltest::remove_file(file);
    qdl::reset_config_paths_for_tests();
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &port), QDL_OK);
    EXPECT_NE(qdltest::read_file(file).find("[P]"), std::string::npos) << "the default file";
    EXPECT_LT(g_bytes_read, 1 << 20);
}

TEST_F(ProfileReplace, LargeFileEditsTouchOnlyTheirSection) {
    std::string file;
    for (int i = 0; i < 10000; ++i) {
        const std::string n = std::to_string(i);
        file += "[sec" + n + "]\r\n";
        for (int k = 0; k < 17; ++k) file += "KEY" + std::to_string(k) + "=" + n + "\r\n";
    }
    put(file);
    EXPECT_EQ(value("SEC9999", "key16"), "9999");
    {
        CallScope scope(Access::Write);
        ASSERT_TRUE(profile_write_string("sec5000", "KEY3", "changed", path.c_str()));
        ASSERT_TRUE(profile_write_string("sec5000", "NEW", "n", path.c_str()));
        ASSERT_TRUE(profile_write_string("sec4000", nullptr, nullptr, path.c_str()));
        ASSERT_TRUE(profile_write_string("sec10000", "k", "v", path.c_str()));
        EXPECT_TRUE(scope.finish());
    }
    std::string expected = file;
    const std::string s5000 = "[sec5000]\r\n";
    const std::size_t at = expected.find(s5000);
    expected.replace(expected.find("KEY3=5000", at), 9, "KEY3=changed");
    expected.insert(expected.find("[sec5001]"), "NEW=n\r\n");
    const std::size_t s4000 = expected.find("[sec4000]\r\n");
    expected.erase(s4000, expected.find("[sec4001]") - s4000);
    expected += "[sec10000]\r\nk=v\r\n";
    EXPECT_EQ(text(), expected);
    EXPECT_EQ(value("sec5000", "key3"), "changed");
    EXPECT_EQ(value("sec4000", "key3"), "?");
    EXPECT_EQ(value("sec0", "key0"), "0");
}

// ---- Links -----------------------------------------------------------------------------------

TEST(FileIo, LinksAreFollowedRelativeToTheirDirectory) {
    qdltest::Machine machine;
    const std::string d = machine.scratch_dir();
    ASSERT_EQ(mkdir((d + "/a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((d + "/b").c_str(), 0755), 0);
    ASSERT_EQ(symlink("../b/two", (d + "/a/one").c_str()), 0);
    ASSERT_EQ(symlink((d + "/b/three").c_str(), (d + "/b/two").c_str()), 0);
    EXPECT_EQ(sys::resolve_links(d + "/a/one"), d + "/b/three");
    EXPECT_EQ(sys::resolve_links(d + "/plain"), d + "/plain");
    ASSERT_EQ(symlink("loop", (d + "/loop").c_str()), 0);
    EXPECT_EQ(sys::resolve_links(d + "/loop"), d + "/loop");
}

}  // namespace
