// native_files.h - the platform's own file calls the benchmarks measure the library against
// and prepare their files with: a whole-file read, an in-place write, and the replacement a
// crash-safe store must make (temporary file, flush, rename, directory flush).
//
// Header-only: every function is inline. Windows: CreateFileA and friends; elsewhere POSIX.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#endif

namespace bench_files {

#if defined(_WIN32)

inline bool read_file(const std::string& path, std::string& out) {
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(h, &size) != 0;
    out.resize(ok ? static_cast<std::size_t>(size.QuadPart) : 0);
    DWORD got = 0;
    if (ok && !out.empty()) {
        ok = ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) != 0;
        out.resize(got);
    }
    CloseHandle(h);
    return ok;
}

// Writes the file in place, unflushed (setup only).
inline bool write_file(const std::string& path, std::string_view data) {
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) != 0 &&
                    put == data.size();
    return CloseHandle(h) != 0 && ok;
}

// Temporary file beside the target, written, flushed, renamed over the target (without
// `flush`: written and renamed only).
inline bool replace_file(const std::string& path, std::string_view data, bool flush = true) {
    const std::string temp = path + ".bench-tmp";
    const HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) != 0 &&
              put == data.size() && (!flush || FlushFileBuffers(h) != 0);
    ok = CloseHandle(h) != 0 && ok;
    const DWORD how = MOVEFILE_REPLACE_EXISTING | (flush ? MOVEFILE_WRITE_THROUGH : 0);
    ok = ok && MoveFileExA(temp.c_str(), path.c_str(), how) != 0;
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
}

inline void remove_file(const std::string& path) { DeleteFileA(path.c_str()); }

// Seconds since the file was last written (0 when it cannot be told).
inline double seconds_since_write(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (ticks(now) - ticks(data.ftLastWriteTime)) * 1e-7;
}

inline long long size_of(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

inline long long peak_rss_bytes() {
    PROCESS_MEMORY_COUNTERS pmc{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) return -1;
    return static_cast<long long>(pmc.PeakWorkingSetSize);
}

#else

inline bool read_file(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    out.resize(ok ? static_cast<std::size_t>(st.st_size) : 0);
    std::size_t done = 0;
    while (ok && done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    ::close(fd);
    return ok;
}

inline bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Writes the file in place, unflushed (setup only).
inline bool write_file(const std::string& path, std::string_view data) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = write_all(fd, data);
    return ::close(fd) == 0 && ok;
}

// Temporary file beside the target, written, flushed, renamed over the target, and the
// directory flushed: what a store must do so that neither a crash nor a reader ever sees half
// a file. Without `flush`, only the rename (readers never see half a file; a crash may lose
// the change).
inline bool replace_file(const std::string& path, std::string_view data, bool flush = true) {
    const std::string temp = path + ".bench-tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = write_all(fd, data) && (!flush || ::fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    if (!flush) return true;
    const std::string dir = path.substr(0, path.rfind('/'));
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

inline void remove_file(const std::string& path) { ::unlink(path.c_str()); }

// Seconds since the file was last written (0 when it cannot be told).
inline double seconds_since_write(const std::string& path) {
    struct stat st {};
    timespec now{};
    if (::stat(path.c_str(), &st) != 0 || ::clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;
    return static_cast<double>(now.tv_sec - st.st_mtim.tv_sec) +
           static_cast<double>(now.tv_nsec - st.st_mtim.tv_nsec) * 1e-9;
}

inline long long size_of(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

inline long long peak_rss_bytes() {
    struct rusage ru {};
    if (::getrusage(RUSAGE_SELF, &ru) != 0) return -1;
    return static_cast<long long>(ru.ru_maxrss) * 1024;
}

#endif

}  // namespace bench_files
