// guard.h - the call guard of the exported functions.
#pragma once

#include <new>

#include "platform/platform.h"
#include "tskqdl32.h"

namespace qdl {

// Runs body under the call guard. A failed replacement of the file at the end of the call turns
// the status into QDL_ERR_FILE; no exception crosses the C boundary (an allocation failure is
// QDL_ERR_NO_MEMORY, anything else QDL_ERR_FILE).
template <class Body>
int guarded(platform::Access access, Body&& body) noexcept {
    try {
        platform::CallScope scope(access);
        int status = body();
        if (!scope.finish()) status = QDL_ERR_FILE;
        return status;
    } catch (const std::bad_alloc&) {
        return QDL_ERR_NO_MEMORY;
    } catch (...) {
        return QDL_ERR_FILE;
    }
}

}  // namespace qdl
