// tool_support.cpp - for qdlcfg: a copy of the configuration file kept before a change (--backup),
// how long its writes wait for a lock (--wait), and its console and files (standard streams,
// whole-file reads, a password typed without echo, what a path names, --prefix).
//
// The copy is written to a temporary file beside the file, flushed, given the file's mode
// (a file that holds the password stays as closed as it was), and linked to its final name,
// which is never taken from an existing file; then the directory is flushed. A reader sees
// the backup whole or not at all.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/file_io.h"

namespace qdl::platform {

namespace {

// "<file>.20261210T074512Z.bak", then "<file>.20261210T074512Z-2.bak" and so on.
std::string backup_name(const std::string& file, int attempt) {
    const time_t now = time(nullptr);
    struct tm utc {};
    gmtime_r(&now, &utc);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::string name;
    name.reserve(file.size() + 40);
    name.append(file).append(1, '.').append(stamp);
    if (attempt > 1) name.append(1, '-').append(std::to_string(attempt));
    return name.append(".bak");
}

}  // namespace

BackupResult backup_file(const std::string& file, std::string& backup_path) {
    auto& sys = sys::calls();
    backup_path.clear();
    const int in = sys::open_regular(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno == ENOENT ? BackupResult::NoFile : BackupResult::Failed;
    std::string data;
    struct stat st {};
    const bool read = sys::read_whole(in, data, kMaxFileSize) && sys.fstat(in, &st) == 0;
    const int read_errno = errno;
    sys.close(in);
    if (!read) {
        errno = read_errno;
        return BackupResult::Failed;
    }
    std::string temp;
    const int out = sys::create_temp(file + ".bak", st.st_mode & 0777, temp);
    if (out < 0) return BackupResult::Failed;
    bool ok = sys::write_whole(out, data) && sys.fchmod(out, st.st_mode & 0777) == 0 &&
              sys.fsync(out) == 0;
    int saved = errno;
    ok = sys.close(out) == 0 && ok;
    for (int attempt = 1; ok && attempt < 1000; ++attempt) {
        std::string name = backup_name(file, attempt);
        if (::link(temp.c_str(), name.c_str()) == 0) {
            backup_path = std::move(name);
            break;
        }
        if (errno != EEXIST) {
            saved = errno;
            ok = false;
        }
    }
    sys.unlink(temp.c_str());
    if (!ok || backup_path.empty()) {
        errno = saved;
        return BackupResult::Failed;
    }
    const int dir = sys.open(sys::parent_directory(file).c_str(), O_RDONLY | O_DIRECTORY, 0);
    if (dir >= 0) {
        sys.fsync(dir);
        sys.close(dir);
    }
    return BackupResult::Made;
}

bool world_readable(const std::string& file) {
    struct stat st {};
    return sys::calls().stat(file.c_str(), &st) == 0 && (st.st_mode & S_IROTH) != 0;
}

void set_lock_wait(std::int64_t limit_ms, void (*notice)(const char* lock_path, long holder)) {
    sys::lock_wait_limit_ms().store(limit_ms < 0 ? sys::kLockWaitLimit.count() : limit_ms);
    sys::lock_wait_notice() = notice;
}

// ---- qdlcfg's console and files -------------------------------------------------------------

namespace {

int descriptor(Stream stream) {
    switch (stream) {
    case Stream::In: return STDIN_FILENO;
    case Stream::Out: return STDOUT_FILENO;
    case Stream::Err: return STDERR_FILENO;
    }
    return -1;
}

// Reads `fd` to its end into `text`, refusing at once anything beyond `limit` bytes.
std::string read_up_to(int fd, std::size_t limit, std::string& text) {
    const std::string too_big = "larger than " + std::to_string(limit >> 20) + " MiB";
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uintmax_t>(st.st_size) > limit) {
        return too_big;  // without reading a byte of it
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) return "";
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::strerror(errno);
        if (static_cast<std::size_t>(n) > limit - text.size()) return too_big;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

int write_stream(Stream stream, std::string_view text) {
    const int fd = descriptor(stream);
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

bool is_terminal(Stream stream) { return isatty(descriptor(stream)) == 1; }

std::string read_input(const char* path, std::size_t limit, bool regular_only, std::string& text,
                       bool& opened) {
    text.clear();
    opened = true;
    if (path == nullptr) return read_up_to(STDIN_FILENO, limit, text);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | (regular_only ? O_NONBLOCK : 0));
    if (fd < 0) {
        opened = false;
        return std::strerror(errno);
    }
    struct stat st;
    if (regular_only && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        opened = false;
        return "not a regular file";
    }
    const std::string reason = read_up_to(fd, limit, text);
    ::close(fd);
    return reason;
}

QuietInput::QuietInput() {
    static_assert(sizeof(termios) <= sizeof saved_ && alignof(termios) <= 8);
    termios saved{};
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) return;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    std::memcpy(saved_, &saved, sizeof saved);
    active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
}

QuietInput::~QuietInput() {
    if (!active_) return;
    termios saved{};
    std::memcpy(&saved, saved_, sizeof saved);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
}

PathKind path_kind(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        return S_ISREG(st.st_mode) ? PathKind::Regular : PathKind::Other;
    }
    return errno == ENOENT ? PathKind::Missing : PathKind::Unknown;
}

void use_prefix(const std::string& directory) { ::setenv("TSKQDL32_PREFIX", directory.c_str(), 1); }

}  // namespace qdl::platform
