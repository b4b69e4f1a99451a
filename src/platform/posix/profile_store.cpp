// profile_store.cpp - the Linux stand-in for the Win32 profile functions, and the call guard.
//
//   cache        one parsed Document per configuration file (keyed by the located path),
//                validated by one stat; re-read when the device, inode, size, modification or
//                change time (nanoseconds) differ, or when the last read fell in the window in
//                which a later edit could leave all of them unchanged
//   change watch after the store's own replacement, an inotify watch on the new file tells
//                within that window whether anyone has changed it since, so the store's own
//                writes are not read back
//   validation   validate: the stat, the watch, and the read when they cannot vouch for the copy;
//                only a regular file (or a link to one) is read, a FIFO, socket or device is
//                never opened, and nothing waits on one; a file larger than kMaxFileSize
//                (256 MiB) is not read at all and counts as one that cannot be read
//   scopes       the state of one exported call: for each file it uses, the flock on
//                "<file>.lock" (write calls), the temporary file of its replacement and whether
//                it has unwritten changes; a profile call outside any CallScope runs in a scope
//                of its own (reads validate, writes replace the file at once). A writer waits
//                for the lock at most 30 seconds (sys::kLockWaitLimit); a peer that holds it
//                longer (hung or stopped) makes the write fail, with nothing written; what
//                made a write fail is noted for last_write_failure (file_io.h). The
//                Windows directory, and the prefix above it, are created (as mkdir -p) when a
//                write to a bare file name needs them
//   reads        profile_get_string (value, key list, section list), profile_get_int,
//                profile_text (the whole copy, for the tool's batch)
//   writes       profile_write_string: plan the edit, prepare the replacement at the first
//                change (so that a write that cannot be carried out fails at once), apply it to
//                the cached text; finish() writes the file once, piece by piece
//                (write_document): runs of untouched sections straight from the text as read,
//                edited sections gathered in 64 KiB pieces; never one copy of the whole text
//   CallScope    one process-wide mutex around every exported call
//
// Reading, as GetPrivateProfileStringA does it:
//   value 70 bytes, size 66      its first 65 bytes, NUL, ret 65 (cut at a whole character of
//                                the code page: never half a double-byte character)
//   key=" sp "                   " sp " (matching quotes stripped, nothing else)
//   key (no '='), missing key    the default, without its trailing spaces and quotes
//   key list of [s]: a=1 b c=    "a\0c\0\0" (no-'=' and ';' lines are not keys); when cut:
//                                the last name cut, then two NULs, ret = size - 2
//   nothing to list              the default as one string (trailing spaces kept)
//   section list, no sections    "\0", ret 0
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/file_io.h"
#include "platform/posix/ini_text.h"
#include "platform/posix/posix.h"

