// fields.cpp - the field tables of the four record kinds and the conversions of one field's
// value between the record bytes, the command line, JSON and the printed form.
//
//   tables       kPortFields, kDeviceFields, kModemFields, kGlobalFields (order = print order)
//   Record       the record bytes: get / put one field, little-endian
//   check_text   what a text may hold so that it reads back exactly as written
//   parse_value  command-line text -> value;  value_from_json  JSON -> value
//   display      value -> printed text;        to_json          value -> JSON
//   text JSON    bytes <-> JSON string (UTF-8) or {"hex": "..."}
#include "engine/fields.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "tskqdl32.h"

namespace qdlcfg {

namespace {

constexpr unsigned kSerial = 1u << PORT_KWT_SERIAL;
constexpr unsigned kTimed = 0x1Eu;  // port types 1 to 4
constexpr unsigned kBus = 1u << PORT_BXLN_BUS;
constexpr unsigned kAllPorts = 0x3Eu;

constexpr Word kPortTypeWords[] = {{"kwt-serial", PORT_KWT_SERIAL},
                                   {"tcpip-eth", PORT_TCPIP_ETH},
                                   {"vme", PORT_VME},
                                   {"tcpip-slip", PORT_TCPIP_SLIP},
                                   {"bxln-bus", PORT_BXLN_BUS}};
constexpr Word kParityWords[] = {
    {"odd", QDL_PARITY_ODD}, {"even", QDL_PARITY_EVEN}, {"none", QDL_PARITY_NONE}};
constexpr Word kYesNoWords[] = {{"yes", 1}, {"no", 0}};
constexpr Word kOnOffWords[] = {{"on", 1}, {"off", 0}};

constexpr Field text(std::string_view key, std::string_view options, std::string_view ini,
                     std::string_view meaning, std::size_t offset, std::size_t width,
                     std::size_t max_bytes, std::size_t max_chars = 0) {
    return Field{.key = key, .options = options, .ini = ini, .meaning = meaning,
                 .type = Type::Text, .offset = offset, .width = width, .max_bytes = max_bytes,
                 .max_chars = max_chars};
}

constexpr Field scalar(Type type, std::string_view key, std::string_view options,
                       std::string_view ini, std::string_view meaning, std::size_t offset) {
    return Field{.key = key, .options = options, .ini = ini, .meaning = meaning, .type = type,
                 .offset = offset};
}

constexpr Field word(std::string_view key, std::string_view options, std::string_view ini,
                     std::string_view meaning, std::size_t offset, std::span<const Word> words) {
    return Field{.key = key, .options = options, .ini = ini, .meaning = meaning,
                 .type = Type::Word16, .offset = offset, .words = words};
}

#define PORT_AT(f) offsetof(PortRecordEx, f)
const Field kPortFields[] = {
    text("name", "", "(section)", "port name", PORT_AT(base.name), 66, 64).as(Role::Name)
        .with(Rule::Letter),
    word("type", "--type", "TYPE", "port type", PORT_AT(base.port_type), kPortTypeWords)
        .as(Role::PortType),
    scalar(Type::Timeout, "connect_timeout", "--connect-timeout", "CONNECT_TIMEOUT",
           "connect time-out", PORT_AT(base.connect_timeout)).on(kTimed),
    scalar(Type::Timeout, "request_timeout", "--request-timeout", "REQUEST_TIMEOUT",
           "request time-out", PORT_AT(base.request_timeout)).on(kTimed),
    text("port", "--port", "PORT", "serial device, COM1 to COM4", PORT_AT(base.port), 8, 4)
        .on(kSerial).with(Rule::ComPort),
    text("modem_dial", "", "MODEM_DIAL", "dial string (from a modem record of the same name)",
         PORT_AT(base.modem_dial), 66, 65, 32).on(kSerial).as(Role::ReadOnly),
    scalar(Type::Number16, "stopbits", "--stopbits", "STOPBITS", "stop bits",
           PORT_AT(base.stopbits)).on(kSerial),
    word("parity", "--parity", "PARITY", "parity", PORT_AT(base.parity), kParityWords)
        .on(kSerial),
    scalar(Type::Number16, "baudrate", "--baudrate", "BAUDRATE", "baud rate",
           PORT_AT(base.baudrate)).on(kSerial),
    scalar(Type::Number32, "modem_turn", "--modem-turn", "MODEM_TURN",
           "modem turn-around time", PORT_AT(base.modem_turn)).on(kSerial),
    scalar(Type::Number32, "kwt_t1", "--kwt-t1", "KWT_T1", "KWT timer T1", PORT_AT(base.kwt_t1))
        .on(kSerial),
    scalar(Type::Number32, "kwt_t2", "--kwt-t2", "KWT_T2", "KWT timer T2", PORT_AT(base.kwt_t2))
        .on(kSerial),
    scalar(Type::Number32, "kwt_t3", "--kwt-t3", "KWT_T3", "KWT timer T3", PORT_AT(base.kwt_t3))
        .on(kSerial),
    scalar(Type::Number32, "kwt_t3p", "--kwt-t3p", "KWT_T3P", "KWT timer T3'",
           PORT_AT(base.kwt_t3p)).on(kSerial),
    scalar(Type::Number32, "kwt_t3pp", "--kwt-t3pp", "KWT_T3PP", "KWT timer T3''",
           PORT_AT(base.kwt_t3pp)).on(kSerial),
    scalar(Type::Number32, "kwt_t4", "--kwt-t4", "KWT_T4", "KWT timer T4", PORT_AT(base.kwt_t4))
        .on(kSerial),
    scalar(Type::Number32, "kwt_t5", "--kwt-t5", "KWT_T5", "KWT timer T5", PORT_AT(base.kwt_t5))
        .on(kSerial),
    scalar(Type::Number32, "kwt_t5p", "--kwt-t5p", "KWT_T5P", "KWT timer T5'",
           PORT_AT(base.kwt_t5p)).on(kSerial),
    scalar(Type::Number32, "kwt_t5pp", "--kwt-t5pp", "KWT_T5PP", "KWT timer T5''",
           PORT_AT(base.kwt_t5pp)).on(kSerial),
    word("multisess", "--multisess", "MULTISESS", "several sessions on the line",
         PORT_AT(base.multisess), kYesNoWords).on(kSerial),
    scalar(Type::Number16, "bxln_channel", "--bxln-channel", "BXLN_CHANNEL", "board channel",
           PORT_AT(base.bxln_channel)).on(kBus),
    text("bxln_pn", "--bxln-pn", "BXLN_P/N", "board part number", PORT_AT(base.bxln_pn), 15, 14)
        .on(kBus),
    scalar(Type::Hex16, "bxln_control", "--bxln-control", "BXLN_CONTROL",
           "board control word (hexadecimal)", PORT_AT(base.bxln_control)).on(kBus),
    scalar(Type::Hex16, "bxln_port", "--bxln-port", "BXLN_PORT", "board I/O port (hexadecimal)",
           PORT_AT(base.bxln_port)).on(kBus),
    scalar(Type::Hex32, "bxln_addr", "--bxln-addr", "BXLN_ADDR",
           "board memory address (hexadecimal)", PORT_AT(base.bxln_addr)).on(kBus),
    text("modem_recordname", "--modem-record", "MODEM_RECORDNAME", "modem record used to dial",
         PORT_AT(modem_recordname), 66, 65, 80).as(Role::Extension),
};
#undef PORT_AT

#define DEVICE_AT(f) offsetof(DeviceRecordEx, f)
const Field kDeviceFields[] = {
    text("name", "", "(section)", "device name", DEVICE_AT(base.name), 66, 64).as(Role::Name)
        .with(Rule::Letter),
    text("kwt_id", "--kwt-id", "KWT_ID", "KWT id (serial link), or <NULL>",
         DEVICE_AT(base.kwt_id), 16, 14, 7).with(Rule::KwtId),
    text("ip_addr", "--ip,--ip-addr", "IP_ADDR", "IP address (Ethernet or SLIP)",
         DEVICE_AT(base.ip_addr), 34, 32),
    scalar(Type::Hex32, "dest_addr", "--dest,--dest-addr", "DEST_ADDR",
           "VME destination address (hexadecimal)", DEVICE_AT(base.dest_addr)),
    scalar(Type::Number16, "bxln_busadr", "--bxln,--bxln-busadr", "BXLN_BUSADR",
           "BXLN bus address", DEVICE_AT(base.bxln_busadr)),
    text("default_port", "--default-port", "DEFAULT_PORT", "port used by default",
         DEVICE_AT(base.default_port), 66, 64, 32).with(Rule::Letter),
    text("device_model", "--model", "DEVICE_MODEL", "device model", DEVICE_AT(base.device_model),
         34, 32, 16),
    text("modem_recordname", "--modem-record", "MODEM_RECORDNAME", "modem record used to dial",
         DEVICE_AT(modem_recordname), 66, 65, 80).as(Role::Extension),
    text("assoc_device", "--assoc-device", "ASSOC_DEVICE", "associated device",
         DEVICE_AT(assoc_device), 66, 65).as(Role::Extension),
};
#undef DEVICE_AT

#define MODEM_AT(f) offsetof(ModemRecordEx, f)
const Field kModemFields[] = {
    text("name", "", "(section)", "modem record name", MODEM_AT(base.name), 66, 64)
        .as(Role::Name).with(Rule::Letter),
    text("modem_dial", "--dial", "MODEM_DIAL", "dial string", MODEM_AT(base.modem_dial), 82, 65),
    text("modem_disp", "--disp", "MODEM_DISP", "display text", MODEM_AT(base.modem_disp), 82,
         65),
    text("modem_countryname", "--countryname", "MODEM_COUNTRYNAME", "country",
         MODEM_AT(base.modem_countryname), 82, 65),
    text("modem_areacode", "--areacode", "MODEM_AREACODE", "area code",
         MODEM_AT(base.modem_areacode), 82, 65),
    text("modem_phoneno", "--phoneno", "MODEM_PHONENO", "telephone number",
         MODEM_AT(base.modem_phoneno), 82, 65),
    text("modem_location", "--location", "MODEM_LOCATION", "dialling location",
         MODEM_AT(base.modem_location), 82, 65),
    text("modem_tapiline", "--tapiline", "MODEM_TAPILINE", "telephony line",
         MODEM_AT(base.modem_tapiline), 82, 65),
    word("modem_usedcanda", "--usedcanda", "MODEM_USEDCANDA", "use country and area code",
         MODEM_AT(base.modem_usedcanda), kYesNoWords),
    scalar(Type::Number16, "modem_deviceid", "--deviceid", "MODEM_DEVICEID",
           "telephony device number", MODEM_AT(base.modem_deviceid)),
    word("modem_break", "--break", "MODEM_BREAK", "break flag", MODEM_AT(modem_break),
         kOnOffWords).as(Role::Extension),
};
#undef MODEM_AT

const Field kGlobalFields[] = {
    scalar(Type::Timeout, "connect_timeout", "--connect-timeout", "CONNECT_TIMEOUT",
           "connect time-out", offsetof(GlobalParameters, connect_timeout)),
    scalar(Type::Timeout, "request_timeout", "--request-timeout", "REQUEST_TIMEOUT",
           "request time-out", offsetof(GlobalParameters, request_timeout)),
    text("password", "", "PASSWORD", "password (stored scrambled, never shown)",
         offsetof(GlobalParameters, password), 66, 65).as(Role::Secret).with(Rule::Password),
};

std::size_t record_size(Kind kind) {
    switch (kind) {
    case Kind::Port: return sizeof(PortRecordEx);
    case Kind::Device: return sizeof(DeviceRecordEx);
    case Kind::Modem: return sizeof(ModemRecordEx);
    case Kind::Global: return sizeof(GlobalParameters);
    }
    return 0;
}

std::size_t scalar_width(Type type) {
    switch (type) {
    case Type::Number16:
    case Type::Word16:
    case Type::Hex16: return 2;
    default: return 4;
    }
}

std::uint32_t unset_marker(Type type) {
    return scalar_width(type) == 2 ? 0xFFFFu : 0xFFFFFFFFu;
}

}  // namespace

// ---- tables --------------------------------------------------------------------------------

std::string_view kind_word(Kind kind) {
    constexpr std::string_view words[] = {"port", "device", "modem", "global"};
    return words[static_cast<int>(kind)];
}

std::string_view group_word(Kind kind) {
    constexpr std::string_view words[] = {"ports", "devices", "modems", "global"};
    return words[static_cast<int>(kind)];
}

namespace {

std::span<const Field> all_fields_of(Kind kind) {
    switch (kind) {
    case Kind::Port: return kPortFields;
    case Kind::Device: return kDeviceFields;
    case Kind::Modem: return kModemFields;
    case Kind::Global: return kGlobalFields;
    }
    return {};
}

// The legacy library's records: no extension fields, and a serial port's dial string is a
// field of the port itself (written with it, at most 64 bytes; a read gives 32 characters).
struct LegacyTables {
    std::vector<Field> port;
    std::vector<Field> device;
    LegacyTables() {
        for (Field f : kPortFields) {
            if (f.role == Role::Extension) continue;
            if (f.key == "modem_dial") {
                f = f.as(Role::Plain);
                f.options = "--dial";
                f.meaning = "dial string";
                f.max_bytes = 64;
            }
            port.push_back(f);
        }
        for (const Field& f : kDeviceFields) {
            if (f.role != Role::Extension) device.push_back(f);
        }
    }
};

bool g_legacy = false;

}  // namespace

void use_legacy_rules() { g_legacy = true; }

bool legacy_rules() { return g_legacy; }

std::span<const Kind> named_kinds() {
    static constexpr Kind kAll[] = {Kind::Port, Kind::Device, Kind::Modem};
    return std::span<const Kind>(kAll).first(g_legacy ? 2 : 3);
}

std::span<const Field> fields_of(Kind kind) {
    if (g_legacy && (kind == Kind::Port || kind == Kind::Device)) {
        static const LegacyTables tables;
        return kind == Kind::Port ? tables.port : tables.device;
    }
    return all_fields_of(kind);
}


const Field* find_field(Kind kind, std::string_view key) {
    for (const Field& f : fields_of(kind)) {
        if (f.key == key) return &f;
    }
    return nullptr;
}

namespace {

std::string name_form(std::string_view name) {
    while (!name.empty() && name.front() == '-') name.remove_prefix(1);
    std::string out(name);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c == '-') c = '_';
    }
    return out;
}

