// modem.cpp - modem records (kind 4, current library only): the dial string, telephone number
// parts and telephony line of a dial-up connection. A section is a modem record when it holds a
// MODEM_DIAL value; it may share its name with a port, whose keys then live beside the modem's.
//
//   modem_add            name checks, the seven texts (each cut to 80 bytes in the caller's
//                        record first), MODEM_USEDCANDA, MODEM_DEVICEID
//   modem_get            the same keys back; texts by the bounded copy
//   modem_delete         the whole section
//   modem_add_extension  MODEM_BREAK, one digit
//   modem_get_break      MODEM_BREAK back into a break flag the caller preset to 1
#include <cstddef>

#include "frame/frame.h"
#include "records/records.h"

namespace qdl {

namespace {

constexpr std::size_t kNameBytes = 64;     // an add stores a NUL at byte 64 of the name
constexpr std::size_t kTextWidth = sizeof(ModemRecord::modem_dial);  // 82
constexpr std::size_t kTextBytes = 80;     // an add stores a NUL at byte 80 of each text
constexpr std::size_t kTextChars = 80;     // a read copies at most 80 characters

struct TextField {
    const char* key;
    std::size_t offset;
};

// In the order in which an add writes them.
constexpr TextField kTexts[] = {
    {"MODEM_DIAL", offsetof(ModemRecord, modem_dial)},
    {"MODEM_DISP", offsetof(ModemRecord, modem_disp)},
    {"MODEM_COUNTRYNAME", offsetof(ModemRecord, modem_countryname)},
    {"MODEM_AREACODE", offsetof(ModemRecord, modem_areacode)},
    {"MODEM_PHONENO", offsetof(ModemRecord, modem_phoneno)},
    {"MODEM_LOCATION", offsetof(ModemRecord, modem_location)},
    {"MODEM_TAPILINE", offsetof(ModemRecord, modem_tapiline)},
};

constexpr char kYes[] = "YES";
constexpr char kNo[] = "NO";

bool exists(const char* name) { return record_exists(name, RECORD_MODEM, 0); }

}  // namespace

int modem_add(ModemRecord* record, const char* path) {
    record->name[kNameBytes] = '\0';
    if (exists(record->name)) return QDL_ERR_EXISTS;
    if (!is_letter(static_cast<unsigned char>(record->name[0]))) return QDL_ERR_BAD_NAME;

    const char* section = record->name;
    for (const TextField& t : kTexts) {
        char* field = text_at(record, t.offset);
        field[kTextBytes] = '\0';
        if (const int s = put_key(path, section, t.key, field); s != QDL_OK) return s;
    }
    const char* usedcanda = record->modem_usedcanda == 1 ? kYes : kNo;
    if (const int s = put_key(path, section, "MODEM_USEDCANDA", usedcanda); s != QDL_OK) {
        return s;
    }
    if (record->modem_deviceid == kUnset16) return QDL_OK;
    return put_number(path, section, "MODEM_DEVICEID", record->modem_deviceid);
}

int modem_get(const char* name, ModemRecord* record, const char* path) {
    if (!exists(name)) return QDL_ERR_NOT_FOUND;

    copy_name(record->name, name);
    for (const TextField& t : kTexts) {
        get_text(text_at(record, t.offset), read_value(path, name, t.key), kTextChars, kTextWidth);
    }
    // Only the exact word counts as yes; anything else, absent included, is no.
    record->modem_usedcanda = texts_equal(read_value(path, name, "MODEM_USEDCANDA").c_str(), kYes)
                                  ? 1
                                  : 0;
    record->modem_deviceid = read_u16(path, name, "MODEM_DEVICEID");
    return QDL_OK;
}

int modem_delete(const char* name, const char* path) {
    if (!exists(name)) return QDL_ERR_NOT_FOUND;
    return delete_section(path, name) ? QDL_OK : QDL_ERR_FILE;
}

int modem_add_extension(ModemRecordEx* record, const char* path) {
    // One character: the leading digit of the decimal form (12 is stored as "1").
    const char digit[2] = {format_unsigned(record->modem_break).text[0], '\0'};
    return put_key(path, record->base.name, "MODEM_BREAK", digit);
}

int modem_get_break(const char* name, ModemRecordEx* record, const char* path) {
    const Value v = read_value(path, name, "MODEM_BREAK");
    if (v.present() && v.text[0] == '0') record->modem_break = 0;
    return QDL_OK;
}

}  // namespace qdl
