// posix.h - the Linux stand-ins' "machine", shared among them and with qdlcfg, which reports
// it (`qdlcfg where`) from these same functions.
#pragma once

#include <atomic>
#include <string>

namespace qdl::platform {

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

// The active ANSI code page: 0 until it is first read from the registry file.
std::atomic<unsigned>& code_page_setting();

}  // namespace qdl::platform