std::size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

}  // namespace

std::vector<std::string> field_names(const Field& field) {
    std::vector<std::string> names{name_form(field.key)};
    auto add = [&](std::string_view n) {
        std::string form = name_form(n);
        if (!form.empty() && std::find(names.begin(), names.end(), form) == names.end()) {
            names.push_back(std::move(form));
        }
    };
    if (field.role != Role::Name) add(field.ini);
    for (std::string_view rest = field.options; !rest.empty();) {
        const auto comma = rest.find(',');
        add(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return names;
}

const Field* field_by_any_name(Kind kind, std::string_view name) {
    if (const Field* f = find_field(kind, name)) return f;
    const std::string form = name_form(name);
    for (const Field& f : fields_of(kind)) {
        const std::vector<std::string> names = field_names(f);
        if (std::find(names.begin(), names.end(), form) != names.end()) return &f;
    }
    return nullptr;
}

const Field* extension_field(Kind kind, std::string_view name) {
    if (!g_legacy) return nullptr;
    const std::string form = name_form(name);
    for (const Field& f : all_fields_of(kind)) {
        if (f.role != Role::Extension) continue;
        const std::vector<std::string> names = field_names(f);
        if (std::find(names.begin(), names.end(), form) != names.end()) return &f;
    }
    return nullptr;
}

std::string closest_field_name(Kind kind, std::string_view name) {
    const std::string form = name_form(name);
    std::string best;
    std::size_t best_distance = std::max<std::size_t>(2, form.size() / 3) + 1;
    for (const Field& f : fields_of(kind)) {
        if (f.role == Role::Name) continue;
        for (const std::string& n : field_names(f)) {
            const std::size_t d = edit_distance(form, n);
            if (d < best_distance) {
                best_distance = d;
                best = std::string(f.key);
            }
        }
    }
    return best;
}

const Field& name_field(Kind kind) { return fields_of(kind).front(); }

bool applies_to(const Field& field, std::uint16_t port_type) {
    return port_type < 16 && (field.port_types & (1u << port_type)) != 0;
}

std::string port_types_text(unsigned mask) {
    std::string out;
    for (const Word& w : kPortTypeWords) {
        if ((mask & (1u << w.code)) == 0) continue;
        if (!out.empty()) out += ", ";
        out += w.word;
    }
    return out;
}

std::span<const Word> port_type_words() { return kPortTypeWords; }

// ---- Record --------------------------------------------------------------------------------

Record::Record(Kind kind) : kind_(kind), bytes_(record_size(kind), 0xFF) {
    for (const Field& f : all_fields_of(kind)) {
        if (f.type == Type::Text) std::fill_n(bytes_.begin() + f.offset, f.width, 0);
    }
}

Value Record::get(const Field& field) const {
    Value v;
    const unsigned char* p = bytes_.data() + field.offset;
    if (field.type == Type::Text) {
        const auto* end = static_cast<const unsigned char*>(std::memchr(p, 0, field.width));
        v.text.assign(reinterpret_cast<const char*>(p), end ? end - p : field.width - 1);
        v.set = !v.text.empty();
        return v;
    }
    std::uint32_t n = 0;
    for (std::size_t i = scalar_width(field.type); i-- > 0;) n = (n << 8) | p[i];
    v.number = n;
    v.set = n != unset_marker(field.type);
    return v;
}

void Record::put(const Field& field, const Value& value) {
    unsigned char* p = bytes_.data() + field.offset;
    if (field.type == Type::Text) {
        const std::size_t n = value.set ? std::min(value.text.size(), field.width - 1) : 0;
        std::fill_n(p, field.width, 0);
        std::memcpy(p, value.text.data(), n);
        return;
    }
    std::uint32_t n = value.set ? value.number : unset_marker(field.type);
    for (std::size_t i = 0; i < scalar_width(field.type); ++i, n >>= 8) {
        p[i] = static_cast<unsigned char>(n & 0xFF);
    }
}

std::string Record::name() const { return get(name_field(kind_)).text; }

std::uint16_t Record::port_type() const {
    return static_cast<std::uint16_t>(get(kPortFields[1]).number);
}

// ---- checks on text ------------------------------------------------------------------------

namespace {

bool ascii_letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool ascii_digit(unsigned char c) { return c >= '0' && c <= '9'; }

std::size_t count_chars(std::string_view text) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++chars) {
        i += qdl::platform::is_lead_byte(static_cast<unsigned char>(text[i])) ? 2 : 1;
    }
    return chars;
}

}  // namespace

