// library.cpp - the tool's calls into TSKQDL32 (see library.hpp).
//
//   session    the open batch, if any: every call below goes through it
//   records    read_record, add_record, delete_record, choose_address_kind
//   listing    the sections as the store reads them (the exported listing has rules of its
//              own and a 16-bit count, so the tool never goes through it): list_sections,
//              list_group
#include "engine/library.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_set>

#include "exports/batch.h"
#include "frame/edition.h"
#include "platform/platform.h"
#include "engine/location.hpp"
#include "console/status.hpp"
#include "tskqdl32.h"

namespace qdlcfg {

// ---- session -------------------------------------------------------------------------------

namespace {

qdl::Batch* g_batch = nullptr;
bool g_backup_requested = false;
std::string g_backup;

int get_record(int kind, const char* name, void* record) {
    return g_batch ? g_batch->get_record(kind, name, record)
                   : QDL_Get_Record(kind, name, record);
}

int get_record_ex(int kind, const char* name, void* record) {
    return g_batch ? g_batch->get_record_ex(kind, name, record)
                   : QDL_Get_Record_Ex(kind, name, record);
}

int get_modem_record_ex(const char* name, ModemRecordEx* record) {
    return g_batch ? g_batch->get_modem_record_ex(RECORD_MODEM, name, record)
                   : QDL_Get_Modem_Record_Ex(RECORD_MODEM, name, record);
}

int add(int kind, void* record, bool extended) {
    if (g_batch) {
        return extended ? g_batch->add_record_ex(kind, record) : g_batch->add_record(kind, record);
    }
    return extended ? QDL_Add_Record_Ex(kind, record) : QDL_Add_Record(kind, record);
}

}  // namespace

Session::Session(bool dry_run) : dry_run_(dry_run) {
    if (g_batch != nullptr) throw Failure(kExitFailure, "a session is open already");
    batch_ = std::make_unique<qdl::Batch>(dry_run ? qdl::Batch::Mode::DryRun
                                                  : qdl::Batch::Mode::Write);
    g_batch = batch_.get();
}

Session::~Session() { abandon(); }

int Session::commit() {
    if (!batch_) return QDL_ERR_FILE;
    g_backup.clear();
    if (g_backup_requested && batch_->status() == QDL_OK && !dry_run_) {
        const Location loc = locate();
        std::string before;
        const bool exists = read_config_file(loc.file, before);
        if (exists && file_text() != before) {
            if (qdl::platform::backup_file(loc.file, g_backup) ==
                qdl::platform::BackupResult::Failed) {
                const std::string reason = std::strerror(errno);
                abandon();
                throw Failure(kExitFile, "--backup: cannot keep a copy of " + loc.file + ": " +
                                             reason + " (nothing was written)",
                              QDL_ERR_FILE);
            }
        }
    }
    const int status = batch_->commit();
    abandon();
    return status;
}

void Session::abandon() {
    if (!batch_) return;
    g_batch = nullptr;
    batch_.reset();
}

int Session::status() const { return batch_ ? batch_->status() : QDL_ERR_FILE; }

std::string library_version() {
    char buffer[QDL_VERSION_SIZE] = {};
    if (QDL_Get_Version(buffer) != QDL_OK) return "?";
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

std::string file_text() {
    std::string text;
    if (!qdl::platform::profile_text(locate().configured.c_str(), text)) text.clear();
    return text;
}

void request_backup() { g_backup_requested = true; }

const std::string& last_backup() { return g_backup; }

void note_backup(Json& answer) {
    if (g_backup_requested) answer["backup_file"] = g_backup.empty() ? Json() : text_to_json(g_backup);
}

std::string backup_line() { return g_backup.empty() ? "" : "backup: " + g_backup + "\n"; }

// ---- records -------------------------------------------------------------------------------

namespace {

// --legacy: a port travels as the legacy library's LegacyPortRecord. The tool holds every port
// in PortRecordEx; the legacy record's serial device name is 6 bytes where the current one's
// is 8, so every field from the dial string on lies the same 2 bytes lower.
constexpr qdl::PortLayout kNewPort = qdl::port_layout_of<PortRecord>();
constexpr qdl::PortLayout kOldPort = qdl::port_layout_of<LegacyPortRecord>();
constexpr std::size_t kShift = kNewPort.modem_dial - kOldPort.modem_dial;
static_assert(kNewPort.port == kOldPort.port && kNewPort.port_width - kOldPort.port_width == kShift);
static_assert(kNewPort.bxln_addr - kOldPort.bxln_addr == kShift &&
              kNewPort.multisess - kOldPort.multisess == kShift);

void to_legacy(const unsigned char* port, LegacyPortRecord& old) {
    auto* out = reinterpret_cast<unsigned char*>(&old);
    std::memcpy(out, port, kOldPort.port + kOldPort.port_width);
    out[kOldPort.port + kOldPort.port_width - 1] = '\0';  // "COM1".."COM4" and a NUL fit
    std::memcpy(out + kOldPort.modem_dial, port + kNewPort.modem_dial,
                kOldPort.size - kOldPort.modem_dial);
}

void from_legacy(const LegacyPortRecord& old, unsigned char* port) {
    const auto* in = reinterpret_cast<const unsigned char*>(&old);
    std::memcpy(port, in, kOldPort.port + kOldPort.port_width);
    std::memset(port + kOldPort.port + kOldPort.port_width, 0, kShift);
    std::memcpy(port + kNewPort.modem_dial, in + kOldPort.modem_dial,
                kOldPort.size - kOldPort.modem_dial);
}

}  // namespace

void require_kind(Kind kind) {
    if (kind == Kind::Modem && legacy_rules()) {
        throw Failure(kExitUsage, "the legacy library has no modem records (--legacy)",
                      QDL_ERR_BAD_TYPE);
    }
}

int read_record(Record& record, const std::string& name) {
    require_kind(record.kind());
    if (legacy_rules() && record.kind() != Kind::Global) {
        if (record.kind() == Kind::Device) {
            return get_record(RECORD_DEVICE, name.c_str(), record.data());
        }
        LegacyPortRecord old;
        to_legacy(record.data(), old);
        const int status = get_record(RECORD_PORT, name.c_str(), &old);
        from_legacy(old, record.data());
        return status;
    }
    switch (record.kind()) {
    case Kind::Port: return get_record_ex(RECORD_PORT, name.c_str(), record.data());
    case Kind::Device: return get_record_ex(RECORD_DEVICE, name.c_str(), record.data());
    case Kind::Modem:
        return get_modem_record_ex(name.c_str(), reinterpret_cast<ModemRecordEx*>(record.data()));
    case Kind::Global: return get_record(RECORD_GLOBAL, "", record.data());
    }
    return QDL_ERR_BAD_TYPE;
}

namespace {

int record_kind(Kind kind) {
    switch (kind) {
    case Kind::Port: return RECORD_PORT;
    case Kind::Device: return RECORD_DEVICE;
    case Kind::Modem: return RECORD_MODEM;
    case Kind::Global: return RECORD_GLOBAL;
    }
    return 0;
}

bool is_set(const Record& record, std::string_view key) {
    return record.get(*find_field(record.kind(), key)).set;
}

}  // namespace

bool needs_extended_add(const Record& record) {
    for (const Field& f : fields_of(record.kind())) {
        if (f.role == Role::Extension && record.get(f).set) return true;
    }
    return false;
}

int add_record(Record& record, int address_kind) {
    if (record.kind() == Kind::Device) {
        auto* device = reinterpret_cast<DeviceRecord*>(record.data());
        device->address_kind = static_cast<std::uint16_t>(address_kind);
    }
    require_kind(record.kind());
    if (legacy_rules() && record.kind() == Kind::Port) {
        LegacyPortRecord old;
        to_legacy(record.data(), old);
        return add(RECORD_PORT, &old, false);
    }
    return add(record_kind(record.kind()), record.data(), needs_extended_add(record));
}

int delete_record(Kind kind, const std::string& name, int address_kind) {
    require_kind(kind);
    const int code = record_kind(kind);
    return g_batch ? g_batch->delete_record(code, address_kind, name.c_str())
                   : QDL_Delete_Record(code, address_kind, name.c_str());
}

int choose_address_kind(const Record& device) {
    struct Address {
        std::string_view key;
        int kind;
    };
    constexpr Address addresses[] = {{"kwt_id", ADDRESS_KWT_ID},
                                     {"ip_addr", ADDRESS_TCPIP_ETH},
                                     {"dest_addr", ADDRESS_VME},
                                     {"bxln_busadr", ADDRESS_BXLN_BUS}};
    int count = 0;
    int kind = 0;
    for (const Address& a : addresses) {
        if (is_set(device, a.key)) {
            ++count;
            kind = a.kind;
        }
    }
    if (count == 0) return 0;
    if (count > 1 || is_set(device, "default_port") || is_set(device, "device_model")) {
        return ADDRESS_ALL;
    }
    return kind;
}

// ---- listing -------------------------------------------------------------------------------

namespace {

bool holds_key(const std::vector<std::string_view>& keys, std::string_view key) {
    return std::any_of(keys.begin(), keys.end(),
                       [&](std::string_view k) { return same_folded(k, key); });
}

// Whether the section's value of f.key is f.value.
bool has_value(const std::string& section, const Filter& f, const std::string& path) {
    std::vector<char> value(f.value.size() + 2);
    const std::uint32_t n = qdl::platform::profile_get_string(
        section.c_str(), f.key.c_str(), "", value.data(),
        static_cast<std::uint32_t>(value.size()), path.c_str());
    return std::string_view(value.data(), n) == f.value;
}

// Every section of the file as record reads see it: each name once (the first spelling), with
// the keys of its first occurrence, in file order; those that hold any of `any` and satisfy
// every filter (its key, and its value when one is given). A file that exists but cannot be
// read is a failure.
std::vector<std::string> sections_with(const std::vector<std::string>& any,
                                       const std::vector<Filter>& filters) {
    const Location loc = locate();
    if (config_file_state(loc.file) == FileState::Unopenable) {
        fail_status("cannot open " + loc.file + ": not a readable regular file", QDL_ERR_FILE);
    }
    std::vector<std::string> out;
    qdl::platform::profile_sections(
        loc.configured.c_str(), [&](std::string_view name, const std::vector<std::string_view>& keys) {
            const bool kind = any.empty() || std::any_of(any.begin(), any.end(), [&](const auto& k) {
                                  return holds_key(keys, k);
                              });
            if (!kind) return;
            if (!std::all_of(filters.begin(), filters.end(),
                             [&](const Filter& f) { return holds_key(keys, f.key); })) {
                return;
            }
            out.emplace_back(name);
        });
    std::erase_if(out, [&](const std::string& name) {
        return !std::all_of(filters.begin(), filters.end(), [&](const Filter& f) {
            return f.value.empty() || has_value(name, f, loc.configured);
        });
    });
    return out;
}

}  // namespace

std::vector<std::string> list_sections(const std::vector<Filter>& filters) {
    if (filters.empty() || filters.size() > 2) {
        throw Failure(kExitFailure, "a listing takes one or two filters");
    }
    return sections_with({}, filters);
}

namespace {

// The keys that make a section a record of the kind (any one of them).
std::vector<std::string> kind_keys(Kind kind) {
    switch (kind) {
    case Kind::Port: return {"TYPE"};
    case Kind::Modem: return {"MODEM_DIAL"};
    case Kind::Device: return {"KWT_ID", "IP_ADDR", "DEST_ADDR", "BXLN_BUSADR"};
    case Kind::Global: break;
    }
    return {};
}

}  // namespace

std::vector<std::string> list_group(Kind kind, const std::vector<Filter>& extra) {
    if (kind == Kind::Global) return {};
    require_kind(kind);
    std::vector<std::string> out = sections_with(kind_keys(kind), extra);
    std::sort(out.begin(), out.end());
    return out;
}

SectionKinds section_kinds(const std::string& name) {
    SectionKinds out;
    const Location loc = locate();
    if (config_file_state(loc.file) == FileState::Unopenable) {
        fail_status("cannot open " + loc.file + ": not a readable regular file", QDL_ERR_FILE);
    }
    std::string spelled;
    if (!qdl::platform::profile_section(loc.configured.c_str(), name.c_str(), spelled,
                                        out.keys)) {
        return out;
    }
    const std::vector<std::string_view> keys(out.keys.begin(), out.keys.end());
    for (Kind kind : named_kinds()) {
        const std::vector<std::string> wanted = kind_keys(kind);
        out.holds[static_cast<int>(kind)] =
            std::any_of(wanted.begin(), wanted.end(),
                        [&](const std::string& k) { return holds_key(keys, k); });
    }
    out.name = spelled;
    return out;
}

bool same_section(const std::string& a, const std::string& b) { return same_folded(a, b); }

}  // namespace qdlcfg
