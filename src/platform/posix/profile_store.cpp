// profile_store.cpp - placeholder until the profile store lands.
#include <cstring>

#include "platform/platform.h"

namespace qdl::platform {

std::uint32_t profile_get_string(const char*, const char*, const char* def, char* buffer,
                                 std::uint32_t size, const char*) {
    if (size == 0) return 0;
    std::strncpy(buffer, def ? def : "", size - 1);
    buffer[size - 1] = '\0';
    return static_cast<std::uint32_t>(std::strlen(buffer));
}
std::uint32_t profile_get_int(const char*, const char*, std::int32_t def, const char*) {
    return static_cast<std::uint32_t>(def);
}
bool profile_write_string(const char*, const char*, const char*, const char*) { return false; }

CallScope::CallScope(Access) {}
CallScope::~CallScope() = default;
bool CallScope::finish() { finished_ = true; return true; }

}  // namespace qdl::platform
