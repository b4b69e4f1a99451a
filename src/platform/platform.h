// platform.h - the one door between the library core and the operating system.
//
// On Windows every function here is a thin call of the real Win32 function named beside it.
// On Linux the project's own stand-ins provide the same behaviour (src/platform/posix/):
// a machine prefix holds registry.ini and the Windows directory, and the profile store edits
// INI files in place, atomically and under an inter-process lock.
//
// Map:
//   profile_*            GetPrivateProfileStringA / GetPrivateProfileIntA /
//                        WritePrivateProfileStringA
//   registry_query       RegOpenKeyExA + RegQueryValueExA + RegCloseKey (HKEY_LOCAL_MACHINE)
//   windows_directory    GetWindowsDirectoryA
//   locate_file          where the profile functions keep a configuration path
//   FileReader           a located file read as bytes (the listing): CreateFileA + ReadFile,
//                        or open + read; regular files only
//   is_lead_byte         _ismbblead of the active ANSI code page
//   CallScope            the call guard: one exported call at a time per process, and on
//                        Linux the batching of that call's writes into one atomic replacement
//   profile_text         Linux only: the file's bytes as the active call would write them
//   WriteRecorder        Linux only: the writes of a call noted instead of carried out
//   last_write_failure   Linux only: what made the last failed write of a call fail (step,
//                        path, errno), so that the tool can say more than QDL_ERR_FILE
//   kMaxFileSize         the largest configuration or registry file read (256 MiB)
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qdl::platform {

// ---- Profile operations (Win32 semantics) -----------------------------------------------

// GetPrivateProfileStringA. With key null: the names of the section's keys, each NUL-terminated,
// plus a final NUL (or the default when there are none). With section null: the section names.
// Returns the number of bytes copied, without the final NUL.
std::uint32_t profile_get_string(const char* section, const char* key, const char* default_value,
                                 char* buffer, std::uint32_t size, const char* path);

// GetPrivateProfileIntA: the value as a number (modulo 2^32), the default when it is absent
// or empty.
std::uint32_t profile_get_int(const char* section, const char* key, std::int32_t default_value,
                              const char* path);

// WritePrivateProfileStringA. value null deletes the key; key null deletes the section.
// Returns false when the write cannot be carried out.
bool profile_write_string(const char* section, const char* key, const char* value,
                          const char* path);

// ---- Registry, directories, code page ----------------------------------------------------

enum class RegistryRead {
    Read,     // the value, NUL-terminated, is in the buffer
    Missing,  // the key does not open, or has no such value
    TooLong,  // the value does not fit the buffer with its NUL
};

// Reads value `value_name` of HKEY_LOCAL_MACHINE\key_path into buffer. Read when the key opens
// and the value (with a NUL) fits in `size` bytes; buffer is then NUL-terminated. Otherwise the
// buffer may have been written.
RegistryRead registry_query(const char* key_path, const char* value_name, char* buffer,
                            std::size_t size);

// The Windows directory, without a trailing separator. Empty when it cannot be obtained.
std::string windows_directory();

// The file that the profile functions use for `path`: a bare name (no directory part) lies in
// the Windows directory, anything else is used as it is.
std::string locate_file(const char* path);

// The largest file read: 256 MiB (as for qdlcfg's documents). A bigger file is never read into
// memory: the Linux profile store takes a configuration file of that size as one that cannot be
// read (reads give the default, a write fails with nothing written), the Linux registry file
// reads as missing, and the listing (FileReader, both platforms) fails as for a file that cannot
// be opened. On Windows the profile functions themselves are the system's.
inline constexpr std::uint64_t kMaxFileSize = std::uint64_t{256} << 20;

// A file opened for reading as bytes, for the listing, which reads the file itself rather than
// through the profile functions. Only a regular file (or a link to one) opens: a FIFO, socket,
// device or directory fails at once, like a missing file, and nothing waits for a writer. Nor
// does a file larger than kMaxFileSize; one that grows past it while it is read ends there, and
// too_large() says so.
class FileReader {
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Opens a located file (no path rule is applied). False when it cannot be opened, is not
    // a regular file or is larger than kMaxFileSize.
    bool open(const char* file);
    // Reads up to `size` bytes into buffer. The bytes read; 0 at the end of the file, on a read
    // error and once kMaxFileSize bytes have been read.
    std::size_t read(char* buffer, std::size_t size);
    // True when the file turned out larger than kMaxFileSize while it was read.
    bool too_large() const { return too_large_; }
    // Closes the file (also done by the destructor). Safe when nothing is open.
    void close();

private:
    std::intptr_t handle_ = -1;  // a descriptor, or a HANDLE on Windows; -1 when closed
    std::uint64_t read_ = 0;     // bytes read so far
    bool too_large_ = false;
};

// True when byte c is the lead byte of a double-byte character in the active ANSI code page.
bool is_lead_byte(unsigned char c);

// ---- Call guard ---------------------------------------------------------------------------

enum class Access {
    Read,
    Write,
#if !defined(_WIN32)
    DryRun,  // as Write, but no lock is taken, no folder made and nothing is ever written: the
             // changes stay in the store's copy for the scope's reads and are dropped at its end
#endif
};

// One per exported call, for the whole call. Serialises the calls of a process. On Linux, a
// Write scope also holds the inter-process lock of each configuration file from its first use,
// collects the call's writes and replaces the file once in finish().
class CallScope {
public:
    explicit CallScope(Access access);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    // Writes what the call changed. False when that failed (the file then keeps its previous
    // content): the call reports QDL_ERR_FILE. Called once, before the scope ends.
    bool finish();

private:
    bool finished_ = false;
};

#if !defined(_WIN32)
// ---- Linux store only ---------------------------------------------------------------------

// The bytes of the file that the profile functions use for `path`, as the active call sees it:
// the store's copy with the call's unwritten changes, read (in a write call) under the file's
// lock. False when there is no such file (missing, unreadable or not a regular file) and the
// call has not written to it. The tool's batch lists these bytes instead of the file.
bool profile_text(const char* path, std::string& text);

// Every section that a read of its name finds, in file order (a repeated name only the first
// time), with the names its key listing gives (lines with '=' whose name is not empty and does
// not begin with ';'), as the active call sees the file. The views last for the visit only.
// One pass, where a read of the section names and one of each section's keys would scan the
// sections again and again (a missing file has none). False only for an empty path.
using SectionVisit =
    std::function<void(std::string_view name, const std::vector<std::string_view>& keys)>;
bool profile_sections(const char* path, const SectionVisit& visit);
// The same for the one section that a read of `name` finds: its name as the file spells it and
// its key names. False when there is none (or no file).
bool profile_section(const char* path, const char* name, std::string& spelled,
                     std::vector<std::string>& keys);

// One profile write as it was asked for: no key deletes the section, no value deletes the key.
struct RecordedWrite {
    std::string section;
    bool has_key = false;
    std::string key;
    bool has_value = false;
    std::string value;
};

// While one is alive on a thread, every profile_write_string of that thread is noted here and
// reported as done, and nothing is changed (no file, no copy, no lock); reads go on as usual.
// The tool learns from it which keys and values an add would write, and edits only the lines
// that differ. The operations it watches must not read what they wrote (an add does not).
class WriteRecorder {
public:
    WriteRecorder();
    ~WriteRecorder();
    WriteRecorder(const WriteRecorder&) = delete;
    WriteRecorder& operator=(const WriteRecorder&) = delete;

    const std::vector<RecordedWrite>& writes() const { return writes_; }
    void record(RecordedWrite write) { writes_.push_back(std::move(write)); }

private:
    std::vector<RecordedWrite> writes_;
    WriteRecorder* outer_;
};

// Keeps a copy of a located configuration file as "<file>.<UTC time>.bak" beside it (a name
// no file has; "-2", "-3" ... before ".bak" when one does), written whole before it gets its
// name, with the file's mode. NoFile when there is no file to keep; Failed with errno set.
enum class BackupResult { Made, NoFile, Failed };
BackupResult backup_file(const std::string& file, std::string& backup_path);

// How long this process's writers wait for a lock that another process holds (30 s unless
// set; 0: not at all), and who is told, after a second of waiting, which lock file and which
// process (0: unknown) hold it up.
void set_lock_wait(std::int64_t limit_ms, void (*notice)(const char* lock_path, long holder));

// Whether every local user may read the located file (its "other" read bit).
bool world_readable(const std::string& file);
// Why the last write of this thread's latest write call (or batch) failed: what could not be
// done, the file it concerned and the system's error number. The first failure of the call
// counts (the later ones follow from it); a write call that starts clears it. step None: no
// write of that call failed. A lock held too long by another process is step LockWait with the
// lock file's path and EWOULDBLOCK: qdlcfg says "another process holds the lock on <path>".
struct WriteFailure {
    enum class Step {
        None,
        Folder,     // the Windows directory (or the prefix above it) could not be made
        LockFile,   // the lock file could not be opened for writing or created
        LockWait,   // another process held the lock for the whole wait limit
        Read,       // the file could not be read: no permission, not a regular file, too large
                    // (EFBIG), or a read error
        Temporary,  // the temporary file beside it could not be made (or the file is not
                    // writable: EACCES)
        Write,      // writing or flushing the temporary file (ENOSPC, EIO, ...)
        Replace,    // renaming it over the file
    };
    Step step = Step::None;
    std::string path;
    int error = 0;
};
WriteFailure last_write_failure();

// ---- The machine, as qdlcfg reports it (`qdlcfg where`) --------------------------------

// Where the prefix came from.
enum class PrefixSource {
    Environment,       // $TSKQDL32_PREFIX, set and not empty
    Home,              // $HOME/.tskqdl32
    PasswordDatabase,  // the user's home directory from the password database (HOME unset)
};

struct Prefix {
    std::string path;
    PrefixSource source;
};

// The directory that holds registry.ini and the Windows directory, and where that came from.
Prefix find_prefix();
std::string machine_prefix();

// <prefix>/registry.ini.
std::string registry_file();

// The active ANSI code page: the registry's ACP when it is 932, 936, 949 or 950, else 1252.
// Read from the registry file at the first call of the process, then kept.
unsigned active_code_page();

// --prefix: the machine prefix for the rest of the process, as TSKQDL32_PREFIX gives it.
void use_prefix(const std::string& directory);

// ---- qdlcfg's console and files -------------------------------------------------------------

enum class Stream { In, Out, Err };

// Writes all of `text`: 0, or the system's error number (EPIPE: the reader went away).
int write_stream(Stream stream, std::string_view text);
bool is_terminal(Stream stream);

// Reads a file (standard input for a null path) to its end into `text`, refusing at once what
// is larger than `limit` bytes and, with `regular_only`, what is not a regular file (a FIFO is
// never waited on). "" once read; otherwise why not, and `opened` tells whether it opened.
std::string read_input(const char* path, std::size_t limit, bool regular_only, std::string& text,
                       bool& opened);

// While one is alive, what is typed on standard input does not echo (when it is a terminal).
class QuietInput {
public:
    QuietInput();
    ~QuietInput();
    QuietInput(const QuietInput&) = delete;
    QuietInput& operator=(const QuietInput&) = delete;
    bool active() const { return active_; }

private:
    bool active_ = false;
    alignas(8) unsigned char saved_[64] = {};  // the terminal's settings before
};

// What a path names: nothing (no such file), a regular file, something else, or nothing that
// can be told (a folder on the way cannot be searched, or is not a folder).
enum class PathKind { Missing, Regular, Other, Unknown };
PathKind path_kind(const std::string& path);
#endif

}  // namespace qdl::platform
