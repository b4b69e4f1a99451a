// global.cpp - the global parameters (kind 3): two time-outs and a scrambled password in the
// section "Global_Parameters". Older files keep the time-outs in "VTQ_Timeout", which is read
// when "Global_Parameters" has no key, never written, and removed by every add and delete.
//
//   global_add      password check, both sections removed (a removal that fails ends the add
//                   before anything is written), CONNECT_TIMEOUT, REQUEST_TIMEOUT (limited and
//                   stored back), PASSWORD scrambled
//   global_get      exists probe; "Global_Parameters", or else "VTQ_Timeout"
//   global_delete   each section that is there; QDL_OK also when neither was there
//
//   scramble / unscramble   byte i plus / minus key byte i % 16, modulo 256
//   storable                whether a scrambled text survives the trip through the file
//
// The caller's password field is never changed: it is scrambled into a copy, so the caller keeps
// its clear password whatever the outcome. An unterminated field is taken as its first 65 bytes.
#include <array>
#include <cstring>

#include "frame/frame.h"
#include "records/records.h"

namespace qdl {
namespace {

constexpr char kSection[] = "Global_Parameters";
constexpr char kOldSection[] = "VTQ_Timeout";
constexpr char kScrambleKey[] = "pbzrkdnTpbzrkdnT";
constexpr std::size_t kKeyLength = sizeof kScrambleKey - 1;
constexpr char kReserved[] = "vantrel";  // never stored
constexpr std::size_t kPasswordWidth = sizeof(GlobalParameters::password);
constexpr std::size_t kConnect = offsetof(GlobalParameters, connect_timeout);
constexpr std::size_t kRequest = offsetof(GlobalParameters, request_timeout);
static_assert(kKeyLength == 16);

using Password = std::array<char, kPasswordWidth>;

unsigned char key_byte(std::size_t i) {
    return static_cast<unsigned char>(kScrambleKey[i % kKeyLength]);
}

void scramble(const char* clear, std::size_t length, char* out) {
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<char>(static_cast<unsigned char>(clear[i]) + key_byte(i));
    }
    out[length] = '\0';
}

void unscramble(const char* stored, char* out) {
    std::size_t i = 0;
    for (; stored[i] != '\0'; ++i) {
        out[i] = static_cast<char>(static_cast<unsigned char>(stored[i]) - key_byte(i));
    }
    out[i] = '\0';
}

// The profile line holds a value as text: a NUL would cut it, CR or LF would break the line,
// white space at either end is trimmed by the read, a leading '?' reads as absent and a pair of
// quotes around it is removed. An ASCII password never scrambles to any of these (every key
// byte is an ASCII letter); some passwords with bytes above 0x7F do.
bool is_trimmed(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' ||
           c == 0x1A;
}

bool storable(const char* scrambled, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (scrambled[i] == '\0' || scrambled[i] == '\r' || scrambled[i] == '\n') return false;
    }
    const auto first = static_cast<unsigned char>(scrambled[0]);
    const auto last = static_cast<unsigned char>(scrambled[length - 1]);
    if (is_trimmed(first) || is_trimmed(last) || first == '?') return false;
    return !(length >= 2 && first == last && (first == '"' || first == '\''));
}

bool is_reserved(const char* password, std::size_t length) {
    return length == sizeof kReserved - 1 && std::memcmp(password, kReserved, length) == 0;
}

}  // namespace

int global_add(GlobalParameters* record, const char* path) {
    const std::size_t length = field_length(record->password, kPasswordWidth);
    const bool has_password = length != 0 && !is_reserved(record->password, length);
    Password scrambled{};
    if (has_password) {
        scramble(record->password, length, scrambled.data());
        // Refused before anything is removed or written, rather than stored changed.
        if (!storable(scrambled.data(), length)) return QDL_ERR_BAD_VALUE;
    }

    // The old values go first; when they cannot, the add ends before it writes anything (new
    // values beside old ones would be neither set).
    if (const int s = global_delete(path); s != QDL_OK) return s;
    if (const int s = put_timeout(record, kConnect, path, kSection, "CONNECT_TIMEOUT");
        s != QDL_OK) {
        return s;
    }
    if (const int s = put_timeout(record, kRequest, path, kSection, "REQUEST_TIMEOUT");
        s != QDL_OK) {
        return s;
    }
    if (!has_password) return QDL_OK;
    return put_key(path, kSection, "PASSWORD", scrambled.data());
}

int global_get(GlobalParameters* record, const char* path) {
    if (!record_exists(kSection, RECORD_GLOBAL, 0)) return QDL_ERR_NOT_FOUND;
    const bool current = read_key_names(path, kSection).present();
    const char* section = current ? kSection : kOldSection;
    store32(record, kConnect, read_u32(path, section, "CONNECT_TIMEOUT"));
    store32(record, kRequest, read_u32(path, section, "REQUEST_TIMEOUT"));
    record->password[0] = '\0';
    if (!current) return QDL_OK;  // the older form has no password
    const Value stored = read_value(path, kSection, "PASSWORD");
    if (stored.present()) unscramble(stored.c_str(), record->password);  // at most 65 bytes
    return QDL_OK;
}

// Each section that is there goes; QDL_ERR_FILE only when one that is there could not be
// removed (the call's file then keeps both). Nothing there is nothing to remove: QDL_OK without
// any write, whatever the path names (a missing file, a directory, a path under a plain file),
// so the answer is the same on every platform and whatever ran before.
int global_delete(const char* path) {
    bool removed = true;
    for (const char* section : {kSection, kOldSection}) {
        if (section_exists(path, section)) removed = delete_section(path, section) && removed;
    }
    return removed ? QDL_OK : QDL_ERR_FILE;
}

}  // namespace qdl