namespace {

// Whether the active code page has double-byte characters (every one of them has 0x81 as a
// lead byte): a name without them folds byte by byte.
bool double_byte_code_page() { return qdl::platform::is_lead_byte(0x81); }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

std::string fold(std::string_view name) {
    std::string out(name);
    const bool dbcs = double_byte_code_page();
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = lower(out[i]);
        if (dbcs && qdl::platform::is_lead_byte(static_cast<unsigned char>(out[i]))) {
            ++i;  // its trail byte is no letter
        }
    }
    return out;
}

bool same_folded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const bool dbcs = double_byte_code_page();
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
        if (dbcs && qdl::platform::is_lead_byte(static_cast<unsigned char>(a[i]))) {
            if (++i < a.size() && a[i] != b[i]) return false;
        }
    }
    return true;
}

namespace {

std::string check_password(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7E) return "a password holds printable ASCII characters only";
    }
    if (text == "vantrel") return "this password is reserved and is never stored";
    return "";
}

// The profile functions trim values, drop matching quotes, and take '?' for "absent".
std::string check_reads_back(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 && c != '\t') return "control characters (line breaks) are not allowed";
        if (c == 0x7F) return "control characters are not allowed";
    }
    constexpr std::string_view ws = " \t";
    if (ws.find(text.front()) != ws.npos || ws.find(text.back()) != ws.npos) {
        return "leading or trailing blanks are dropped when the file is read";
    }
    if (text.front() == '?') return "a value beginning with '?' reads back as absent";
    if (text.size() >= 2 && text.front() == text.back() &&
        (text.front() == '"' || text.front() == '\'')) {
        return "quotes around a value are dropped when the file is read";
    }
    return "";
}

