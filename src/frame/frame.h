// frame.h - what the record kinds and the listing share: the configuration path, the profile
// conventions (value buffer, absent marker, number and hexadecimal encodings, the record-exists
// probe), the multibyte helpers, and the field helpers by which every record kind writes its
// fields as keys and reads them back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "edition.h"
#include "tskqdl32.h"

namespace qdl {

// ---- Configuration path (config_path.cpp) -----------------------------------------------

// The four process-wide path copies; each is filled on first use and then kept.
enum class PathBuffer { Shared, Add, AddEx, List };

inline constexpr std::size_t kPathSize = 260;
inline constexpr char kDefaultConfigName[] = "tsk_cfg.ini";
inline constexpr char kRegistryKey[] = "SOFTWARE\\Brenvik\\Fieldloom\\Configuration";
inline constexpr char kRegistryValue[] = "kbRTTskCfgIni";

// Where a resolved path came from: the registry value, or the default name and why.
enum class PathOrigin {
    Registry,    // the registry value
    NoValue,     // default: the registry key or value cannot be read
    EmptyValue,  // default: the value is empty
    TooLong,     // default: the value does not fit the buffer with its NUL
};

// Fills buffer from the registry value, or with "tsk_cfg.ini" when the value cannot be read,
// does not fit in `size` bytes with its NUL, or is empty; says which. The one rule for the
// library's path copies and for what qdlcfg reports.
PathOrigin resolve_config_path(char* buffer, std::size_t size);

// The path in the given copy, resolved first while it is empty. The legacy library has no
// copies: every path is the fixed default name.
const char* config_path(PathBuffer which);

// The four copies themselves, empty until first used (index: PathBuffer).
using PathCopies = std::array<std::array<char, kPathSize>, 4>;
PathCopies& path_copies();

// ---- Profile conventions (profile.cpp) --------------------------------------------------

// Every profile read lands in a 66-byte buffer with the default "?"; a value whose first byte
// is '?' counts as absent, and a value of more than 65 bytes reads as its first 65.
inline constexpr std::size_t kValueSize = 66;

struct Value {
    std::array<char, kValueSize> text{};
    bool present() const { return text[0] != '?'; }
    bool empty() const { return text[0] == '\0'; }
    const char* c_str() const { return text.data(); }
};

Value read_value(const char* path, const char* section, const char* key);

// The names of the section's keys (null key read) into the value buffer: present when the
// section has at least one key.
Value read_key_names(const char* path, const char* section);

// 16-bit unsigned field: the integer read with default 0xFFFF, low 16 bits.
std::uint16_t read_u16(const char* path, const char* section, const char* key);

// 32-bit field: -1 when absent, otherwise atol of the text (no digits gives 0).
std::uint32_t read_u32(const char* path, const char* section, const char* key);

// atol as the C runtime does it: optional white space and sign, decimal digits, the first
// other character ends it; the result is taken modulo 2^32.
std::uint32_t parse_long(const char* text);

bool write_key(const char* path, const char* section, const char* key, const char* value);

// Writes one key and gives its status: QDL_OK; QDL_ERR_BAD_VALUE when the section name or the
// value holds a line break (written raw it would end the line and add other keys or sections
// to the file, which no read could give back); QDL_ERR_FILE when the write fails.
int put_key(const char* path, const char* section, const char* key, const char* value);
bool delete_key(const char* path, const char* section, const char* key);

// Whether the file holds a section of that name (ASCII letters in either case), with keys or
// without: the key list, else the list of section names. A file that cannot be read holds none.
bool section_exists(const char* path, const char* section);
bool delete_section(const char* path, const char* section);

// Decimal text of a 16-bit value (zero-extended) or of a 32-bit value taken as unsigned.
struct Number {
    std::array<char, 12> text{};
    const char* c_str() const { return text.data(); }
};
Number format_unsigned(std::uint32_t value);

// Hexadecimal byte-array encodings: the byte at the highest offset first, two upper-case
// digits per byte. count is 2 or 4.
struct Hex {
    std::array<char, 9> text{};
    const char* c_str() const { return text.data(); }
};
Hex format_hex(const std::uint8_t* bytes, std::size_t count);

// Two hexadecimal characters to one byte; any other character (NUL included) counts as 0.
std::uint8_t parse_hex_pair(const char* text);

// Reads `count` (2 or 4) bytes from the digit pairs of a present value, highest offset first.
// Positions past the end of the value count as digit 0.
void parse_hex(const char* text, std::uint8_t* bytes, std::size_t count);

// The record-exists probe of a record kind (1-4) and, for devices, an address kind. Reads from
// the shared path copy. An empty name (kinds 1, 2 and 4) is no record, without any read: every
// get and delete of "" is QDL_ERR_NOT_FOUND and never reaches the lines before the first header.
bool record_exists(const char* name, int kind, int address_kind);

// A time-out as the adds store it: -1 stays unset; above 63000 (unsigned) becomes 63000;
// 1 to 49 become 50; 0 stays 0 (legacy library: 0 becomes 50).
std::uint32_t clamp_timeout(std::uint32_t value);

// ---- Multibyte helpers (mbcs.cpp) -------------------------------------------------------

// Length of the character at p: 2 when *p is a lead byte followed by a non-NUL byte, else 1.
std::size_t char_length(const char* p);

// The letter test and the letter-or-digit test of the first byte of a name (ASCII only; lead
// bytes fail).
bool is_letter(unsigned char c);
bool is_letter_or_digit(unsigned char c);

// Length of the text in a field of `width` bytes: up to its NUL, at most width - 1 bytes
// (an unterminated field is taken as ending before its last byte).
std::size_t field_length(const char* field, std::size_t width);

// Bounded copy: characters of src (up to its NUL, at most src_max bytes) are copied while
// fewer than max_chars have been taken and the bytes taken plus the next character's length
// stay below byte_limit; then a NUL. Returns the bytes copied (without the NUL).
std::size_t bounded_copy(char* dest, const char* src, std::size_t max_chars,
                         std::size_t byte_limit, std::size_t src_max = SIZE_MAX);

// Whole-text comparison in the active code page, letter case significant.
bool texts_equal(const char* a, const char* b);

// A name argument copied into a record's 66-byte name field: cut to 65 bytes at a character
// boundary, NUL-terminated.
void copy_name(char* field, const char* name);

// ---- Record fields ----------------------------------------------------------------------

inline std::uint16_t load16(const void* record, std::size_t offset) {
    std::uint16_t v;
    std::memcpy(&v, static_cast<const unsigned char*>(record) + offset, sizeof v);
    return v;
}
inline std::uint32_t load32(const void* record, std::size_t offset) {
    std::uint32_t v;
    std::memcpy(&v, static_cast<const unsigned char*>(record) + offset, sizeof v);
    return v;
}
inline void store16(void* record, std::size_t offset, std::uint16_t v) {
    std::memcpy(static_cast<unsigned char*>(record) + offset, &v, sizeof v);
}
inline void store32(void* record, std::size_t offset, std::uint32_t v) {
    std::memcpy(static_cast<unsigned char*>(record) + offset, &v, sizeof v);
}
inline char* text_at(void* record, std::size_t offset) {
    return static_cast<char*>(record) + offset;
}
inline std::uint8_t* bytes_at(void* record, std::size_t offset) {
    return static_cast<std::uint8_t*>(record) + offset;
}

inline constexpr std::uint16_t kUnset16 = 0xFFFF;
inline constexpr std::uint32_t kUnset32 = 0xFFFFFFFFu;

// Whether every byte of a byte-array field is 0xFF (unset).
inline bool all_unset(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0xFF) return false;
    }
    return true;
}