namespace qdl::platform {

namespace {

// ---- Cache ---------------------------------------------------------------------------------

// A file whose newest time stamp is this close to the moment it was read may still change
// without a new stamp (time stamps advance in clock ticks of a few milliseconds); its copy is
// used for one call only and checked again by reading the file.
constexpr long kRacyWindowNs = 20'000'000;

// Most files kept parsed at once; more are dropped, least recently validated first.
constexpr std::size_t kMaxCachedFiles = 16;

// GetPrivateProfileIntA reads the value into a buffer of 30 bytes: at most 29 characters of
// it count.
constexpr std::uint32_t kIntBufferSize = 30;

enum class FileState { Missing, Present, Unreadable, NotAFile };

struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtim{};
    timespec ctim{};
};

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool same_identity(const Identity& a, const Identity& b) {
    return a.dev == b.dev && a.ino == b.ino && a.size == b.size && same_time(a.mtim, b.mtim) &&
           same_time(a.ctim, b.ctim);
}

Identity identity_of(const struct stat& st) {
    return Identity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

long long to_ns(const timespec& t) {
    return static_cast<long long>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec;
}

// True when the file was changed so recently that a further change could keep its stamps.
bool recently_changed(const struct stat& st) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const long long newest = std::max(to_ns(st.st_mtim), to_ns(st.st_ctim));
    return newest + kRacyWindowNs >= to_ns(now);
}

// The watch on the file that the store itself put in place last (see "Change watch").
struct Watch {
    int wd = -1;
    bool renamed = false;  // the store's own rename was seen: every later event is a change
    bool changed = false;  // someone changed the file after that rename
};

struct CachedFile {
    bool loaded = false;
    FileState state = FileState::Missing;
    Identity id;
    struct stat st {};     // of the file read (mode and owner for its replacement)
    bool trusted = false;  // id proves that the copy is current
    ini::Document doc = ini::parse("");
    std::uint64_t used = 0;  // for dropping old entries
    Watch watch;
    int error = 0;           // why the file is Unreadable or NotAFile (errno)
};

std::unordered_map<std::string, CachedFile> g_cache;
std::uint64_t g_use_counter = 0;

// ---- Change watch --------------------------------------------------------------------------

// Right after its own replacement the store holds the file's bytes, but for a few milliseconds
// the time stamps cannot prove that nobody has changed them since: an edit in place at the same
// size within the same clock tick, with the modification time put back, leaves every stamp as
// it was. An inotify watch can prove it. It is set on the temporary file before the rename; the
// store's own last steps on that file (owner, mode, close) all come before the rename
// (IN_MOVE_SELF), so every event after the rename is someone else's change. A writer through
// a shared memory mapping makes no IN_MODIFY and may keep its descriptor open: its open is the
// only sign, so any open after the rename counts as a change. Without inotify, or when a watch
// cannot be set, such a copy is read again as before.
constexpr std::uint32_t kWatchMask =
    IN_OPEN | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF;

struct Notifier {
    int fd = -1;
    pid_t pid = 0;  // the process that made fd: a forked child makes its own
    std::unordered_map<int, std::string> files;  // watch -> cache key
};

Notifier g_notifier;

// The inotify descriptor of this process, made when first needed; -1 when there is none.
int notifier_fd() {
    auto& sys = sys::calls();
    const pid_t pid = ::getpid();
    if (g_notifier.fd >= 0 && g_notifier.pid == pid) return g_notifier.fd;
    if (g_notifier.fd >= 0) {  // inherited through fork: the parent's queue is not ours to read
        sys.close(g_notifier.fd);
        for (auto& entry : g_cache) entry.second.watch = Watch{};
        g_notifier.files.clear();
    }
    g_notifier.fd = sys.inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    g_notifier.pid = pid;
    return g_notifier.fd;
}

void forget_watch(Watch& w) {
    if (w.wd >= 0 && g_notifier.fd >= 0 && g_notifier.pid == ::getpid()) {
        sys::calls().inotify_rm_watch(g_notifier.fd, w.wd);
        g_notifier.files.erase(w.wd);
    }
    w = Watch{};
}

void note_event(const inotify_event& ev) {
    if (ev.mask & IN_Q_OVERFLOW) {  // events were lost: no watch proves anything any more
        for (auto& entry : g_cache) entry.second.watch.changed = true;
        return;
    }
    const auto known = g_notifier.files.find(ev.wd);
    if (known == g_notifier.files.end()) return;
    const auto file = g_cache.find(known->second);
    if (ev.mask & IN_IGNORED) g_notifier.files.erase(known);
    if (file == g_cache.end() || file->second.watch.wd != ev.wd) return;
    Watch& w = file->second.watch;
    if (ev.mask & IN_IGNORED) {  // the file is gone, or the watch with it
        w.wd = -1;
        w.changed = true;
    } else if (!w.renamed) {
        w.renamed = (ev.mask & IN_MOVE_SELF) != 0;
    } else {
        w.changed = true;
    }
}

// Reads every pending event and marks the files it concerns.
void drain_events() {
    const int fd = notifier_fd();
    if (fd < 0) return;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = sys::calls().read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
            inotify_event ev;
            std::memcpy(&ev, buffer + at, sizeof ev);
            note_event(ev);
            at += sizeof ev + ev.len;
        }
    }
}

