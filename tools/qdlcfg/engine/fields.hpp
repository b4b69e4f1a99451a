// fields.hpp - the record kinds field by field: one table per kind drives the command-line
// options, `show`, the JSON of `export`/`import` and the checks on values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace qdlcfg {

using Json = nlohmann::ordered_json;

enum class Kind { Port, Device, Modem, Global };

std::string_view kind_word(Kind kind);    // "port", "device", "modem", "global"
std::string_view group_word(Kind kind);   // "ports", "devices", "modems", "global"

enum class Type {
    Text,      // NUL-terminated bytes; empty = unset
    Number16,  // unsigned 16-bit, 0..65534; unset 0xFFFF
    Number32,  // unsigned 32-bit, 0..2147483647 (read back through atol); unset -1
    Timeout,   // 32-bit time-out: 0 or 50..63000 (the library clamps anything else); unset -1
    Hex16,     // 2 bytes, little-endian, written as 4 hexadecimal digits; unset FF FF
    Hex32,     // 4 bytes, little-endian, written as 8 hexadecimal digits; unset FF x4
    Word16,    // 16-bit code written as a word; unset 0xFFFF
};

enum class Role {
    Name,      // the section name (positional argument)
    PortType,  // the port type (--type, required)
    Plain,     // an ordinary field
    Extension, // a field of the extended record (needs the _Ex add)
    ReadOnly,  // shown, never written (a serial port's MODEM_DIAL)
    Secret,    // the password: never printed, never on the command line
};

enum class Rule { None, Letter, ComPort, KwtId, Password };

struct Word {
    std::string_view word;
    std::uint16_t code;
};

struct Field {
    std::string_view key;      // JSON key
    std::string_view options;  // command-line names, CLI11 style ("--ip,--ip-addr")
    std::string_view ini;      // INI key
    std::string_view meaning;
    Type type;
    std::size_t offset;        // in the extended record
    std::size_t width = 0;     // Text: bytes of the field, NUL included
    std::size_t max_bytes = 0; // Text: the most bytes that read back whole
    std::size_t max_chars = 0; // Text: the most characters that read back whole (0: no limit)
    std::span<const Word> words = {};
    unsigned port_types = 0x3E;  // ports: bit n set when the field applies to port type n
    Role role = Role::Plain;
    Rule rule = Rule::None;

    constexpr Field on(unsigned mask) const { Field f = *this; f.port_types = mask; return f; }
    constexpr Field as(Role r) const { Field f = *this; f.role = r; return f; }
    constexpr Field with(Rule r) const { Field f = *this; f.rule = r; return f; }
};

// --legacy: the legacy library's rules from here on (record kinds 1 to 3: no modem records;
// no extension fields; a serial port's dial string is its own field; time-outs of 50 to
// 63000). Chosen once, before the command line is read (the options come from the tables).
void use_legacy_rules();
bool legacy_rules();
// The kinds of named records: ports, devices and, but with --legacy, modems.
std::span<const Kind> named_kinds();

std::span<const Field> fields_of(Kind kind);
// With --legacy: the extension field of the current library that `name` names (for a message
// that says why it is refused); otherwise null.
const Field* extension_field(Kind kind, std::string_view name);
const Field* find_field(Kind kind, std::string_view key);
// Every name of a field is one of its names everywhere (options, get, set, list --key, JSON):
// its JSON key, its INI key and its option names, in any letter case, '-' and '_' alike, with
// or without the leading dashes. Null when no field of the kind has that name.
const Field* field_by_any_name(Kind kind, std::string_view name);
// The names of a field in that form (lower case, '_', no dashes), each once: the JSON key first.
std::vector<std::string> field_names(const Field& field);
// "did you mean ...": the kind's field name closest to `name`, or "" when none is near.
std::string closest_field_name(Kind kind, std::string_view name);
const Field& name_field(Kind kind);  // ports, devices, modems
bool applies_to(const Field& field, std::uint16_t port_type);
std::string port_types_text(unsigned mask);  // "kwt-serial, vme"
std::span<const Word> port_type_words();

// A field's value, independent of the record bytes.
struct Value {
    bool set = false;
    std::string text;         // Text
    std::uint32_t number = 0; // every other type
};

// The bytes of one extended record (PortRecordEx, DeviceRecordEx, ModemRecordEx or
// GlobalParameters), every field unset to start with.
class Record {
public:
    explicit Record(Kind kind);
    Kind kind() const { return kind_; }
    unsigned char* data() { return bytes_.data(); }
    const unsigned char* data() const { return bytes_.data(); }
    Value get(const Field& field) const;
    void put(const Field& field, const Value& value);
    std::string name() const;  // ports, devices, modems
    std::uint16_t port_type() const;

private:
    Kind kind_;
    std::vector<unsigned char> bytes_;
};

// Parses a value given on the command line; "unset" gives an unset value. Returns "" when it
// is valid, otherwise what is wrong with it.
std::string parse_value(const Field& field, std::string_view text, Value& out);
// The same for a JSON value; null gives an unset value.
std::string value_from_json(const Field& field, const Json& json, Value& out);
// Checks a text (record name, field text) against the field's limits and rule.
std::string check_text(const Field& field, std::string_view text);
// A record name as the library matches section names: ASCII letters to lower case, every other
// character (a double-byte one of the code page whole) as it is. Equal folds, same section.
std::string fold(std::string_view name);
// fold(a) == fold(b), without making either.
bool same_folded(std::string_view a, std::string_view b);

// The status with which the library itself refuses `text` in this field, when it does: a name
// or default port that does not begin with a letter, a serial port other than COM1 to COM4, a
// KWT id that begins with neither a letter nor a digit, a line break. Nothing when the library
// would take it (the tool may still refuse it, for a value that would not read back as given).
std::optional<int> refusal_status(const Field& field, std::string_view text);

// "unset", the word, the hexadecimal digits, the number or the text.
std::string display(const Field& field, const Value& value);
// null when unset.
Json to_json(const Field& field, const Value& value);

// Text bytes as JSON: a string when they are valid UTF-8, else {"hex": "..."}; and back.
Json text_to_json(std::string_view bytes);
std::string text_from_json(const Json& json, std::string& out);

}  // namespace qdlcfg
