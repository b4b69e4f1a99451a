// records.h - records as the suites build them: text fields filled as a caller fills them, a
// record between guard bytes, and code page 932 with one of its double-byte characters.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "testing/hooks.h"
#include "tskqdl32.h"

namespace qdltest {

// Copies text into a field; a NUL follows when there is room for it.
template <std::size_t N>
void set(char (&field)[N], std::string_view text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

// A record between guard bytes, to prove that nothing outside it is written.
template <class Record>
struct QDL_PACKED Guarded {
    unsigned char before[16];
    Record record;
    unsigned char after[16];

    Guarded() { std::memset(this, 0xCC, sizeof *this); }
    bool intact() const {
        for (unsigned char b : before) if (b != 0xCC) return false;
        for (unsigned char b : after) if (b != 0xCC) return false;
        return true;
    }
};
static_assert(sizeof(Guarded<DeviceRecordEx>) == 32 + sizeof(DeviceRecordEx));

// Code page 932 while it lives, 1252 after.
struct CodePage932 {
    CodePage932() { qdl::platform::set_code_page_for_tests(932); }
    ~CodePage932() { qdl::platform::set_code_page_for_tests(1252); }
};

inline const std::string kHiragana = "\x82\xA0";  // one double-byte character of code page 932

inline std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

}  // namespace qdltest