// True when the watch proves that the file still holds what the store itself wrote last.
bool unchanged_since_own_write(CachedFile& cf) {
    if (cf.watch.wd < 0) return false;
    drain_events();
    return cf.watch.wd >= 0 && cf.watch.renamed && !cf.watch.changed;
}

// Watches the temporary file that is about to replace the file of cache entry `key`.
void watch_replacement(CachedFile& cf, const std::string& key, const std::string& temp_path) {
    forget_watch(cf.watch);
    const int fd = notifier_fd();
    if (fd < 0) return;
    const int wd = sys::calls().inotify_add_watch(fd, temp_path.c_str(), kWatchMask);
    if (wd < 0) return;
    cf.watch.wd = wd;
    g_notifier.files[wd] = key;
}

// Drops a cache entry and its watch.
void drop_cached(std::unordered_map<std::string, CachedFile>::iterator it) {
    forget_watch(it->second.watch);
    g_cache.erase(it);
}

void drop_cached(const std::string& key) {
    const auto it = g_cache.find(key);
    if (it != g_cache.end()) drop_cached(it);
}

// ---- Validation ----------------------------------------------------------------------------

// No file to read (or none that may be read, for the reason `error`): an empty copy.
void set_missing(CachedFile& cf, FileState state, int error = 0) {
    forget_watch(cf.watch);
    cf.doc = ini::parse("");
    cf.state = state;
    cf.error = error;
    cf.loaded = true;
    cf.trusted = true;
}

// Brings the cached copy of `path` up to date: one stat, and a read only when needed.
void validate(CachedFile& cf, const std::string& path) {
    auto& sys = sys::calls();
    struct stat st {};
    if (sys.stat(path.c_str(), &st) != 0) {
        const int err = errno;
        set_missing(cf, (err == ENOENT || err == ENOTDIR) ? FileState::Missing
                                                            : FileState::Unreadable,
                    err);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        set_missing(cf, FileState::NotAFile, S_ISDIR(st.st_mode) ? EISDIR : ENXIO);
        return;
    }
    // Too large to be read: never read at all (and never cut short).
    if (static_cast<std::uint64_t>(st.st_size) > kMaxFileSize) {
        set_missing(cf, FileState::Unreadable, EFBIG);
        return;
    }
    if (cf.loaded && cf.state == FileState::Present && same_identity(cf.id, identity_of(st)) &&
        (cf.trusted || unchanged_since_own_write(cf))) {
        return;
    }
    forget_watch(cf.watch);  // from here on the copy is the file as read
    // A path swapped for a FIFO or device since the stat is refused here, without waiting.
    const int fd = sys::open_regular(path.c_str(), O_RDONLY);
    if (fd < 0) {
        const int err = errno;
        set_missing(cf,
                    err == ENOENT                     ? FileState::Missing
                    : (err == ENXIO || err == EISDIR) ? FileState::NotAFile
                                                      : FileState::Unreadable,
                    err);
        return;
    }
    // The stamps are taken before the read: an edit during the read changes them afterwards,
    // and the next call reads again. A file that grows past the limit meanwhile is too large.
    struct stat before {}, after {};
    std::string text;
    const bool ok = sys.fstat(fd, &before) == 0 && sys::read_whole(fd, text, kMaxFileSize) &&
                    sys.fstat(fd, &after) == 0;
    const int err = errno;
    sys.close(fd);
    if (!ok) {
        text = std::string();  // its memory goes at once
        set_missing(cf, FileState::Unreadable, err);
        return;
    }
    if (!(cf.loaded && cf.state == FileState::Present && ini::same_text(cf.doc, text))) {
        cf.doc = ini::parse(std::move(text));
    }
    cf.state = FileState::Present;
    cf.loaded = true;
    cf.st = before;
    cf.id = identity_of(before);
    cf.trusted = same_identity(cf.id, identity_of(after)) && !recently_changed(before);
}

