// posix.h - what the Linux stand-ins share among themselves.
#pragma once

#include <string>

namespace qdl::platform {

// The directory that holds registry.ini and the Windows directory.
std::string machine_prefix();

}  // namespace qdl::platform
