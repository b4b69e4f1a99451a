// device.cpp - device records (kind 2): the addresses by which one device is reached, each one
// key of the section named after the device. A device is built up and taken apart address by
// address; its section goes with the last of KWT_ID, IP_ADDR and DEST_ADDR.
//
//   device_add            address kind 1-5: that one address key; 6: every set field, with
//                         DEFAULT_PORT and DEVICE_MODEL
//   device_get            probe order 1, 2, 4, 3, 5; bounded copies into the record
//   device_delete         one address key (1-4), the section (6), and the section-removal rule
//   device_add_extension  MODEM_RECORDNAME, ASSOC_DEVICE (after a successful add)
//   device_get_extension  the same two keys back (after a successful get)
//
// Every text is cut inside its field before it is written (NUL bytes stored into the caller's
// record), so no write reads past a field.
#include <cstring>

#include "frame/frame.h"
#include "records/records.h"

namespace qdl {

namespace {

// Bytes of each text that an add uses: a NUL is stored right behind them.
constexpr std::size_t kNameBytes = 64;          // record byte 64
constexpr std::size_t kKwtIdBytes = 14;         // record byte 124
constexpr std::size_t kIpAddrBytes = 32;        // record byte 108
constexpr std::size_t kDefaultPortBytes = 64;   // record byte 190
constexpr std::size_t kDeviceModelBytes = 32;   // record byte 224

// Character limits of the reads (the byte limit is the field's width).
constexpr std::size_t kKwtIdChars = 7;
constexpr std::size_t kDefaultPortChars = 32;
constexpr std::size_t kDeviceModelChars = 16;
constexpr std::size_t kModemRecordnameChars = 80;

constexpr char kNullKwtId[] = "<NULL>";

// The address keys whose absence removes a device's section.
constexpr const char* kAddressKeys[] = {"KWT_ID", "IP_ADDR", "DEST_ADDR"};

// The probe order of a get: the first address kind whose key is present makes it a device.
constexpr int kGetProbeOrder[] = {ADDRESS_KWT_ID, ADDRESS_TCPIP_ETH, ADDRESS_TCPIP_SLIP,
                                  ADDRESS_VME, ADDRESS_BXLN_BUS};

// KWT_ID: a text that begins with a letter or a digit, or exactly "<NULL>".
int put_kwt_id(const DeviceRecord& r, const char* path) {
    if (!is_letter_or_digit(static_cast<unsigned char>(r.kwt_id[0])) &&
        !texts_equal(r.kwt_id, kNullKwtId)) {
        return QDL_ERR_BAD_KWT_ID;
    }
    return put_key(path, r.name, "KWT_ID", r.kwt_id);
}

// Address kind 6: every set field in a fixed order; a failure leaves the keys before it.
int add_all(DeviceRecord* r, const char* path) {
    if (r->bxln_busadr != kUnset16) {
        if (const int s = put_number(path, r->name, "BXLN_BUSADR", r->bxln_busadr); s != QDL_OK) {
            return s;
        }
    }
    r->kwt_id[kKwtIdBytes] = '\0';
    if (r->kwt_id[0] != '\0') {
        if (const int s = put_kwt_id(*r, path); s != QDL_OK) return s;
    }
    if (r->ip_addr[0] != '\0') {
        r->ip_addr[kIpAddrBytes] = '\0';
        if (const int s = put_key(path, r->name, "IP_ADDR", r->ip_addr); s != QDL_OK) return s;
    }
    if (const int s = put_hex(path, r->name, "DEST_ADDR", r->dest_addr, sizeof r->dest_addr);
        s != QDL_OK) {
        return s;
    }
    if (r->default_port[0] != '\0') {
        r->default_port[kDefaultPortBytes] = '\0';
        if (!is_letter(static_cast<unsigned char>(r->default_port[0]))) {
            return QDL_ERR_BAD_DEFAULT_PORT;
        }
        if (const int s = put_key(path, r->name, "DEFAULT_PORT", r->default_port); s != QDL_OK) {
            return s;
        }
    }
    r->device_model[kDeviceModelBytes] = '\0';
    if (r->device_model[0] != '\0') {
        return put_key(path, r->name, "DEVICE_MODEL", r->device_model);
    }
    return QDL_OK;
}

int add_address(DeviceRecord* r, int address_kind, const char* path) {
    switch (address_kind) {
    case ADDRESS_KWT_ID:
        r->kwt_id[kKwtIdBytes] = '\0';
        if (r->kwt_id[0] == '\0') return QDL_OK;  // nothing to store, no section
        return put_kwt_id(*r, path);
    case ADDRESS_TCPIP_ETH:
    case ADDRESS_TCPIP_SLIP:
        r->ip_addr[kIpAddrBytes] = '\0';
        return put_key(path, r->name, "IP_ADDR", r->ip_addr);  // also when empty
    case ADDRESS_VME:  // FFFFFFFF when unset
        return put_key(path, r->name, "DEST_ADDR",
                       format_hex(r->dest_addr, sizeof r->dest_addr).c_str());
    case ADDRESS_BXLN_BUS:
        if (r->bxln_busadr == kUnset16) return QDL_OK;
        return put_number(path, r->name, "BXLN_BUSADR", r->bxln_busadr);
    default:
        return add_all(r, path);
    }
}

// IP_ADDR reads as its first 32 bytes, cut byte by byte.
void get_ip_addr(const char* path, const char* section, char* field) {
    const Value v = read_value(path, section, "IP_ADDR");
    std::memset(field, 0, kIpAddrBytes + 1);
    if (!v.present()) return;
    for (std::size_t i = 0; i < kIpAddrBytes && v.text[i] != '\0'; ++i) field[i] = v.text[i];
}

}  // namespace

int device_add(DeviceRecord* record, const char* path) {
    const int address_kind = record->address_kind;
    if (address_kind < ADDRESS_KWT_ID || address_kind > ADDRESS_ALL) {
        return QDL_ERR_BAD_ADDRESS_KIND;
    }
    record->name[kNameBytes] = '\0';
    if (record_exists(record->name, RECORD_DEVICE, address_kind)) return QDL_ERR_EXISTS;
    if (!is_letter(static_cast<unsigned char>(record->name[0]))) return QDL_ERR_BAD_NAME;
    return add_address(record, address_kind, path);
}

int device_get(const char* name, DeviceRecord* record, const char* path) {
    bool found = false;
    for (const int address_kind : kGetProbeOrder) {
        if (record_exists(name, RECORD_DEVICE, address_kind)) {
            found = true;
            break;
        }
    }
    if (!found) return QDL_ERR_NOT_FOUND;

    copy_name(record->name, name);
    record->bxln_busadr = read_u16(path, name, "BXLN_BUSADR");
    get_hex(record->dest_addr, sizeof record->dest_addr, read_value(path, name, "DEST_ADDR"));
    get_ip_addr(path, name, record->ip_addr);
    get_text(record->kwt_id, read_value(path, name, "KWT_ID"), kKwtIdChars,
             sizeof record->kwt_id);
    get_text(record->default_port, read_value(path, name, "DEFAULT_PORT"), kDefaultPortChars,
             sizeof record->default_port);
    get_text(record->device_model, read_value(path, name, "DEVICE_MODEL"), kDeviceModelChars,
             sizeof record->device_model);
    return QDL_OK;
}

int device_delete(int address_kind, const char* name, const char* path) {
    if (!record_exists(name, RECORD_DEVICE, address_kind)) return QDL_ERR_NOT_FOUND;

    const char* key = nullptr;
    switch (address_kind) {
    case ADDRESS_KWT_ID: key = "KWT_ID"; break;
    case ADDRESS_TCPIP_ETH:
    case ADDRESS_TCPIP_SLIP: key = "IP_ADDR"; break;
    case ADDRESS_VME: key = "DEST_ADDR"; break;
    case ADDRESS_ALL: return delete_section(path, name) ? QDL_OK : QDL_ERR_FILE;
    default: break;  // 5 and any other value delete no key
    }
    if (key != nullptr && !delete_key(path, name, key)) return QDL_ERR_FILE;

    for (const char* address_key : kAddressKeys) {
        if (read_value(path, name, address_key).present()) return QDL_OK;
    }
    // No address left: the section goes with whatever else it holds.
    return delete_section(path, name) ? QDL_OK : QDL_ERR_FILE;
}

int device_add_extension(DeviceRecordEx* record, const char* path) {
    const char* section = record->base.name;
    if (record->modem_recordname[0] != '\0') {
        const int s = put_field(path, section, "MODEM_RECORDNAME", record->modem_recordname);
        if (s != QDL_OK) return s;
    }
    if (record->assoc_device[0] != '\0') {
        return put_field(path, section, "ASSOC_DEVICE", record->assoc_device);
    }
    return QDL_OK;
}

int device_get_extension(DeviceRecordEx* record, const char* path) {
    const char* section = record->base.name;
    get_text(record->modem_recordname, read_value(path, section, "MODEM_RECORDNAME"),
             kModemRecordnameChars, sizeof record->modem_recordname);

    // ASSOC_DEVICE is taken byte by byte: the whole value, at most 65 bytes.
    char* assoc = record->assoc_device;
    std::memset(assoc, 0, sizeof record->assoc_device);
    const Value v = read_value(path, section, "ASSOC_DEVICE");
    if (v.present()) {
        for (std::size_t i = 0; i + 1 < sizeof record->assoc_device && v.text[i] != '\0'; ++i) {
            assoc[i] = v.text[i];
        }
    }
    return QDL_OK;
}

}  // namespace qdl
