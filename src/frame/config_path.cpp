// config_path.cpp - where the configuration file is: the registry value "kbRTTskCfgIni" under
// HKEY_LOCAL_MACHINE\SOFTWARE\Brenvik\Fieldloom\Configuration, else "tsk_cfg.ini".
//
// Four process-wide copies of the path (shared, add, add-extended, list) are each filled on
// first use and kept for the life of the process, so a later change of the registry value is
// seen only by copies that are still empty. The legacy library has no copies: its file is
// always "tsk_cfg.ini" in the Windows directory.
#include <array>
#include <cstring>

#include "frame/frame.h"
#include "platform/platform.h"

namespace qdl {

PathCopies& path_copies() {
    static PathCopies copies{};
    return copies;
}

PathOrigin resolve_config_path(char* buffer, std::size_t size) {
    PathOrigin origin = PathOrigin::NoValue;
    switch (platform::registry_query(kRegistryKey, kRegistryValue, buffer, size)) {
    case platform::RegistryRead::Read:
        // An empty value counts as none: it would leave the copy empty and resolve again on
        // every call, with no file to open.
        if (buffer[0] != '\0') return PathOrigin::Registry;
        origin = PathOrigin::EmptyValue;
        break;
    case platform::RegistryRead::TooLong: origin = PathOrigin::TooLong; break;
    case platform::RegistryRead::Missing: break;
    }
    std::memcpy(buffer, kDefaultConfigName, sizeof kDefaultConfigName);
    return origin;
}

const char* config_path(PathBuffer which) {
    if (!kEdition.registry_path) {
        (void)which;
        return kDefaultConfigName;
    }
    auto& buffer = path_copies()[static_cast<std::size_t>(which)];
    if (buffer[0] == '\0') (void)resolve_config_path(buffer.data(), buffer.size());
    return buffer.data();
}

}  // namespace qdl
