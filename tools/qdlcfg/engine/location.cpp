// location.cpp - `qdlcfg where` from the library's own answers (see location.hpp).
#include "engine/location.hpp"

#include <algorithm>
#include <cerrno>

#include "engine/fields.hpp"
#include "frame/edition.h"
#include "frame/frame.h"
#include "platform/platform.h"
#include "console/status.hpp"

namespace qdlcfg {

namespace {

namespace platform = qdl::platform;

const char* source_name(platform::PrefixSource source) {
    switch (source) {
    case platform::PrefixSource::Environment: return "TSKQDL32_PREFIX";
    case platform::PrefixSource::Home: return "HOME";
    case platform::PrefixSource::PasswordDatabase: return "password database";
    }
    return "";
}

const char* note(qdl::PathOrigin origin) {
    switch (origin) {
    case qdl::PathOrigin::Registry: return "";
    case qdl::PathOrigin::NoValue: return "no registry value";
    case qdl::PathOrigin::EmptyValue: return "the registry value is empty";
    case qdl::PathOrigin::TooLong: return "the registry value is longer than 259 bytes";
    }
    return "";
}

bool g_given = false;

}  // namespace

void use_config_file(const std::string& path) {
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    if (path.empty() || file.size() >= qdl::kPathSize || file.find('\0') != std::string::npos) {
        fail_usage("--file: a path of 1 to " + std::to_string(qdl::kPathSize - 3) + " bytes");
    }
    for (auto& copy : qdl::path_copies()) {
        std::copy(file.begin(), file.end(), copy.begin());
        copy[file.size()] = '\0';
    }
    g_given = true;
}

void use_legacy_library() {
    qdl::kEdition = qdl::kLegacyEdition;  // its records, kinds, limits and version
    // The legacy library's own file, or --file's: the path copies are read, no registry value.
    qdl::kEdition.registry_path = true;
    if (!g_given) set_configured_path(qdl::kDefaultConfigName);
}

std::string legacy_file() { return platform::locate_file(qdl::kDefaultConfigName); }

std::string configured_path() { return qdl::config_path(qdl::PathBuffer::Shared); }

void set_configured_path(const std::string& path) {
    for (auto& copy : qdl::path_copies()) {
        const std::size_t n = std::min(path.size(), copy.size() - 1);
        std::copy(path.begin(), path.begin() + static_cast<long>(n), copy.begin());
        copy[n] = '\0';
    }
}

Location locate() {
    Location loc;
    const platform::Prefix prefix = platform::find_prefix();
    loc.prefix = prefix.path;
    loc.prefix_source = source_name(prefix.source);
    loc.registry_file = platform::registry_file();
    loc.windows_dir = platform::windows_directory();
    char path[qdl::kPathSize];
    if (g_given) {
        loc.given = true;
        loc.registry_note = "--file";
        loc.configured = qdl::path_copies()[0].data();
    } else if (legacy_rules()) {
        loc.registry_note = "the legacy library reads no registry value";
        loc.configured = qdl::kDefaultConfigName;
    } else {
        const qdl::PathOrigin origin = qdl::resolve_config_path(path, sizeof path);
        loc.registered = origin == qdl::PathOrigin::Registry;
        loc.registry_note = note(origin);
        loc.configured = path;
    }
    loc.file = platform::locate_file(loc.configured.c_str());
    loc.code_page = platform::active_code_page();
    return loc;
}

bool read_config_file(const std::string& file, std::string& text) {
    platform::FileReader reader;
    if (!reader.open(file.c_str())) return false;
    text.clear();
    char chunk[16384];
    while (const std::size_t n = reader.read(chunk, sizeof chunk)) text.append(chunk, n);
    return true;
}

FileState config_file_state(const std::string& file) {
    if (platform::path_kind(file) == platform::PathKind::Missing) return FileState::Missing;
    platform::FileReader reader;
    return reader.open(file.c_str()) ? FileState::Readable : FileState::Unopenable;
}

}  // namespace qdlcfg