// What the listing would read otherwise than record reads do: a bracket makes it take a line
// for a section header, and a double-byte character cut at its end swallows the line's end.
std::string check_listing(std::string_view text) {
    if (text.find_first_of("[]") != std::string_view::npos) {
        return "[ and ] are not allowed (the listing would take the line for a section header)";
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!qdl::platform::is_lead_byte(static_cast<unsigned char>(text[i]))) continue;
        if (i + 1 == text.size()) return "ends inside a double-byte character";
        ++i;
    }
    return "";
}

std::string check_name(std::string_view text) {
    if (text.find_first_of(" ;[]=") != std::string_view::npos) {
        return "a name holds no blanks and none of ; [ ] = (the listing reads them apart)";
    }
    return "";
}

std::string check_rule(Rule rule, std::string_view text) {
    const auto first = static_cast<unsigned char>(text.front());
    switch (rule) {
    case Rule::Letter:
        return ascii_letter(first) ? "" : "must begin with a letter (A-Z, a-z)";
    case Rule::ComPort:
        return text.size() == 4 && text.substr(0, 3) == "COM" && text[3] >= '1' && text[3] <= '4'
                   ? ""
                   : "must be COM1, COM2, COM3 or COM4";
    case Rule::KwtId:
        return ascii_letter(first) || ascii_digit(first) || text == "<NULL>"
                   ? ""
                   : "must begin with a letter or a digit, or be <NULL>";
    default: return "";
    }
}

}  // namespace

