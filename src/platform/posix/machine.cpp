// machine.cpp - the Linux stand-ins for the "machine" the library runs on: the prefix that holds
// the registry file and the Windows directory, the registry read, and the ANSI code page.
//
//   prefix             $TSKQDL32_PREFIX when set and not empty, else $HOME/.tskqdl32 (the
//                      user's home directory from the password database when HOME is unset)
//   registry           <prefix>/registry.ini: sections are key paths, with or without the
//                      leading "HKEY_LOCAL_MACHINE\", entries are values; both match without
//                      regard to ASCII case and blanks around them; read only, and only when it
//                      is a regular file of at most kMaxFileSize (256 MiB; anything else reads
//                      as a missing registry file)
//   Windows directory  <prefix>/windows; a bare file name (no '/') lives there
//   code page          ACP of HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Nls\CodePage,
//                      read once per process; absent or unknown means 1252 (single-byte)
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/file_io.h"
#include "platform/posix/posix.h"

namespace qdl::platform {

namespace {

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    const char* ws = " \t\r\n\v\f";
    const auto first = s.find_first_not_of(ws);
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(ws);
    return s.substr(first, last - first + 1);
}

// The registry file's text; empty when it is missing, unreadable, not a regular file or larger
// than kMaxFileSize (read no further than that).
std::string registry_text() {
    std::string text;
    const int fd = sys::open_regular(registry_file().c_str(), O_RDONLY);
    if (fd < 0) return text;
    struct stat st {};
    if (sys::calls().fstat(fd, &st) != 0 ||
        static_cast<std::uint64_t>(st.st_size) > kMaxFileSize ||
        !sys::read_whole(fd, text, kMaxFileSize)) {
        text = std::string();
    }
    sys::calls().close(fd);
    return text;
}

// The value `name` of registry key `key_path`, if the registry file has it.
bool registry_lookup(const char* key_path, const char* name, std::string& out) {
    const std::string file = registry_text();
    std::string_view rest = file;
    bool in_key = false;
    while (!rest.empty()) {
        const auto eol = rest.find('\n');
        const std::string_view text = trim(rest.substr(0, eol));
        rest.remove_prefix(eol == std::string_view::npos ? rest.size() : eol + 1);
        if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
            // Sections are full key paths, "HKEY_LOCAL_MACHINE\SOFTWARE\...".
            std::string_view section = trim(text.substr(1, text.size() - 2));
            constexpr std::string_view hive = "HKEY_LOCAL_MACHINE\\";
            if (section.size() >= hive.size() &&
                equal_ignoring_ascii_case(section.substr(0, hive.size()), hive)) {
                section.remove_prefix(hive.size());
            }
            in_key = equal_ignoring_ascii_case(section, key_path);
            continue;
        }
        if (!in_key) continue;
        const auto eq = text.find('=');
        if (eq == std::string_view::npos) continue;
        if (!equal_ignoring_ascii_case(trim(text.substr(0, eq)), name)) continue;
        out.assign(trim(text.substr(eq + 1)));
        return true;
    }
    return false;
}

}  // namespace

std::atomic<unsigned>& code_page_setting() {
    static std::atomic<unsigned> code_page{0};
    return code_page;
}

unsigned active_code_page() {
    std::atomic<unsigned>& setting = code_page_setting();
    unsigned cp = setting.load(std::memory_order_acquire);
    if (cp != 0) return cp;
    std::string value;
    cp = 1252;
    if (registry_lookup("SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", value)) {
        const unsigned long n = std::strtoul(value.c_str(), nullptr, 10);
        if (n == 932 || n == 936 || n == 949 || n == 950) cp = static_cast<unsigned>(n);
    }
    setting.store(cp, std::memory_order_release);
    return cp;
}

Prefix find_prefix() {
    if (const char* p = std::getenv("TSKQDL32_PREFIX"); p != nullptr && *p != '\0') {
        return {p, PrefixSource::Environment};
    }
    const char* home = std::getenv("HOME");
    PrefixSource source = PrefixSource::Home;
    if (home == nullptr || *home == '\0') {
        const passwd* pw = getpwuid(getuid());
        home = pw != nullptr ? pw->pw_dir : nullptr;
        source = PrefixSource::PasswordDatabase;
    }
    return {std::string(home != nullptr ? home : "") + "/.tskqdl32", source};
}

std::string machine_prefix() { return find_prefix().path; }

std::string registry_file() { return machine_prefix() + "/registry.ini"; }

RegistryRead registry_query(const char* key_path, const char* value_name, char* buffer,
                            std::size_t size) {
    std::string value;
    if (!registry_lookup(key_path, value_name, value)) return RegistryRead::Missing;
    if (value.size() + 1 > size) return RegistryRead::TooLong;  // does not fit with its NUL
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return RegistryRead::Read;
}

std::string windows_directory() { return machine_prefix() + "/windows"; }

// Every profile call locates its file, and a record is read and written key by key: the last
// bare name located under the last $TSKQDL32_PREFIX is kept (per thread) and handed out again
// while both are the same.
std::string locate_file(const char* path) {
    if (path == nullptr || *path == '\0') return {};
    if (std::strchr(path, '/') != nullptr) return path;
    struct Last {
        std::string prefix, path, located;
    };
    thread_local Last last;
    const char* env = std::getenv("TSKQDL32_PREFIX");
    const bool from_env = env != nullptr && *env != '\0';
    if (from_env && !last.located.empty() && last.prefix == env && last.path == path) {
        return last.located;
    }
    constexpr std::string_view kWindows = "/windows/";
    std::string located = machine_prefix();
    located.reserve(located.size() + kWindows.size() + std::strlen(path));
    located.append(kWindows).append(path);
    if (from_env) last = Last{env, path, located};
    return located;
}

bool is_lead_byte(unsigned char c) {
    switch (active_code_page()) {
    case 932: return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:
    case 949:
    case 950: return c >= 0x81 && c <= 0xFE;
    default: return false;
    }
}

}  // namespace qdl::platform
