// port.cpp - port records (kind 1): one INI section per port, named after it, one key per set
// field; TYPE marks the section as a port.
//
//   port_add             type check, name cut at byte 64, exists probe, letter test, then the
//                        keys of the port type in their fixed order; partial writes stay
//     add_serial         PORT, TYPE, (legacy: MODEM_DIAL), STOPBITS .. KWT_T5PP, MULTISESS
//     add_bus            TYPE, BXLN_P/N, BXLN_CHANNEL, BXLN_CONTROL, BXLN_PORT, BXLN_ADDR
//     add_timeouts       CONNECT_TIMEOUT, REQUEST_TIMEOUT, limited and stored back
//   port_get             exists probe, name, TYPE word, then the fields of the port type; fields
//                        that a type does not read keep what the caller had in them
//     get_serial         PORT .. MULTISESS
//     get_bus            BXLN_P/N .. BXLN_ADDR
//   port_delete          exists probe, then the whole section
//   port_add_extension   MODEM_RECORDNAME of a PortRecordEx
//   port_get_extension
//
// Offsets of the fields from `port` on come from kEdition.port: the legacy library compiles this
// file for its LegacyPortRecord, where they lie elsewhere. Every text taken from the caller's
// record is bounded by its field: the add stores a NUL at the field's end first, or copies at
// most the field's width less one byte.
#include <cstddef>
#include <iterator>
#include <utility>

#include "frame/frame.h"
#include "records/records.h"

