// hooks.cpp - the test-only hooks of hooks.h, over the state their owners keep.
#include "testing/hooks.h"

#include "frame/frame.h"

#if defined(_WIN32)
#include <windows.h>

#include <mbctype.h>
#else
#include "platform/posix/file_io.h"
#include "platform/posix/posix.h"
#endif

namespace qdl {

void reset_config_paths_for_tests() {
    for (auto& copy : path_copies()) copy.fill('\0');
}

}  // namespace qdl

namespace qdl::platform {

void set_code_page_for_tests(unsigned code_page) {
#if defined(_WIN32)
    _setmbcp(code_page == 0 ? _MB_CP_ANSI : static_cast<int>(code_page));
#else
    code_page_setting().store(code_page == 0 ? 1252 : code_page, std::memory_order_release);
#endif
}

#if !defined(_WIN32)
void set_lock_wait_limit_for_tests(std::chrono::milliseconds limit) {
    sys::lock_wait_limit_ms().store(limit.count() < 0 ? sys::kLockWaitLimit.count()
                                                      : limit.count());
}
#endif

}  // namespace qdl::platform