std::string check_text(const Field& field, std::string_view text) {
    if (text.empty()) return "empty (leave the field out to keep it unset)";
    if (text.size() > field.max_bytes) {
        return "longer than " + std::to_string(field.max_bytes) + " bytes";
    }
    if (field.max_chars != 0 && count_chars(text) > field.max_chars) {
        return "longer than " + std::to_string(field.max_chars) + " characters";
    }
    if (field.rule == Rule::Password) return check_password(text);
    if (std::string e = check_reads_back(text); !e.empty()) return e;
    if (std::string e = check_listing(text); !e.empty()) return e;
    if (field.role == Role::Name) {
        if (std::string e = check_name(text); !e.empty()) return e;
    }
    return check_rule(field.rule, text);
}

std::optional<int> refusal_status(const Field& field, std::string_view text) {
    if (text.find_first_of("\r\n") != std::string_view::npos) return QDL_ERR_BAD_VALUE;
    if (text.empty() || field.rule == Rule::Password || check_rule(field.rule, text).empty()) {
        return std::nullopt;
    }
    switch (field.rule) {
    case Rule::Letter:
        return field.role == Role::Name ? QDL_ERR_BAD_NAME : QDL_ERR_BAD_DEFAULT_PORT;
    case Rule::ComPort: return QDL_ERR_BAD_PORT_NAME;
    case Rule::KwtId: return QDL_ERR_BAD_KWT_ID;
    default: return std::nullopt;
    }
}