// ---- Scopes --------------------------------------------------------------------------------

struct Slot {
    std::string located;    // the path as the profile functions resolve it (cache key)
    std::string target;     // symbolic links resolved: the file that is replaced
    int lock_fd = -1;
    bool locked = false;    // this scope holds the file's lock (here or through another slot)
    int temp_fd = -1;
    std::string temp_path;
    bool dirty = false;     // changes applied to the cached copy, not yet on disk
};

struct ScopeState {
    Access access = Access::Read;
    std::vector<Slot> slots;
    // The path its reads asked for last and where it lies: a record is read key by key, each
    // key a read of the same path.
    std::string last_path;
    std::string last_located;
};

std::mutex g_call_mutex;
thread_local ScopeState* t_scope = nullptr;
thread_local int t_depth = 0;

// The Windows directory, with the prefix and any missing folder above it. False (errno set)
// when it is not there afterwards.
bool make_windows_directory() { return sys::make_directories(windows_directory()); }

void drop_old_entries(const ScopeState& scope) {
    while (g_cache.size() >= kMaxCachedFiles) {
        auto oldest = g_cache.end();
        for (auto it = g_cache.begin(); it != g_cache.end(); ++it) {
            bool in_use = false;
            for (const Slot& s : scope.slots) in_use = in_use || s.located == it->first;
            if (!in_use && (oldest == g_cache.end() || it->second.used < oldest->second.used)) {
                oldest = it;
            }
        }
        if (oldest == g_cache.end()) return;
        drop_cached(oldest);
    }
}

void release(Slot& slot) {
    if (slot.temp_fd >= 0) sys::discard_temp(slot.temp_fd, slot.temp_path);
    slot.temp_fd = -1;
    if (slot.lock_fd >= 0) sys::calls().close(slot.lock_fd);
    slot.lock_fd = -1;
}

// The scope's slot for a file, set up at its first use: in a write scope the file's lock is
// taken first, then the cached copy is validated (once per scope). `cached` receives the
// file's cache entry.
Slot& use_file(ScopeState& scope, const std::string& located, bool bare_name,
               CachedFile*& cached) {
    for (Slot& s : scope.slots) {
        if (s.located != located) continue;
        // Dropped meanwhile (by a write that failed, or by a one-operation scope inside this
        // one that needed room): validated again, under the lock this scope still holds.
        auto it = g_cache.find(located);
        if (it == g_cache.end()) {
            it = g_cache.try_emplace(located).first;
            try {
                validate(it->second, located);
            } catch (...) {
                drop_cached(located);  // possibly read half-way
                throw;
            }
        }
        cached = &it->second;
        return s;
    }
    if (g_cache.find(located) == g_cache.end()) drop_old_entries(scope);
    // The slot joins the scope before its lock is taken, so that the end of the scope releases
    // the lock also when what follows fails (no memory).
    scope.slots.emplace_back();
    Slot& slot = scope.slots.back();
    slot.located = located;
    try {
        if (scope.access == Access::DryRun) {
            slot.target = sys::resolve_links(located);
            slot.locked = true;  // stands for the lock: the changes never reach the file
        } else if (scope.access == Access::Write) {
            slot.target = sys::resolve_links(located);
            if (bare_name && !make_windows_directory()) {
                sys::note_failure(WriteFailure::Step::Folder, windows_directory(), errno);
            }
            // The same file reached through another path of this scope is locked already (a
            // second flock of this process on it would wait for ever).
            for (const Slot& s : scope.slots) {
                slot.locked = slot.locked || (s.lock_fd >= 0 && s.target == slot.target);
            }
            // Without a lock file (its directory is missing or read-only) no replacement can
            // be made there either, so every changing write fails; reads go on.
            if (!slot.locked) slot.lock_fd = sys::lock_exclusive(slot.target);
            slot.locked = slot.locked || slot.lock_fd >= 0;
        }
        CachedFile& cf = g_cache[located];
        cf.used = ++g_use_counter;
        validate(cf, located);
        cached = &cf;
    } catch (...) {
        drop_cached(located);  // possibly read half-way
        release(slot);
        scope.slots.pop_back();
        throw;
    }
    return slot;
}

