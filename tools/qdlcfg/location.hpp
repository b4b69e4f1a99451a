// location.hpp - where the configuration file is, found the way the Linux library finds it.
//
// The library does not export its path, so the tool repeats the documented rule: the prefix is
// $TSKQDL32_PREFIX (when set and not empty) or $HOME/.tskqdl32; <prefix>/registry.ini holds the
// value kbRTTskCfgIni under [HKEY_LOCAL_MACHINE\SOFTWARE\Brenvik\Fieldloom\Configuration]; without
// a usable value the name is tsk_cfg.ini; a name without '/' lies in <prefix>/windows.
#pragma once

#include <string>

namespace qdlcfg {

struct Location {
    std::string prefix;
    std::string prefix_source;  // "TSKQDL32_PREFIX", "HOME" or "password database"
    std::string registry_file;
    std::string windows_dir;
    bool registered = false;    // the registry value names the file
    std::string registry_note;  // why the default name is used, when it is
    std::string configured;     // the path as the library holds it
    std::string file;           // the file it opens (bare names in the Windows directory)
    unsigned code_page = 1252;  // ACP of the registry; 1252 when absent or unknown
};

Location locate();

// The lead-byte test of a code page (932, 936, 949, 950 are double-byte).
bool is_lead_byte(unsigned code_page, unsigned char c);

}  // namespace qdlcfg
