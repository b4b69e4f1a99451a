// file_io.cpp - system call table and file operations of the Linux stand-ins (file_io.h), and
// the platform layer's reader (platform.h).
//
//   table        the default entries (thin wrappers over the POSIX calls) and restore_calls
//   whole files  open_regular, read_whole, write_whole
//   paths        parent_directory, resolve_links, make_directories
//   lock         lock_wait_limit_ms, lock_exclusive (bounded wait: polls with backoff)
//   replacement  create_temp (after removing the orphans of killed writers), replace_file,
//                discard_temp
//   reader       FileReader: a located file read in chunks, regular files only
#include "platform/posix/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qdl::platform::sys {

// ---- Table ---------------------------------------------------------------------------------

namespace {

int sys_open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t sys_read(int fd, void* buf, std::size_t n) { return ::read(fd, buf, n); }
ssize_t sys_write(int fd, const void* buf, std::size_t n) { return ::write(fd, buf, n); }
int sys_fsync(int fd) { return ::fsync(fd); }
int sys_close(int fd) { return ::close(fd); }
int sys_rename(const char* from, const char* to) { return ::rename(from, to); }
int sys_unlink(const char* path) { return ::unlink(path); }
int sys_stat(const char* path, struct stat* st) { return ::stat(path, st); }
int sys_fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int sys_lstat(const char* path, struct stat* st) { return ::lstat(path, st); }
ssize_t sys_readlink(const char* path, char* buf, std::size_t n) {
    return ::readlink(path, buf, n);
}
int sys_mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int sys_flock(int fd, int op) { return ::flock(fd, op); }
int sys_fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int sys_fchown(int fd, uid_t uid, gid_t gid) { return ::fchown(fd, uid, gid); }
int sys_access(const char* path, int mode) { return ::access(path, mode); }
int sys_inotify_init1(int flags) { return ::inotify_init1(flags); }
int sys_inotify_add_watch(int fd, const char* path, std::uint32_t mask) {
    return ::inotify_add_watch(fd, path, mask);
}
int sys_inotify_rm_watch(int fd, int wd) { return ::inotify_rm_watch(fd, wd); }

constexpr Calls kSystem{sys_open,  sys_read,     sys_write, sys_fsync,  sys_close,  sys_rename,
                        sys_unlink, sys_stat,    sys_fstat, sys_lstat,  sys_readlink, sys_mkdir,
                        sys_flock, sys_fchmod,   sys_fchown, sys_access, sys_inotify_init1,
                        sys_inotify_add_watch,   sys_inotify_rm_watch};

Calls g_calls = kSystem;

// Most links a path may pass through, as the kernel allows.
constexpr int kMaxLinks = 40;

}  // namespace

Calls& calls() { return g_calls; }
void restore_calls() { g_calls = kSystem; }

// ---- Whole files ---------------------------------------------------------------------------

namespace {

int not_regular(const struct stat& st) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    return -1;
}

}  // namespace

int open_regular(const char* path, int flags, mode_t mode) {
    // What is known to be something else is not even opened (opening a device may act on it);
    // the descriptor's own fstat settles a path that is swapped after this stat.
    struct stat st {};
    if (g_calls.stat(path, &st) == 0 && !S_ISREG(st.st_mode)) return not_regular(st);
    const int fd = g_calls.open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    st = {};
    if (g_calls.fstat(fd, &st) != 0) {
        const int err = errno;
        g_calls.close(fd);
        errno = err;
        return -1;
    }
    if (S_ISREG(st.st_mode)) return fd;
    g_calls.close(fd);
    return not_regular(st);
}

