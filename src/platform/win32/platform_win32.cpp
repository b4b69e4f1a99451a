// platform_win32.cpp - the platform layer on Windows: thin calls of the real Win32 and C runtime
// functions, so the library behaves exactly as the system's own services do.
//
//   profile_*                 GetPrivateProfileStringA / GetPrivateProfileIntA /
//                             WritePrivateProfileStringA (they open and close the file per call
//                             and look a bare file name up in the Windows directory themselves);
//                             a value cut to the buffer ends on a whole character
//   registry_query            RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY_READ) + RegQueryValueExA +
//                             RegCloseKey; the value must end NUL-terminated within the buffer
//   windows_directory         GetWindowsDirectoryA, any length
//   locate_file               bare name -> <Windows directory>\name, anything else unchanged
//   FileReader                CreateFileA (shared for reading and writing, as fopen opens) +
//                             GetFileType: disk files only, never a pipe, console or device;
//                             GetFileSizeEx: none larger than kMaxFileSize; ReadFile,
//                             CloseHandle
//   is_lead_byte              _ismbblead of the C runtime's multibyte code page
//   CallScope                 one exported call at a time per process (an SRW lock); the real
//                             profile functions write at once, so finish() has nothing to do
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/platform.h"

// After the C++ headers: <mbctype.h> defines macros (_S1, _S2, ...) that clash with names in
// the standard library's templates.
#include <windows.h>

#include <mbctype.h>

namespace qdl::platform {

namespace {

DWORD to_dword(std::size_t size) {
    return size > static_cast<std::size_t>(MAXDWORD) ? MAXDWORD : static_cast<DWORD>(size);
}

// The registry hands back the value's bytes as stored: a string normally carries its NUL, but
// a value of another type (or a string stored without one) may not. Terminates the bytes inside
// the buffer, or reports that they do not fit.
bool terminate_value(char* buffer, DWORD bytes, DWORD size) {
    if (std::memchr(buffer, '\0', bytes) != nullptr) return true;
    if (bytes >= size) return false;
    buffer[bytes] = '\0';
    return true;
}

// A value read whole or cut by GetPrivateProfileStringA: the function cuts by bytes, in the
// system's ANSI code page, and Wine has been seen to leave the byte before the final NUL
// unwritten when a double-byte character does not fit. So the buffer is zeroed first (an
// unwritten byte then ends the text), and a text that fills the buffer loses a double-byte
// character split by the cut, judged by the code page the library works in. Returns the new
// length.
std::uint32_t cut_at_character(char* buffer, std::uint32_t size) {
    const void* nul = std::memchr(buffer, '\0', size);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : size;
    if (length + 1 < size) return static_cast<std::uint32_t>(length);
    const std::size_t end = size - 1;  // room for the NUL
    std::size_t i = 0;
    while (i < end) {
        const bool lead = is_lead_byte(static_cast<unsigned char>(buffer[i]));
        if (lead && i + 1 == end) break;  // the first byte of a split character
        i += lead ? 2 : 1;
    }
    buffer[i] = '\0';
    return static_cast<std::uint32_t>(i);
}

SRWLOCK g_call_lock = SRWLOCK_INIT;

}  // namespace

// ---- Profile operations -------------------------------------------------------------------

std::uint32_t profile_get_string(const char* section, const char* key, const char* default_value,
                                 char* buffer, std::uint32_t size, const char* path) {
    if (section == nullptr || key == nullptr || size == 0) {  // name lists: as they come
        return GetPrivateProfileStringA(section, key, default_value, buffer, size, path);
    }
    std::memset(buffer, 0, size);
    GetPrivateProfileStringA(section, key, default_value, buffer, size, path);
    return cut_at_character(buffer, size);
}

std::uint32_t profile_get_int(const char* section, const char* key, std::int32_t default_value,
                              const char* path) {
    return GetPrivateProfileIntA(section, key, default_value, path);
}

bool profile_write_string(const char* section, const char* key, const char* value,
                          const char* path) {
    return WritePrivateProfileStringA(section, key, value, path) != FALSE;
}

// ---- Registry, directories, code page ----------------------------------------------------

RegistryRead registry_query(const char* key_path, const char* value_name, char* buffer,
                            std::size_t size) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return RegistryRead::Missing;
    }
    const DWORD capacity = to_dword(size);
    DWORD bytes = capacity;
    const LONG rc = size == 0 ? ERROR_MORE_DATA
                              : RegQueryValueExA(key, value_name, nullptr, nullptr,
                                                 reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && bytes > capacity)) {
        return RegistryRead::TooLong;
    }
    if (rc != ERROR_SUCCESS) return RegistryRead::Missing;
    return terminate_value(buffer, bytes, capacity) ? RegistryRead::Read : RegistryRead::TooLong;
}

std::string windows_directory() {
    std::string dir(MAX_PATH, '\0');
    UINT n = GetWindowsDirectoryA(dir.data(), static_cast<UINT>(dir.size()));
    if (n >= dir.size()) {  // too small: n is the size needed, NUL included
        dir.assign(n, '\0');
        n = GetWindowsDirectoryA(dir.data(), static_cast<UINT>(dir.size()));
        if (n >= dir.size()) n = 0;
    }
    dir.resize(n);
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    return dir;
}

std::string locate_file(const char* path) {
    if (path == nullptr || *path == '\0') return {};
    if (std::strpbrk(path, "\\/") != nullptr) return path;
    return windows_directory() + "\\" + path;
}

// ---- Reader -------------------------------------------------------------------------------

namespace {

HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

FileReader::~FileReader() { close(); }

bool FileReader::open(const char* file) {
    close();
    if (file == nullptr || *file == '\0') return false;
    // A directory does not open without FILE_FLAG_BACKUP_SEMANTICS.
    const HANDLE h = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size) ||
        static_cast<std::uint64_t>(size.QuadPart) > kMaxFileSize) {
        CloseHandle(h);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
}

std::size_t FileReader::read(char* buffer, std::size_t size) {
    if (handle_ == -1 || too_large_) return 0;
    // One byte past the limit is asked for, to tell a file that grew past it.
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, kMaxFileSize + 1 - read_));
    DWORD got = 0;
    if (!ReadFile(as_handle(handle_), buffer, to_dword(size), &got, nullptr)) return 0;
    read_ += got;
    if (read_ > kMaxFileSize) {
        too_large_ = true;
        return 0;
    }
    return got;
}

void FileReader::close() {
    if (handle_ != -1) CloseHandle(as_handle(handle_));
    handle_ = -1;
    read_ = 0;
    too_large_ = false;
}

bool is_lead_byte(unsigned char c) { return _ismbblead(c) != 0; }

// ---- Call guard ---------------------------------------------------------------------------

CallScope::CallScope(Access) { AcquireSRWLockExclusive(&g_call_lock); }

CallScope::~CallScope() { ReleaseSRWLockExclusive(&g_call_lock); }

bool CallScope::finish() {
    finished_ = true;
    return true;
}

}  // namespace qdl::platform
