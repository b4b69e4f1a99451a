// file_io.h - the Linux stand-ins' door to the file system.
//
// Every system call that can fail goes through one replaceable table, so tests can make a
// write run out of space, an fsync report EIO or a rename fail, and check that the old file
// survives. On top of it, the few file operations the stand-ins need:
//
//   open_regular                 opens a file only when it is a regular file (or a link to
//                                one): a FIFO, socket or device is refused at once, never waited
//                                on
//   read_whole / write_whole     a whole file in and out, EINTR and short transfers handled
//   resolve_links                the file a path finally names (symbolic links followed, also
//                                to a target that does not exist yet)
//   make_directories             a directory and its missing parents, as mkdir -p
//   lock_exclusive               flock(LOCK_EX) on "<file>.lock", opened for writing only,
//                                created when needed no more readable than the file is
//                                writable, waited for at most lock_wait_limit() (30 s)
//   create_temp / replace_file   the atomic replacement: a temporary file beside the target,
//                                flushed, given the old file's mode, renamed over it, and the
//                                directory flushed
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qdl::platform::sys {

struct Calls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buf, std::size_t n);
    ssize_t (*write)(int fd, const void* buf, std::size_t n);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
    int (*stat)(const char* path, struct stat* st);
    int (*fstat)(int fd, struct stat* st);
    int (*lstat)(const char* path, struct stat* st);
    ssize_t (*readlink)(const char* path, char* buf, std::size_t n);
    int (*mkdir)(const char* path, mode_t mode);
    int (*flock)(int fd, int op);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t uid, gid_t gid);
    int (*access)(const char* path, int mode);
    int (*inotify_init1)(int flags);
    int (*inotify_add_watch)(int fd, const char* path, std::uint32_t mask);
    int (*inotify_rm_watch)(int fd, int wd);
};

// The table in use. Tests may replace entries; restore_calls() puts the system's back.
Calls& calls();
void restore_calls();

// ---- File operations -----------------------------------------------------------------------

// open(path, flags, mode) for a file that must be a regular one. A path that stat shows to be
// something else is not opened at all. The open never blocks (a FIFO would wait for a writer):
// it is made with O_NONBLOCK, which has no effect on a regular file, and the descriptor's own
// fstat decides, so a file swapped after the stat is refused too. -1 with errno set when the
// open fails; EISDIR for a directory, ENXIO for any other file that is not regular.
int open_regular(const char* path, int flags, mode_t mode = 0);

// Reads everything from fd into out, at most `limit` bytes. False (errno set) on a read error,
// and with errno EFBIG (out then holds `limit` bytes, no more) when the file is longer.
bool read_whole(int fd, std::string& out, std::uint64_t limit);

// Writes all of data to fd. False (errno set) on a write error.
bool write_whole(int fd, std::string_view data);

// The directory part of path ("." when it has none).
std::string parent_directory(const std::string& path);

// The file that path finally names: symbolic links are followed, relative link targets taken
// against the link's directory, up to 40 links. A dangling link gives its (missing) target.
std::string resolve_links(const std::string& path);

// Creates the directory `path` and every missing directory above it, as mkdir -p does (mode
// 0777, umask applies). True when path is a directory afterwards.
bool make_directories(const std::string& path);

// How long a writer waits for the lock of a file that another process holds: long enough that
// real contention never reaches it (four processes adding 250 records each to one file finish
// in about 11 s in all), short enough that a hung or stopped peer does not stop every writer for
// ever.
inline constexpr std::chrono::milliseconds kLockWaitLimit{30'000};

// The limit in force, in milliseconds: kLockWaitLimit (test builds may shorten it, qdlcfg's
// --wait sets it).
std::atomic<std::int64_t>& lock_wait_limit_ms();

// Told once, after a writer has waited a second for a lock, which lock file and which process
// holds it (0 when it cannot be found out). Null: nobody is told.
using LockWaitNotice = void (*)(const char* lock_path, long holder);
LockWaitNotice& lock_wait_notice();

// Opens "<file>.lock" for reading and writing (a regular file only; never removed) and takes an
// exclusive flock on it, polling with a capped, jittered backoff for at most the wait limit (a
// pause ends early when the holder closes the lock file, so waiters take turns with a busy
// writer as a blocking flock would). A lock file that cannot be opened for writing is not
// locked at all: whoever may only read it could hold it, so the lock file is as good as missing.
// A new lock file is created with read and write for its owner, and for the group and for others
// only where they may write the file (the configuration file's own write bits; for a file still
// to be made, those the umask leaves a new file); root gives it the file's owner and group.
// The descriptor holds the lock until it is closed; -1 when the lock file cannot be opened or
// created, or the lock was not had in time (errno EWOULDBLOCK). Either is noted (note_failure).
int lock_exclusive(const std::string& file);

// The mode a new lock file of a file with mode `file_mode` gets (see lock_exclusive).
mode_t lock_file_mode(mode_t file_mode);

// Creates a new temporary file beside target, for writing. mode is its permission bits
// (umask applies). The descriptor, or -1 with errno set; temp_path receives its name. The
// caller holds target's lock: temporary files of target that a killed writer left are removed
// first.
int create_temp(const std::string& target, mode_t mode, std::string& temp_path);

// Writes data to the open temporary file, flushes it, gives it the old file's mode and owner
// (when `old` is not null), closes it and renames it over target, then flushes the directory.
// On failure the temporary file is removed, target keeps its old content, and false comes
// back. fd is closed either way.
bool replace_file(int fd, const std::string& temp_path, const std::string& target,
                  std::string_view data, const struct stat* old);

// Closes fd and removes the temporary file (a replacement that is dropped).
void discard_temp(int fd, const std::string& temp_path);

// ---- Why a write failed (platform::last_write_failure) ---------------------------------------

// Notes a failure of the running write call, unless one is noted already (the first one is the
// cause; what fails after it follows from it). errno is kept as it was.
void note_failure(WriteFailure::Step step, const std::string& path, int error);
// Forgets the noted failure: a write call starts.
void clear_failure();

}  // namespace qdl::platform::sys