// Drops the scope's unwritten changes.
void abandon(ScopeState& scope) {
    for (Slot& slot : scope.slots) {
        if (slot.dirty) drop_cached(slot.located);
        release(slot);
    }
    scope.slots.clear();
}

// Small pieces of a document (edited sections) are gathered up to this size before they are
// written; a larger piece (a run of untouched sections) is written straight from the copy as
// read, so a large file is never copied whole for its replacement.
constexpr std::size_t kWriteChunk = std::size_t{1} << 16;

// Writes the document's text to fd. False (errno set) on a write error.
bool write_document(int fd, const ini::Document& doc) {
    std::string chunk;
    bool ok = true;
    ini::for_each_piece(doc, [&](std::string_view piece) {
        if (!ok) return;
        if (chunk.size() + piece.size() > kWriteChunk && !chunk.empty()) {
            ok = sys::write_whole(fd, chunk);
            chunk.clear();
        }
        if (piece.size() >= kWriteChunk) {
            ok = ok && sys::write_whole(fd, piece);
        } else {
            if (chunk.capacity() < kWriteChunk) chunk.reserve(kWriteChunk);
            chunk += piece;
        }
    });
    return ok && sys::write_whole(fd, chunk);
}

// Writes the cached document into the slot's temporary file, watches it, and renames it over
// the target; the temporary file is gone afterwards either way.
bool replace_with(Slot& slot, CachedFile& cf) {
    const int fd = slot.temp_fd;
    slot.temp_fd = -1;
    if (!write_document(fd, cf.doc)) {
        const int err = errno;
        sys::note_failure(WriteFailure::Step::Write, slot.temp_path, err);
        sys::discard_temp(fd, slot.temp_path);
        errno = err;
        return false;
    }
    watch_replacement(cf, slot.located, slot.temp_path);
    const struct stat* old = cf.state == FileState::Present ? &cf.st : nullptr;
    return sys::replace_file(fd, slot.temp_path, slot.target, {}, old);
}

// Writes every changed file of the scope (one replacement each). False when any failed; that
// file keeps its old content and its cached copy is dropped.
bool commit(ScopeState& scope) {
    if (scope.access == Access::DryRun) {
        abandon(scope);
        return true;
    }
    bool ok = true;
    for (Slot& slot : scope.slots) {
        if (!slot.dirty) {
            release(slot);
            continue;
        }
        auto it = g_cache.find(slot.located);
        bool written = false;
        if (it != g_cache.end()) {
            CachedFile& cf = it->second;
            try {
                written = replace_with(slot, cf);
            } catch (...) {
                written = false;
            }
            struct stat st {};
            if (written && sys::calls().stat(slot.located.c_str(), &st) == 0) {
                cf.state = FileState::Present;
                cf.st = st;
                cf.id = identity_of(st);
                // An edit between the rename and this stat is in st already, and a slow flush
                // can age it past the racy window: only the watch, or a read, vouches for the
                // copy.
                cf.trusted = false;
            } else if (written) {
                cf.trusted = false;
                cf.loaded = false;
            }
        }
        if (!written) {
            drop_cached(slot.located);
            ok = false;
        }
        slot.dirty = false;
        release(slot);
    }
    scope.slots.clear();
    return ok;
}

