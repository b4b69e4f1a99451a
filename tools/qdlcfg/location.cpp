// location.cpp - the prefix, the registry file and the configuration path (see location.hpp).
//
//   machine_prefix    prefix and where it came from
//   registry_lookup   one value of registry.ini (key paths and names match ignoring ASCII case)
//   locate            the whole answer of `qdlcfg where`
//   is_lead_byte      the double-byte code pages' lead bytes
#include "location.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string_view>

namespace qdlcfg {

namespace {

constexpr std::string_view kConfigKey = "SOFTWARE\\Brenvik\\Fieldloom\\Configuration";
constexpr std::string_view kConfigValue = "kbRTTskCfgIni";
constexpr std::string_view kCodePageKey = "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage";
constexpr std::string_view kDefaultName = "tsk_cfg.ini";
constexpr std::size_t kPathCapacity = 260;  // the library's path copies, NUL included

bool same_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view trim(std::string_view s) {
    constexpr std::string_view ws = " \t\r\n\v\f";
    const auto first = s.find_first_not_of(ws);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(ws) - first + 1);
}

void machine_prefix(Location& loc) {
    if (const char* p = std::getenv("TSKQDL32_PREFIX"); p != nullptr && *p != '\0') {
        loc.prefix = p;
        loc.prefix_source = "TSKQDL32_PREFIX";
        return;
    }
    const char* home = std::getenv("HOME");
    loc.prefix_source = "HOME";
    if (home == nullptr || *home == '\0') {
        const passwd* pw = getpwuid(getuid());
        home = pw != nullptr ? pw->pw_dir : "";
        loc.prefix_source = "password database";
    }
    loc.prefix = std::string(home) + "/.tskqdl32";
}

// The first value `name` under [HKEY_LOCAL_MACHINE\<key>], as the library reads it.
std::optional<std::string> registry_lookup(const std::string& file, std::string_view key,
                                           std::string_view name) {
    std::ifstream in(file, std::ios::binary);
    const std::string full_key = "HKEY_LOCAL_MACHINE\\" + std::string(key);
    std::string line;
    bool in_key = false;
    while (in && std::getline(in, line)) {
        const std::string_view text = trim(line);
        if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
            in_key = same_ignoring_ascii_case(trim(text.substr(1, text.size() - 2)), full_key);
            continue;
        }
        const auto eq = text.find('=');
        if (!in_key || eq == std::string_view::npos) continue;
        if (same_ignoring_ascii_case(trim(text.substr(0, eq)), name)) {
            return std::string(trim(text.substr(eq + 1)));
        }
    }
    return std::nullopt;
}

void configured_path(Location& loc) {
    const auto value = registry_lookup(loc.registry_file, kConfigKey, kConfigValue);
    loc.configured = kDefaultName;
    if (!value) {
        loc.registry_note = "no registry value";
    } else if (value->empty()) {
        loc.registry_note = "the registry value is empty";
    } else if (value->size() + 1 > kPathCapacity) {
        loc.registry_note = "the registry value is longer than 259 bytes";
    } else {
        loc.configured = *value;
        loc.registered = true;
    }
    loc.file = loc.configured.find('/') == std::string::npos
                   ? loc.windows_dir + "/" + loc.configured
                   : loc.configured;
}

unsigned registry_code_page(const std::string& file) {
    const auto value = registry_lookup(file, kCodePageKey, "ACP");
    if (!value) return 1252;
    const unsigned long cp = std::strtoul(value->c_str(), nullptr, 10);
    return cp == 932 || cp == 936 || cp == 949 || cp == 950 ? static_cast<unsigned>(cp) : 1252;
}

}  // namespace

Location locate() {
    Location loc;
    machine_prefix(loc);
    loc.registry_file = loc.prefix + "/registry.ini";
    loc.windows_dir = loc.prefix + "/windows";
    configured_path(loc);
    loc.code_page = registry_code_page(loc.registry_file);
    return loc;
}

bool is_lead_byte(unsigned code_page, unsigned char c) {
    switch (code_page) {
    case 932: return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:
    case 949:
    case 950: return c >= 0x81 && c <= 0xFE;
    default: return false;
    }
}

}  // namespace qdlcfg