// ---- parsing -------------------------------------------------------------------------------

namespace {

std::string parse_decimal(std::string_view text, std::uint32_t max, std::uint32_t& out) {
    const std::string range = "a number from 0 to " + std::to_string(max);
    if (text.empty() || text.size() > 10) return "must be " + range;
    std::uint64_t n = 0;
    for (char c : text) {
        if (!ascii_digit(static_cast<unsigned char>(c))) return "must be " + range;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (n > max) return "must be " + range;
    out = static_cast<std::uint32_t>(n);
    return "";
}

std::string check_timeout(std::uint32_t n) {
    // The legacy library stores a time-out of 0 as 50: it would not read back as given.
    if (g_legacy) return n >= 50 && n <= 63000 ? "" : "must be a number from 50 to 63000";
    return n == 0 || (n >= 50 && n <= 63000) ? "" : "must be 0 or a number from 50 to 63000";
}

int hex_digit(unsigned char u) {
    if (ascii_digit(u)) return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

std::string parse_hex(std::string_view text, std::size_t digits, std::uint32_t& out) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    const std::string want = "must be 1 to " + std::to_string(digits) + " hexadecimal digits";
    if (text.empty() || text.size() > digits) return want;
    std::uint32_t n = 0;
    for (char c : text) {
        const int d = hex_digit(static_cast<unsigned char>(c));
        if (d < 0) return want;
        n = (n << 4) | static_cast<std::uint32_t>(d);
    }
    const std::uint32_t unset = digits == 4 ? 0xFFFFu : 0xFFFFFFFFu;
    if (n == unset) return "all F digits is the unset marker and cannot be stored";
    out = n;
    return "";
}

std::string one_of(std::span<const Word> words) {
    std::string out = "must be one of ";
    std::string_view separator;
    for (const Word& w : words) {
        out += separator;
        out += w.word;
        separator = "|";
    }
    return out;
}

std::string parse_word(std::span<const Word> words, std::string_view text, std::uint32_t& out) {
    for (const Word& w : words) {
        const bool same = w.word.size() == text.size() &&
                          std::equal(text.begin(), text.end(), w.word.begin(), [](char a, char b) {
                              return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b;
                          });
        if (same) {
            out = w.code;
            return "";
        }
    }
    return one_of(words);
}

std::string parse_scalar(const Field& field, std::string_view text, std::uint32_t& n) {
    switch (field.type) {
    case Type::Number16: return parse_decimal(text, 65534, n);
    case Type::Number32: return parse_decimal(text, 2147483647, n);
    case Type::Timeout: {
        std::string e = parse_decimal(text, 63000, n);
        return e.empty() ? check_timeout(n) : check_timeout(64000);
    }
    case Type::Hex16: return parse_hex(text, 4, n);
    case Type::Hex32: return parse_hex(text, 8, n);
    case Type::Word16: return parse_word(field.words, text, n);
    default: return "not a scalar field";
    }
}

}  // namespace

std::string parse_value(const Field& field, std::string_view text, Value& out) {
    out = Value{};
    if (field.type == Type::Text) {
        if (std::string e = check_text(field, text); !e.empty()) return e;
        out.text = std::string(text);
        out.set = true;
        return "";
    }
    if (text == "unset" && field.role != Role::PortType) return "";
    std::string e = parse_scalar(field, text, out.number);
    out.set = e.empty();
    return e;
}

std::string value_from_json(const Field& field, const Json& json, Value& out) {
    out = Value{};
    if (json.is_null()) return field.role == Role::Name || field.role == Role::PortType
                                   ? "must be given"
                                   : "";
    if (field.type == Type::Text) {
        std::string bytes;
        if (std::string e = text_from_json(json, bytes); !e.empty()) return e;
        if (bytes.empty() && field.role != Role::Name) return "";
        return parse_value(field, bytes, out);
    }
    const bool numeric = field.type == Type::Number16 || field.type == Type::Number32 ||
                         field.type == Type::Timeout;
    if (numeric) {
        if (!json.is_number_unsigned()) return "must be a number";
        return parse_value(field, std::to_string(json.get<std::uint64_t>()), out);
    }
    if (!json.is_string()) return "must be a string";
    return parse_value(field, json.get<std::string>(), out);
}

// ---- printing ------------------------------------------------------------------------------

namespace {

std::string hex_digits(std::uint32_t n, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, static_cast<unsigned>(n));
    return buf;
}

std::string scalar_text(const Field& field, std::uint32_t n) {
    switch (field.type) {
    case Type::Hex16: return hex_digits(n, 4);
    case Type::Hex32: return hex_digits(n, 8);
    case Type::Word16:
        for (const Word& w : field.words) {
            if (w.code == n) return std::string(w.word);
        }
        return std::to_string(n);
    default: return std::to_string(n);
    }
}

}  // namespace

