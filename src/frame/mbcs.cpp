// mbcs.cpp - multibyte helpers on the platform's lead-byte test: a character is one byte, or two
// when its first byte is a lead byte of the active ANSI code page. A lead byte followed by the
// NUL counts as a character of one byte, so no helper steps over a terminator.
#include <cstring>

#include "frame/frame.h"
#include "platform/platform.h"

namespace qdl {

std::size_t char_length(const char* p) {
    if (platform::is_lead_byte(static_cast<unsigned char>(p[0])) && p[1] != '\0') return 2;
    return 1;
}

bool is_letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool is_letter_or_digit(unsigned char c) { return is_letter(c) || (c >= '0' && c <= '9'); }

std::size_t field_length(const char* field, std::size_t width) {
    const void* nul = std::memchr(field, '\0', width - 1);
    return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : width - 1;
}

std::size_t bounded_copy(char* dest, const char* src, std::size_t max_chars,
                         std::size_t byte_limit, std::size_t src_max) {
    std::size_t bytes = 0;
    std::size_t chars = 0;
    while (chars < max_chars && bytes < src_max && src[bytes] != '\0') {
        std::size_t len = char_length(src + bytes);
        if (bytes + len > src_max) len = 1;  // a lead byte at the end of a cut source
        if (bytes + len >= byte_limit) break;
        std::memcpy(dest + bytes, src + bytes, len);
        bytes += len;
        ++chars;
    }
    dest[bytes] = '\0';
    return bytes;
}

bool texts_equal(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

void copy_name(char* field, const char* name) {
    bounded_copy(field, name, QDL_NAME_SIZE, QDL_NAME_SIZE);
}

}  // namespace qdl