// Runs one profile operation in the active scope, or in a scope of its own.
template <class Op>
auto in_scope(Access access, Op&& op) {
    if (t_depth > 0 && (access == Access::Read || t_scope->access != Access::Read)) {
        return op(*t_scope);
    }
    std::unique_lock<std::mutex> hold(g_call_mutex, std::defer_lock);
    if (t_depth == 0) hold.lock();
    if (access != Access::Read) sys::clear_failure();
    ScopeState own;
    own.access = access;
    struct Cleanup {
        ScopeState& s;
        ~Cleanup() { abandon(s); }
    } cleanup{own};
    auto result = op(own);
    if (!commit(own)) result = {};
    return result;
}

// The cached copy of a file for this scope; null when there is no file name.
const CachedFile* file_for(ScopeState& scope, const char* path) {
    if (path == nullptr || *path == '\0') return nullptr;
    if (scope.last_located.empty() || scope.last_path != path) {
        scope.last_located = locate_file(path);
        scope.last_path = path;
    }
    CachedFile* cf = nullptr;
    use_file(scope, scope.last_located, std::strchr(path, '/') == nullptr, cf);
    return cf;
}

// ---- Reads ---------------------------------------------------------------------------------

// How many bytes of s, in whole characters of the code page, fit in `room` bytes. In a list of
// NUL-terminated names a lead byte before a NUL is a character of its own.
std::size_t fitting(std::string_view s, std::size_t room) {
    if (s.size() <= room) return s.size();
    std::size_t i = 0;
    while (i < s.size()) {
        const bool pair = is_lead_byte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() &&
                          s[i + 1] != '\0';
        const std::size_t n = pair ? 2 : 1;
        if (i + n > room) break;
        i += n;
    }
    return i;
}

