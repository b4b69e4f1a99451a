// profile.cpp - the conventions by which record fields become keys: the 66-byte value buffer
// with the absent marker "?", the decimal and hexadecimal encodings, the record-exists probe,
// and the field helpers of the record kinds built on them. Every access goes through the
// platform's profile operations.
#include <charconv>
#include <cstring>
#include <vector>

#include "frame/frame.h"
#include "platform/platform.h"

namespace qdl {

namespace {
constexpr char kAbsent[] = "?";
}

Value read_value(const char* path, const char* section, const char* key) {
    Value v;
    platform::profile_get_string(section, key, kAbsent, v.text.data(), kValueSize, path);
    return v;
}

Value read_key_names(const char* path, const char* section) {
    return read_value(path, section, nullptr);
}

std::uint16_t read_u16(const char* path, const char* section, const char* key) {
    return static_cast<std::uint16_t>(platform::profile_get_int(section, key, kUnset16, path));
}

std::uint32_t parse_long(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    std::uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10u + static_cast<std::uint32_t>(*text - '0');
    }
    return negative ? 0u - value : value;
}

std::uint32_t read_u32(const char* path, const char* section, const char* key) {
    const Value v = read_value(path, section, key);
    return v.present() ? parse_long(v.c_str()) : kUnset32;
}

bool write_key(const char* path, const char* section, const char* key, const char* value) {
    return platform::profile_write_string(section, key, value, path);
}

namespace {
bool has_line_break(const char* text) { return std::strpbrk(text, "\r\n") != nullptr; }
}  // namespace

int put_key(const char* path, const char* section, const char* key, const char* value) {
    if (has_line_break(section) || has_line_break(value)) return QDL_ERR_BAD_VALUE;
    return write_key(path, section, key, value) ? QDL_OK : QDL_ERR_FILE;
}

namespace {

bool same_ascii_name(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        const char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 'a' + 'A') : *a;
        const char y = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 'a' + 'A') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

// Largest section list looked through: a file whose names do not fit counts as holding the
// section, so that a delete is tried rather than skipped.
constexpr std::size_t kMaxSectionList = std::size_t{1} << 29;

}  // namespace

bool section_exists(const char* path, const char* section) {
    if (read_key_names(path, section).present()) return true;
    // A section with no key at all (a header alone, or comments only): in the list of names.
    std::vector<char> names(4096);
    for (;;) {
        const auto size = static_cast<std::uint32_t>(names.size());
        const std::uint32_t got =
            platform::profile_get_string(nullptr, nullptr, "", names.data(), size, path);
        if (got + 2 < size) break;  // whole: a cut list ends at size - 2
        if (names.size() >= kMaxSectionList) return true;
        names.assign(names.size() * 2, '\0');
    }
    for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
        if (same_ascii_name(name, section)) return true;
    }
    return false;
}

bool delete_key(const char* path, const char* section, const char* key) {
    return platform::profile_write_string(section, key, nullptr, path);
}

bool delete_section(const char* path, const char* section) {
    return platform::profile_write_string(section, nullptr, nullptr, path);
}

Number format_unsigned(std::uint32_t value) {
    Number n{};
    *std::to_chars(n.text.data(), n.text.data() + n.text.size() - 1, value).ptr = '\0';
    return n;
}

Hex format_hex(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    Hex h;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[count - 1 - i];
        h.text[2 * i] = kDigits[b >> 4];
        h.text[2 * i + 1] = kDigits[b & 0x0F];
    }
    h.text[2 * count] = '\0';
    return h;
}

namespace {
std::uint8_t hex_digit(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    return 0;
}
}  // namespace

std::uint8_t parse_hex_pair(const char* text) {
    const std::uint8_t high = hex_digit(text[0]);
    const std::uint8_t low = text[0] == '\0' ? 0 : hex_digit(text[1]);
    return static_cast<std::uint8_t>(high * 16 + low);
}

void parse_hex(const char* text, std::uint8_t* bytes, std::size_t count) {
    const char* p = text;
    for (std::size_t i = 0; i < count; ++i) {
        bytes[count - 1 - i] = parse_hex_pair(p);
        // Step over the pair without stepping past the value's end.
        for (int step = 0; step < 2 && *p != '\0'; ++step) ++p;
    }
}

bool record_exists(const char* name, int kind, int address_kind) {
    const char* path = config_path(PathBuffer::Shared);
    if (kind < RECORD_PORT || kind > kEdition.last_kind) return false;
    // No record has an empty name (an add refuses one). The profile functions would take "" as
    // a section of its own: the lines before the first header on Linux, an empty "[]" header on
    // Windows, whose ANSI function may even fail on it. So "" is never looked up at all.
    if (kind != RECORD_GLOBAL && name[0] == '\0') return false;
    switch (kind) {
    case RECORD_PORT: return read_value(path, name, "TYPE").present();
    case RECORD_DEVICE:
        switch (address_kind) {
        case ADDRESS_KWT_ID: return read_value(path, name, "KWT_ID").present();
        case ADDRESS_TCPIP_ETH:
        case ADDRESS_TCPIP_SLIP: return read_value(path, name, "IP_ADDR").present();
        case ADDRESS_VME: return read_value(path, name, "DEST_ADDR").present();
        default: return read_key_names(path, name).present();
        }
    case RECORD_GLOBAL:
        return read_key_names(path, "Global_Parameters").present() ||
               read_key_names(path, "VTQ_Timeout").present();
    default: return read_value(path, name, "MODEM_DIAL").present();
    }
}

std::uint32_t clamp_timeout(std::uint32_t value) {
    if (value == kUnset32) return value;
    if (value > 63000) return 63000;
    if (value == 0) return kEdition.timeout_zero_becomes;
    if (value < 50) return 50;
    return value;
}

// ---- Fields to keys and back ------------------------------------------------------------

int put_number(const char* path, const char* section, const char* key, std::uint32_t value) {
    return put_key(path, section, key, format_unsigned(value).c_str());
}

int put_hex(const char* path, const char* section, const char* key, const std::uint8_t* bytes,
            std::size_t count) {
    if (all_unset(bytes, count)) return QDL_OK;
    return put_key(path, section, key, format_hex(bytes, count).c_str());
}

int put_timeout(void* record, std::size_t offset, const char* path, const char* section,
                const char* key) {
    const std::uint32_t value = load32(record, offset);
    if (value == kUnset32) return QDL_OK;
    const std::uint32_t limited = clamp_timeout(value);
    store32(record, offset, limited);
    return put_number(path, section, key, limited);
}

void get_text(char* field, const Value& value, std::size_t max_chars, std::size_t byte_limit) {
    if (value.present()) {
        bounded_copy(field, value.c_str(), max_chars, byte_limit);
    } else {
        field[0] = '\0';
    }
}

void get_hex(std::uint8_t* bytes, std::size_t count, const Value& value) {
    std::memset(bytes, 0xFF, count);
    if (value.present()) parse_hex(value.c_str(), bytes, count);
}

}  // namespace qdl
