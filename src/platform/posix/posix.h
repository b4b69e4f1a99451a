// posix.h - what the Linux stand-ins share among themselves.
#pragma once

#include <atomic>
#include <string>

namespace qdl::platform {

// The directory that holds registry.ini and the Windows directory.
std::string machine_prefix();

// The active ANSI code page: 0 until it is first read from the registry file.
std::atomic<unsigned>& code_page_setting();

}  // namespace qdl::platform