// Copies a string: at most size - 1 bytes, then a NUL. size is at least 1.
std::uint32_t copy_string(std::string_view s, char* buffer, std::uint32_t size) {
    const std::size_t n = fitting(s, size - 1);
    std::memmove(buffer, s.data(), n);  // the default may lie in the caller's buffer
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

// Copies a list of NUL-terminated names plus the final NUL. A list that does not fit with
// room to spare is cut: the last name that fits is cut, two NULs close the buffer, and the
// result is size - 2 (fewer when a double-byte character would have been split).
std::uint32_t copy_list(std::string_view list, char* buffer, std::uint32_t size) {
    if (list.size() + 1 < size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        return static_cast<std::uint32_t>(list.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    const std::size_t n = fitting(list, size - 2);
    std::memcpy(buffer, list.data(), n);
    buffer[n] = '\0';
    buffer[n + 1] = '\0';
    return static_cast<std::uint32_t>(n);
}

std::string_view without_trailing_spaces(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

std::uint32_t read_value(const ini::Document& doc, const char* section, const char* key,
                         const char* default_value, char* buffer, std::uint32_t size) {
    const std::optional<ini::Block> block = ini::find_section(doc, section);
    const ini::Line* line = block ? ini::find_entry(*block, key) : nullptr;
    if (line != nullptr && line->has_equals()) {
        return copy_string(ini::unquote(block->entry_value(*line)), buffer, size);
    }
    const std::string_view def = default_value != nullptr ? default_value : "";
    return copy_string(ini::unquote(without_trailing_spaces(def)), buffer, size);
}

std::uint32_t read_key_names(const ini::Document& doc, const char* section,
                             const char* default_value, char* buffer, std::uint32_t size) {
    std::string list;
    if (const std::optional<ini::Block> block = ini::find_section(doc, section)) {
        for (const ini::Line& l : block->entries) {
            const std::string_view name = block->entry_name(l);
            // An empty name would end the list early; the API never writes one.
            if (!l.has_equals() || name.empty() || name.front() == ';') continue;
            list.append(name);
            list.push_back('\0');
        }
    }
    if (list.empty()) {
        const std::string_view def = default_value != nullptr ? default_value : "";
        return copy_string(ini::unquote(def), buffer, size);
    }
    return copy_list(list, buffer, size);
}

std::uint32_t read_section_names(const ini::Document& doc, char* buffer, std::uint32_t size) {
    std::string list;
    for (std::uint32_t s = 0; s < doc.sections.size(); ++s) {
        const ini::Section& sec = doc.sections[s];
        if (sec.dead || !sec.has_header || sec.name_size == 0) continue;
        list.append(doc.name_of(s));
        list.push_back('\0');
    }
    if (list.empty()) {
        buffer[0] = '\0';
        return 0;
    }
    return copy_list(list, buffer, size);
}

std::uint32_t read_string(const ini::Document& doc, const char* section, const char* key,
                          const char* default_value, char* buffer, std::uint32_t size) {
    if (section == nullptr) return read_section_names(doc, buffer, size);
    if (key == nullptr) return read_key_names(doc, section, default_value, buffer, size);
    return read_value(doc, section, key, default_value, buffer, size);
}

// The number in a value: optional sign, an optional lower-case 0x / 0o / 0b prefix (else
// decimal, a leading 0 included), digits up to the first other character, modulo 2^32.
std::uint32_t to_number(const char* s) {
    while (ini::is_space(static_cast<unsigned char>(*s))) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    std::uint32_t base = 10;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'o' || s[1] == 'b')) {
        base = s[1] == 'x' ? 16 : s[1] == 'o' ? 8 : 2;
        s += 2;
    }
    std::uint32_t value = 0;
    for (;; ++s) {
        std::uint32_t digit;
        const char c = *s;
        if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else break;
        if (digit >= base) break;
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

const ini::Document& empty_document() {
    static const ini::Document doc = ini::parse("");
    return doc;
}

}  // namespace

// ---- Profile operations --------------------------------------------------------------------

std::uint32_t profile_get_string(const char* section, const char* key, const char* default_value,
                                 char* buffer, std::uint32_t size, const char* path) {
    if (size == 0 || buffer == nullptr) return 0;
    return in_scope(Access::Read, [&](ScopeState& scope) {
        const CachedFile* cf = file_for(scope, path);
        const ini::Document& doc = cf != nullptr ? cf->doc : empty_document();
        return read_string(doc, section, key, default_value, buffer, size);
    });
}

std::uint32_t profile_get_int(const char* section, const char* key, std::int32_t default_value,
                              const char* path) {
    char text[kIntBufferSize];
    profile_get_string(section, key, "", text, sizeof text, path);
    if (text[0] == '\0') return static_cast<std::uint32_t>(default_value);
    return to_number(text);
}

namespace {
thread_local WriteRecorder* t_recorder = nullptr;
}  // namespace

WriteRecorder::WriteRecorder() : outer_(t_recorder) { t_recorder = this; }
WriteRecorder::~WriteRecorder() { t_recorder = outer_; }

bool profile_write_string(const char* section, const char* key, const char* value,
                          const char* path) {
    if (section == nullptr || path == nullptr || *path == '\0') return false;
    if (t_recorder != nullptr) {
        t_recorder->record(RecordedWrite{section, key != nullptr, key ? key : "",
                                         value != nullptr, value ? value : ""});
        return true;
    }
    return in_scope(Access::Write, [&](ScopeState& scope) {
        const std::string located = locate_file(path);
        CachedFile* cached = nullptr;
        Slot& slot = use_file(scope, located, std::strchr(path, '/') == nullptr, cached);
        CachedFile& cf = *cached;
        if (cf.state == FileState::Unreadable || cf.state == FileState::NotAFile) {
            sys::note_failure(WriteFailure::Step::Read, located, cf.error);
            return false;
        }
        ini::Edit edit = ini::plan(cf.doc, ini::Write{section, key, value});
        if (edit.kind == ini::Edit::Kind::None) return true;
        // First change: make sure that the replacement can be made.
        if (slot.temp_fd < 0 && scope.access == Access::Write) {
            auto& sys = sys::calls();
            // No lock file could be made beside the file (noted): neither can the replacement.
            if (!slot.locked) return false;
            if (cf.state == FileState::Present && sys.access(slot.target.c_str(), W_OK) != 0) {
                sys::note_failure(WriteFailure::Step::Temporary, slot.target, errno);
                return false;
            }
            const mode_t mode = cf.state == FileState::Present ? 0600 : 0666;
            slot.temp_fd = sys::create_temp(slot.target, mode, slot.temp_path);
            if (slot.temp_fd < 0) return false;
        }
        // Marked first: an edit that fails half-way (no memory) leaves a copy that the end of
        // the scope must drop, not one that the next write would carry to the disk.
        slot.dirty = true;
        ini::apply(cf.doc, std::move(edit));
        return true;
    });
}

bool profile_text(const char* path, std::string& text) {
    if (path == nullptr || *path == '\0') return false;
    return in_scope(Access::Read, [&](ScopeState& scope) {
        const std::string located = locate_file(path);
        CachedFile* cached = nullptr;
        const Slot& slot = use_file(scope, located, std::strchr(path, '/') == nullptr, cached);
        const CachedFile& cf = *cached;
        if (cf.state != FileState::Present && !slot.dirty) return false;
        text = ini::serialise(cf.doc);
        return true;
    });
}

bool profile_sections(const char* path, const SectionVisit& visit) {
    return in_scope(Access::Read, [&](ScopeState& scope) {
        const CachedFile* cf = file_for(scope, path);
        if (cf == nullptr) return false;
        const ini::Document& doc = cf->doc;
        std::vector<std::string_view> keys;
        for (std::uint32_t s = 0; s < doc.sections.size(); ++s) {
            const ini::Section& sec = doc.sections[s];
            if (sec.dead || !sec.has_header || sec.name_size == 0) continue;
            const std::string_view name = doc.name_of(s);
            const std::optional<ini::Block> block = ini::find_section(doc, name);
            if (!block || block->number != s) continue;  // reads find an earlier one
            keys.clear();
            for (const ini::Line& l : block->entries) {
                const std::string_view key = block->entry_name(l);
                if (l.has_equals() && !key.empty() && key.front() != ';') keys.push_back(key);
            }
            visit(name, keys);
        }
        return true;
    });
}

bool profile_section(const char* path, const char* name, std::string& spelled,
                     std::vector<std::string>& keys) {
    keys.clear();
    return in_scope(Access::Read, [&](ScopeState& scope) {
        const CachedFile* cf = file_for(scope, path);
        if (cf == nullptr || name == nullptr) return false;
        const std::optional<ini::Block> block = ini::find_section(cf->doc, name);
        if (!block || !block->has_header || block->name.empty()) return false;
        spelled.assign(block->name);
        for (const ini::Line& l : block->entries) {
            const std::string_view key = block->entry_name(l);
            if (l.has_equals() && !key.empty() && key.front() != ';') keys.emplace_back(key);
        }
        return true;
    });
}

// ---- Call guard ----------------------------------------------------------------------------

CallScope::CallScope(Access access) {
    if (t_depth > 0) {  // a nested scope joins the outer one
        ++t_depth;
        return;
    }
    g_call_mutex.lock();
    t_depth = 1;
    if (access != Access::Read) sys::clear_failure();
    static thread_local ScopeState state;
    state.access = access;
    state.slots.clear();
    state.last_path.clear();
    state.last_located.clear();
    t_scope = &state;
}

CallScope::~CallScope() {
    if (--t_depth > 0) return;
    if (!finished_) abandon(*t_scope);
    t_scope = nullptr;
    g_call_mutex.unlock();
}

bool CallScope::finish() {
    if (finished_) return true;
    finished_ = true;
    if (t_depth > 1) return true;
    return commit(*t_scope);
}

}  // namespace qdl::platform
