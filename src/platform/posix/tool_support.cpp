// tool_support.cpp - for qdlcfg: a copy of the configuration file kept before a change (--backup),
// and how long its writes wait for a lock (--wait).
//
// The copy is written to a temporary file beside the file, flushed, given the file's mode
// (a file that holds the password stays as closed as it was), and linked to its final name,
// which is never taken from an existing file; then the directory is flushed. A reader sees
// the backup whole or not at all.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

}  // namespace qdl::platform