std::string display(const Field& field, const Value& value) {
    if (!value.set) return "unset";
    if (field.role == Role::Secret) return "set";
    return field.type == Type::Text ? value.text : scalar_text(field, value.number);
}

Json to_json(const Field& field, const Value& value) {
    if (!value.set) return nullptr;
    switch (field.type) {
    case Type::Text: return text_to_json(value.text);
    case Type::Number16:
    case Type::Number32:
    case Type::Timeout: return value.number;
    case Type::Word16: {
        const std::string w = scalar_text(field, value.number);
        if (w == std::to_string(value.number)) return value.number;  // a code with no word
        return w;
    }
    default: return scalar_text(field, value.number);
    }
}

// ---- text as JSON --------------------------------------------------------------------------

namespace {

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n;
        std::uint32_t cp;
        if (c < 0x80) { ++i; continue; }
        if (c >= 0xC2 && c <= 0xDF) { n = 1; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { n = 2; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { n = 3; cp = c & 0x07; }
        else return false;
        if (i + n >= s.size()) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        const std::uint32_t min[] = {0, 0x80, 0x800, 0x10000};
        if (cp < min[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

}  // namespace

Json text_to_json(std::string_view bytes) {
    if (valid_utf8(bytes)) return std::string(bytes);
    std::string hex;
    for (unsigned char c : bytes) hex += hex_digits(c, 2);
    Json j = Json::object();
    j["hex"] = hex;
    return j;
}

std::string text_from_json(const Json& json, std::string& out) {
    out.clear();
    if (json.is_string()) {
        out = json.get<std::string>();
        return "";
    }
    const char* want = "must be a string or {\"hex\": \"...\"}";
    if (!json.is_object() || json.size() != 1 || !json.contains("hex") ||
        !json["hex"].is_string()) {
        return want;
    }
    const std::string hex = json["hex"].get<std::string>();
    if (hex.size() % 2 != 0) return want;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hex_digit(static_cast<unsigned char>(hex[i]));
        const int low = hex_digit(static_cast<unsigned char>(hex[i + 1]));
        if (high < 0 || low < 0) return want;
        out += static_cast<char>(high * 16 + low);
    }
    if (out.find('\0') != std::string::npos) return "a text holds no NUL bytes";
    return "";
}

}  // namespace qdlcfg
