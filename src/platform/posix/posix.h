// posix.h - what the Linux stand-ins share among themselves beyond platform.h (whose Linux part
// declares the machine's prefix, registry file and code page, which qdlcfg reports).
#pragma once

#include <atomic>
#include <string>

#include "platform/platform.h"

namespace qdl::platform {

// The active ANSI code page: 0 until it is first read from the registry file.
std::atomic<unsigned>& code_page_setting();

}  // namespace qdl::platform