// ---- Fields to keys and back (profile.cpp) ----------------------------------------------

// The writes give put_key's status, the reads fill the caller's field whatever the value.

// A number as its decimal text.
int put_number(const char* path, const char* section, const char* key, std::uint32_t value);

// A byte-array field in its hexadecimal encoding, unless every byte is unset.
int put_hex(const char* path, const char* section, const char* key, const std::uint8_t* bytes,
            std::size_t count);

// A time-out field at `offset` of the record: unset stays unwritten; anything else is limited
// (clamp_timeout), stored back into the caller's record and written.
int put_timeout(void* record, std::size_t offset, const char* path, const char* section,
                const char* key);

// A text field that the caller may not have terminated: written up to its NUL, or as its first
// N - 1 bytes when there is none in the field. The field itself is left as it is.
template <std::size_t N>
int put_field(const char* path, const char* section, const char* key, const char (&field)[N]) {
    std::array<char, N> text{};
    std::memcpy(text.data(), field, field_length(field, N));
    return put_key(path, section, key, text.data());
}

// A present value copied into a text field by the bounded copy (max_chars characters, fewer
// than byte_limit bytes), or the field emptied when the value is absent.
void get_text(char* field, const Value& value, std::size_t max_chars, std::size_t byte_limit);

// A byte-array field from the digit pairs of a present value (parse_hex), or every byte unset
// when the value is absent.
void get_hex(std::uint8_t* bytes, std::size_t count, const Value& value);

}  // namespace qdl