bool read_whole(int fd, std::string& out, std::uint64_t limit) {
    out.clear();
    // Read straight into `out`: sized for what fstat announces plus one byte, which tells a file
    // that grew meanwhile or is longer than the limit; grown while more comes.
    struct stat st {};
    std::uint64_t announced = 0;
    if (g_calls.fstat(fd, &st) == 0 && st.st_size > 0) {
        announced = std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size), limit);
    }
    out.resize(static_cast<std::size_t>(announced + 1));
    std::size_t have = 0;
    for (;;) {
        if (have == out.size()) {
            out.resize(static_cast<std::size_t>(
                std::min<std::uint64_t>(std::max<std::size_t>(2 * have, 65536), limit + 1)));
        }
        const ssize_t n = g_calls.read(fd, out.data() + have, out.size() - have);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            out.resize(have);
            errno = err;
            return false;
        }
        if (n == 0) {
            out.resize(have);
            return true;
        }
        have += static_cast<std::size_t>(n);
        if (have > limit) {  // one byte more than the limit allows
            out.resize(static_cast<std::size_t>(limit));
            errno = EFBIG;
            return false;
        }
    }
}

bool write_whole(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = g_calls.write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// ---- Paths ---------------------------------------------------------------------------------

std::string parent_directory(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string resolve_links(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < kMaxLinks; ++hops) {
        struct stat st {};
        if (g_calls.lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = g_calls.readlink(current.c_str(), buf.data(), buf.size());
        if (n < 0 || static_cast<std::size_t>(n) >= buf.size()) return current;
        std::string target(buf.data(), static_cast<std::size_t>(n));
        if (target.empty()) return current;
        if (target.front() != '/') {
            const auto slash = current.rfind('/');
            if (slash != std::string::npos) target = current.substr(0, slash + 1) + target;
        }
        current = std::move(target);
    }
    return current;
}

bool make_directories(const std::string& path) {
    if (g_calls.mkdir(path.c_str(), 0777) == 0) return true;
    int err = errno;
    struct stat st {};
    if (err == ENOENT) {
        const std::string parent = parent_directory(path);
        if (parent != path && parent != "." && parent != "/") {
            if (!make_directories(parent)) return false;  // errno: the parent's failure
            if (g_calls.mkdir(path.c_str(), 0777) == 0) return true;
            err = errno;
        }
    }
    // Made meanwhile by another process, or there already.
    if (g_calls.stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    errno = err == EEXIST ? ENOTDIR : err;
    return false;
}

// ---- Lock ----------------------------------------------------------------------------------

namespace {

// The pause between two tries starts short, so that a lock released at once is had at once,
// and grows to a cap; each pause is cut by a random part (jitter) so that waiters do not try in
// step. A pause also ends when the lock file is closed, which is how a holder lets go: a waiter
// that only polled would try at moments when a busy writer, going from one call to the next,
// almost always holds the lock, and could wait through all of that writer's calls.
constexpr std::chrono::microseconds kFirstPause{1'000};
constexpr std::chrono::microseconds kLongestPause{16'000};

std::chrono::microseconds jittered(std::chrono::microseconds pause) {
    thread_local std::minstd_rand engine(static_cast<unsigned>(::getpid()) ^
                                         static_cast<unsigned>(::time(nullptr)));
    const auto span = static_cast<std::uint32_t>(pause.count() / 2);
    return pause / 2 + std::chrono::microseconds(engine() % (span + 1));
}

// A pause that ends early when the lock file is closed (an inotify watch, set up at the first
// pause of a wait); without inotify, a plain pause.
class ReleaseWatch {
public:
    explicit ReleaseWatch(std::string lock_path) : lock_path_(std::move(lock_path)) {}
    ~ReleaseWatch() {
        if (fd_ >= 0) g_calls.close(fd_);
    }
    ReleaseWatch(const ReleaseWatch&) = delete;
    ReleaseWatch& operator=(const ReleaseWatch&) = delete;

    void pause(std::chrono::microseconds longest) {
        if (!tried_) watch();
        if (fd_ < 0) {
            timespec ts{static_cast<time_t>(longest.count() / 1'000'000),
                        static_cast<long>(longest.count() % 1'000'000) * 1'000};
            while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
            }
            return;
        }
        pollfd p{fd_, POLLIN, 0};
        (void)::poll(&p, 1, static_cast<int>((longest.count() + 999) / 1'000));
        alignas(inotify_event) char events[1024];
        while (g_calls.read(fd_, events, sizeof events) > 0) {  // drained: only the wake counts
        }
    }

private:
    void watch() {
        tried_ = true;
        fd_ = g_calls.inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0 && g_calls.inotify_add_watch(fd_, lock_path_.c_str(), IN_CLOSE) < 0) {
            g_calls.close(fd_);
            fd_ = -1;
        }
    }

    std::string lock_path_;
    int fd_ = -1;
    bool tried_ = false;
};

// The process holding a flock on the file open as fd, from /proc/locks; 0 when unknown.
long lock_holder(int fd) {
    struct stat st {};
    if (g_calls.fstat(fd, &st) != 0) return 0;
    const int locks = g_calls.open("/proc/locks", O_RDONLY | O_CLOEXEC, 0);
    if (locks < 0) return 0;
    std::string text;
    const bool ok = read_whole(locks, text, 1 << 22);
    g_calls.close(locks);
    if (!ok) return 0;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF": pid, then major:minor:inode.
    char device_inode[64];
    std::snprintf(device_inode, sizeof device_inode, "%02x:%02x:%llu", major(st.st_dev),
                  minor(st.st_dev), static_cast<unsigned long long>(st.st_ino));
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.find("FLOCK") == std::string::npos || line.find("->") != std::string::npos) {
            continue;
        }
        const std::size_t at = line.find(std::string(" ") + device_inode + " ");
        if (at == std::string::npos) continue;
        if (at == 0) continue;
        const std::size_t before_pid = line.rfind(' ', at - 1);
        if (before_pid == std::string::npos) continue;
        return std::strtol(line.c_str() + before_pid + 1, nullptr, 10);
    }
    return 0;
}

// Takes the exclusive flock on fd, trying until the wait limit has passed; after a second of
// waiting the notice (when one is set) is told once who holds the lock.
bool lock_within_limit(int fd, const std::string& lock_path) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(lock_wait_limit_ms().load());
    auto pause = kFirstPause;
    bool told = false;
    ReleaseWatch release(lock_path);
    for (;;) {
        if (g_calls.flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return false;
        const auto now = Clock::now();
        if (!told && now - start >= std::chrono::seconds(1) && lock_wait_notice() != nullptr) {
            told = true;
            lock_wait_notice()(lock_path.c_str(), lock_holder(fd));
        }
        if (now >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now);
        release.pause(std::min(jittered(pause), left));
        pause = std::min(pause * 2, kLongestPause);
    }
}

}  // namespace

LockWaitNotice& lock_wait_notice() {
    static LockWaitNotice notice = nullptr;
    return notice;
}

std::atomic<std::int64_t>& lock_wait_limit_ms() {
    static std::atomic<std::int64_t> limit{kLockWaitLimit.count()};
    return limit;
}

mode_t lock_file_mode(mode_t file_mode) {
    mode_t mode = S_IRUSR | S_IWUSR;
    if (file_mode & S_IWGRP) mode |= S_IRGRP | S_IWGRP;
    if (file_mode & S_IWOTH) mode |= S_IROTH | S_IWOTH;
    return mode;
}

namespace {

// The process's umask, from /proc/self/status (reading it with umask(2) would change it for a
// moment under every other thread). When it cannot be read: 022, the common one, which gives
// the group and others no write and so the tighter lock file.
mode_t process_umask() {
    mode_t mask = 022;
    const int fd = g_calls.open("/proc/self/status", O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return mask;
    std::string text;
    const bool ok = read_whole(fd, text, 1 << 16);
    g_calls.close(fd);
    const auto at = text.find("\nUmask:");
    if (ok && at != std::string::npos) {
        mask = static_cast<mode_t>(std::strtoul(text.c_str() + at + 8, nullptr, 8)) & 0777;
    }
    return mask;
}

// Creates the lock file of `file` tight (owner only), then gives it the owner, group and mode
// that follow from the file: a reader of the lock file who could not also write the file could
// hold its lock. -1 (errno EEXIST) when another process made it first.
int create_lock_file(const std::string& file, const std::string& lock_path) {
    const int fd = open_regular(lock_path.c_str(), O_RDWR | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    if (fd < 0) return -1;
    struct stat st {};
    mode_t file_mode;
    if (g_calls.stat(file.c_str(), &st) == 0) {
        file_mode = st.st_mode;
        // root making the lock of another user's file: it is that user's, who must open it too.
        if (::geteuid() == 0 && (st.st_uid != 0 || st.st_gid != 0)) {
            (void)g_calls.fchown(fd, st.st_uid, st.st_gid);
        }
    } else {
        file_mode = 0666 & ~process_umask();  // as the replacement will make the new file
    }
    const mode_t mode = lock_file_mode(file_mode);
    // A mode that cannot be set leaves the lock file owner-only: tighter, never looser.
    if (mode != (S_IRUSR | S_IWUSR)) (void)g_calls.fchmod(fd, mode);
    return fd;
}

}  // namespace

int lock_exclusive(const std::string& file) {
    const std::string lock_path = file + ".lock";
    int fd = open_regular(lock_path.c_str(), O_RDWR);
    if (fd < 0 && errno == ENOENT) {
        fd = create_lock_file(file, lock_path);
        if (fd < 0 && errno == EEXIST) fd = open_regular(lock_path.c_str(), O_RDWR);
    }
    if (fd < 0) {
        note_failure(WriteFailure::Step::LockFile, lock_path, errno);
        return -1;
    }
    if (!lock_within_limit(fd, lock_path)) {
        const int err = errno;
        g_calls.close(fd);
        note_failure(err == EWOULDBLOCK ? WriteFailure::Step::LockWait
                                        : WriteFailure::Step::LockFile,
                     lock_path, err);
        errno = err;
        return -1;
    }
    return fd;
}

// ---- Replacement ---------------------------------------------------------------------------

namespace {

constexpr std::string_view kTempTag = ".tmp-";

bool all_digits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// True when name is "<base>.tmp-<pid>-<counter>", a name that create_temp gives.
bool is_temp_of(std::string_view name, std::string_view base) {
    if (name.size() <= base.size() + kTempTag.size() || name.substr(0, base.size()) != base ||
        name.substr(base.size(), kTempTag.size()) != kTempTag) {
        return false;
    }
    const std::string_view rest = name.substr(base.size() + kTempTag.size());
    const auto dash = rest.find('-');
    return dash != std::string_view::npos && all_digits(rest.substr(0, dash)) &&
           all_digits(rest.substr(dash + 1));
}

// Removes the temporary files of target that a writer killed before its rename left behind.
// Every writer holds target's lock from the creation of its temporary file to the rename, and
// so does the caller: any such file still there is an orphan.
void remove_orphans(const std::string& target) {
    const std::string dir = parent_directory(target);
    const std::string base = target.substr(target.rfind('/') + 1);
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    std::vector<std::string> orphans;
    while (const dirent* e = ::readdir(d)) {
        if (is_temp_of(e->d_name, base)) orphans.emplace_back(e->d_name);
    }
    ::closedir(d);
    for (const std::string& name : orphans) g_calls.unlink((dir + "/" + name).c_str());
}

}  // namespace

int create_temp(const std::string& target, mode_t mode, std::string& temp_path) {
    static std::atomic<unsigned> counter{0};
    remove_orphans(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_path = target + ".tmp-" + std::to_string(::getpid()) + "-" +
                    std::to_string(counter.fetch_add(1));
        const int fd =
            g_calls.open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    if (errno == 0) errno = EEXIST;
    note_failure(WriteFailure::Step::Temporary, temp_path, errno);
    return -1;
}

namespace {
thread_local WriteFailure t_failure;
}

void note_failure(WriteFailure::Step step, const std::string& path, int error) {
    if (t_failure.step != WriteFailure::Step::None) return;
    const int saved = errno;
    try {
        t_failure.path = path;
    } catch (...) {  // no memory for the path: the step and the error still tell
        t_failure.path.clear();
    }
    t_failure.step = step;
    t_failure.error = error;
    errno = saved;
}

void clear_failure() {
    t_failure.step = WriteFailure::Step::None;
    t_failure.path.clear();
    t_failure.error = 0;
}

void discard_temp(int fd, const std::string& temp_path) {
    if (fd >= 0) g_calls.close(fd);
    g_calls.unlink(temp_path.c_str());
}

bool replace_file(int fd, const std::string& temp_path, const std::string& target,
                  std::string_view data, const struct stat* old) {
    bool ok = write_whole(fd, data) && g_calls.fsync(fd) == 0;
    if (!ok) note_failure(WriteFailure::Step::Write, temp_path, errno);
    if (ok && old != nullptr) {
        // Keep the owner where we may (root editing another user's file); a plain user cannot
        // give a file away, and the file is then simply the user's own. Owner first: a change
        // of owner clears the set-user-ID and set-group-ID bits that the mode then restores.
        struct stat st {};
        if (g_calls.fstat(fd, &st) == 0 &&
            (st.st_uid != old->st_uid || st.st_gid != old->st_gid)) {
            (void)g_calls.fchown(fd, old->st_uid, old->st_gid);
        }
        ok = g_calls.fchmod(fd, old->st_mode & 07777) == 0;
        if (!ok) note_failure(WriteFailure::Step::Write, temp_path, errno);
    }
    const int saved = errno;
    if (g_calls.close(fd) != 0 && ok) {
        // A delayed write error (NFS, a full quota) may come only now.
        note_failure(WriteFailure::Step::Write, temp_path, errno);
        ok = false;
    }
    if (ok && g_calls.rename(temp_path.c_str(), target.c_str()) != 0) {
        note_failure(WriteFailure::Step::Replace, target, errno);
        ok = false;
    }
    if (!ok) {
        const int err = errno != 0 ? errno : saved;
        g_calls.unlink(temp_path.c_str());
        errno = err;
        return false;
    }
    // The rename is on disk only when the directory is. A failure here is not reported: the
    // new content is already in place and visible.
    const std::string dir = parent_directory(target);
    const int dfd = g_calls.open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dfd >= 0) {
        (void)g_calls.fsync(dfd);
        g_calls.close(dfd);
    }
    return true;
}

}  // namespace qdl::platform::sys

namespace qdl::platform {

// ---- Reader --------------------------------------------------------------------------------

WriteFailure last_write_failure() { return sys::t_failure; }

FileReader::~FileReader() { close(); }

bool FileReader::open(const char* file) {
    close();
    if (file == nullptr || *file == '\0') return false;
    const int fd = sys::open_regular(file, O_RDONLY);
    if (fd < 0) return false;
    struct stat st {};
    if (sys::calls().fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) > kMaxFileSize) {
        const int err = errno;
        sys::calls().close(fd);
        errno = st.st_size > 0 ? EFBIG : err;
        return false;
    }
    handle_ = fd;
    return true;
}

std::size_t FileReader::read(char* buffer, std::size_t size) {
    if (handle_ < 0 || too_large_) return 0;
    // One byte past the limit is asked for, to tell a file that grew past it.
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, kMaxFileSize + 1 - read_));
    for (;;) {
        const ssize_t n = sys::calls().read(static_cast<int>(handle_), buffer, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        read_ += static_cast<std::uint64_t>(n);
        if (read_ > kMaxFileSize) {
            too_large_ = true;
            return 0;
        }
        return static_cast<std::size_t>(n);
    }
}

void FileReader::close() {
    if (handle_ >= 0) sys::calls().close(static_cast<int>(handle_));
    handle_ = -1;
    read_ = 0;
    too_large_ = false;
}

}  // namespace qdl::platform