namespace qdl {
namespace {

// The head and the time-outs lie at the same offsets in both layouts.
constexpr std::size_t kName = 0;
constexpr std::size_t kNameCut = 64;  // the add stores a NUL here: at most 64 bytes of name
constexpr std::size_t kType = offsetof(PortRecord, port_type);
constexpr std::size_t kConnect = offsetof(PortRecord, connect_timeout);
constexpr std::size_t kRequest = offsetof(PortRecord, request_timeout);
static_assert(offsetof(LegacyPortRecord, port_type) == kType);
static_assert(offsetof(LegacyPortRecord, connect_timeout) == kConnect);
static_assert(offsetof(LegacyPortRecord, request_timeout) == kRequest);

constexpr std::size_t kDialWidth = sizeof(PortRecord::modem_dial);
constexpr std::size_t kDialWritten = 64;     // legacy add: NUL at modem_dial + 64
constexpr std::size_t kDialReadChars = 32;
constexpr std::size_t kPartWidth = sizeof(PortRecord::bxln_pn);
constexpr std::size_t kPartBytes = 14;       // BXLN_P/N: at most 14 bytes, then the NUL
constexpr std::size_t kRecordNameWidth = sizeof(PortRecordEx::modem_recordname);
constexpr std::size_t kRecordNameReadChars = 80;
static_assert(sizeof(LegacyPortRecord::modem_dial) == kDialWidth);
static_assert(sizeof(LegacyPortRecord::bxln_pn) == kPartWidth);

constexpr const char* kTypeWords[] = {nullptr,    "KWT_SERIAL", "TCPIP_ETH",
                                      "VME_PORT", "TCPIP_SLIP", "BXLN_BUS"};

// MODEM_TURN and the nine KWT timers: ten 32-bit fields in a row from layout.modem_turn.
constexpr const char* kTimerKeys[] = {"MODEM_TURN", "KWT_T1",   "KWT_T2", "KWT_T3",
                                      "KWT_T3P",    "KWT_T3PP", "KWT_T4", "KWT_T5",
                                      "KWT_T5P",    "KWT_T5PP"};

constexpr const char* kParityWords[] = {nullptr, "ODD", "EVEN", "NONE"};

// "COM1" to "COM4" in upper case, whatever follows the digit.
bool is_serial_device(const char* port) {
    return port[0] == 'C' && port[1] == 'O' && port[2] == 'M' && port[3] >= '1' &&
           port[3] <= '4';
}

int add_serial(void* record, const char* name, const char* path) {
    const PortLayout& layout = kEdition.port;
    char* port = text_at(record, layout.port);
    if (is_serial_device(port)) {
        port[4] = '\0';
        if (const int s = put_key(path, name, "PORT", port); s != QDL_OK) return s;
    } else if (port[0] != '\0') {
        return QDL_ERR_BAD_PORT_NAME;
    }
    if (const int s = put_key(path, name, "TYPE", kTypeWords[PORT_KWT_SERIAL]); s != QDL_OK) {
        return s;
    }

    char* dial = text_at(record, layout.modem_dial);
    if (kEdition.port_writes_modem_dial && dial[0] != '\0') {
        dial[kDialWritten] = '\0';
        if (const int s = put_key(path, name, "MODEM_DIAL", dial); s != QDL_OK) return s;
    }

    if (const std::uint16_t v = load16(record, layout.stopbits); v != kUnset16) {
        if (const int s = put_number(path, name, "STOPBITS", v); s != QDL_OK) return s;
    }
    if (const std::uint16_t v = load16(record, layout.parity); v != kUnset16) {
        if (v < QDL_PARITY_ODD || v > QDL_PARITY_NONE) return QDL_ERR_BAD_VALUE;
        if (const int s = put_key(path, name, "PARITY", kParityWords[v]); s != QDL_OK) return s;
    }
    if (const std::uint16_t v = load16(record, layout.baudrate); v != kUnset16) {
        if (const int s = put_number(path, name, "BAUDRATE", v); s != QDL_OK) return s;
    }
    for (std::size_t i = 0; i < std::size(kTimerKeys); ++i) {
        const std::uint32_t v = load32(record, layout.modem_turn + 4 * i);
        if (v == kUnset32) continue;
        if (const int s = put_number(path, name, kTimerKeys[i], v); s != QDL_OK) return s;
    }
    if (const std::uint16_t v = load16(record, layout.multisess); v != kUnset16) {
        if (v > 1) return QDL_ERR_BAD_VALUE;
        if (const int s = put_key(path, name, "MULTISESS", v == 1 ? "YES" : "NO"); s != QDL_OK) {
            return s;
        }
    }
    return QDL_OK;
}

int add_bus(void* record, const char* name, const char* path) {
    const PortLayout& layout = kEdition.port;
    if (const int s = put_key(path, name, "TYPE", kTypeWords[PORT_BXLN_BUS]); s != QDL_OK) return s;
    char* part = text_at(record, layout.bxln_pn);
    if (part[0] != '\0') {
        part[kPartBytes] = '\0';
        if (const int s = put_key(path, name, "BXLN_P/N", part); s != QDL_OK) return s;
    }
    if (const std::uint16_t v = load16(record, layout.bxln_channel); v != kUnset16) {
        if (const int s = put_number(path, name, "BXLN_CHANNEL", v); s != QDL_OK) return s;
    }
    if (const int s = put_hex(path, name, "BXLN_CONTROL", bytes_at(record, layout.bxln_control), 2);
        s != QDL_OK) {
        return s;
    }
    if (const int s = put_hex(path, name, "BXLN_PORT", bytes_at(record, layout.bxln_port), 2);
        s != QDL_OK) {
        return s;
    }
    return put_hex(path, name, "BXLN_ADDR", bytes_at(record, layout.bxln_addr), 4);
}

// Each time-out on its own value: unset stays unwritten, anything else is limited, stored back
// into the caller's record and written.
int add_timeouts(void* record, const char* name, const char* path) {
    static constexpr std::pair<std::size_t, const char*> kTimeouts[] = {
        {kConnect, "CONNECT_TIMEOUT"}, {kRequest, "REQUEST_TIMEOUT"}};
    for (const auto& [offset, key] : kTimeouts) {
        if (const int s = put_timeout(record, offset, path, name, key); s != QDL_OK) return s;
    }
    return QDL_OK;
}

// The port type of a TYPE word, 0 for an unknown word.
std::uint16_t type_of_word(const char* word) {
    if (texts_equal(word, kTypeWords[PORT_KWT_SERIAL])) return PORT_KWT_SERIAL;
    if (kEdition.port_reads_kbrt_serial && texts_equal(word, "kbRT_KWT_SERIAL")) {
        return PORT_KWT_SERIAL;
    }
    for (std::uint16_t type = PORT_TCPIP_ETH; type <= PORT_BXLN_BUS; ++type) {
        if (texts_equal(word, kTypeWords[type])) return type;
    }
    return 0;
}

void get_bus(void* record, const char* name, const char* path) {
    const PortLayout& layout = kEdition.port;
    char* part = text_at(record, layout.bxln_pn);
    const Value pn = read_value(path, name, "BXLN_P/N");
    get_text(part, pn, kPartBytes, kPartBytes + 1);
    if (pn.present()) part[kPartBytes] = '\0';
    store16(record, layout.bxln_channel, read_u16(path, name, "BXLN_CHANNEL"));
    get_hex(bytes_at(record, layout.bxln_control), 2, read_value(path, name, "BXLN_CONTROL"));
    get_hex(bytes_at(record, layout.bxln_port), 2, read_value(path, name, "BXLN_PORT"));
    get_hex(bytes_at(record, layout.bxln_addr), 4, read_value(path, name, "BXLN_ADDR"));
}

// The value of a word field: its index in words (from 1), or unset for any other text.
std::uint16_t word_value(const Value& value, const char* const* words, std::uint16_t count) {
    for (std::uint16_t i = 0; i < count; ++i) {
        if (words[i] != nullptr && texts_equal(value.c_str(), words[i])) return i;
    }
    return kUnset16;
}

void get_serial(void* record, const char* name, const char* path) {
    const PortLayout& layout = kEdition.port;
    // PORT: a limited number of characters, and never more than the field holds with its NUL.
    get_text(text_at(record, layout.port), read_value(path, name, "PORT"),
             kEdition.port_read_chars, layout.port_width);
    get_text(text_at(record, layout.modem_dial), read_value(path, name, "MODEM_DIAL"),
             kDialReadChars, kDialWidth);
    store16(record, layout.stopbits, read_u16(path, name, "STOPBITS"));
    store16(record, layout.parity,
            word_value(read_value(path, name, "PARITY"), kParityWords, 4));
    store16(record, layout.baudrate, read_u16(path, name, "BAUDRATE"));
    for (std::size_t i = 0; i < std::size(kTimerKeys); ++i) {
        store32(record, layout.modem_turn + 4 * i, read_u32(path, name, kTimerKeys[i]));
    }
    static constexpr const char* kYesNo[] = {"NO", "YES"};
    store16(record, layout.multisess, word_value(read_value(path, name, "MULTISESS"), kYesNo, 2));
}

}  // namespace

int port_add(void* record, const char* path) {
    const std::uint16_t type = load16(record, kType);
    if (type < PORT_KWT_SERIAL || type > PORT_BXLN_BUS) return QDL_ERR_BAD_PORT_TYPE;
    char* name = text_at(record, kName);
    name[kNameCut] = '\0';
    if (record_exists(name, RECORD_PORT, 0)) return QDL_ERR_EXISTS;
    if (!is_letter(static_cast<unsigned char>(name[0]))) return QDL_ERR_BAD_NAME;

    int status = QDL_OK;
    switch (type) {
    case PORT_KWT_SERIAL: status = add_serial(record, name, path); break;
    case PORT_BXLN_BUS: return add_bus(record, name, path);  // a bus port has no time-outs
    default: status = put_key(path, name, "TYPE", kTypeWords[type]); break;
    }
    if (status != QDL_OK) return status;
    return add_timeouts(record, name, path);
}

// Reads from the section named by the name argument; the record's name field gets the name
// cut to 65 bytes (whole characters) when it is longer.
int port_get(const char* name, void* record, const char* path) {
    if (!record_exists(name, RECORD_PORT, 0)) return QDL_ERR_NOT_FOUND;
    copy_name(text_at(record, kName), name);
    const std::uint16_t type = type_of_word(read_value(path, name, "TYPE").c_str());
    if (type == 0) return QDL_ERR_BAD_PORT_TYPE;
    store16(record, kType, type);
    if (type == PORT_BXLN_BUS) {
        get_bus(record, name, path);
        return QDL_OK;
    }
    store32(record, kConnect, read_u32(path, name, "CONNECT_TIMEOUT"));
    store32(record, kRequest, read_u32(path, name, "REQUEST_TIMEOUT"));
    if (type == PORT_KWT_SERIAL) get_serial(record, name, path);
    return QDL_OK;
}

int port_delete(const char* name, const char* path) {
    if (!record_exists(name, RECORD_PORT, 0)) return QDL_ERR_NOT_FOUND;
    return delete_section(path, name) ? QDL_OK : QDL_ERR_FILE;
}

// The field is left as the caller gave it: an unterminated name is written as its first 65
// bytes.
int port_add_extension(PortRecordEx* record, const char* path) {
    if (record->modem_recordname[0] == '\0') return QDL_OK;
    return put_field(path, record->base.name, "MODEM_RECORDNAME", record->modem_recordname);
}

int port_get_extension(PortRecordEx* record, const char* path) {
    get_text(record->modem_recordname,
             read_value(path, record->base.name, "MODEM_RECORDNAME"), kRecordNameReadChars,
             kRecordNameWidth);
    return QDL_OK;
}

}  // namespace qdl
