// library.cpp - the tool's calls into TSKQDL32 (see library.hpp).
//
//   session    the open batch, if any: every call below goes through it
//   records    read_record, add_record, delete_record, choose_address_kind
//   listing    query (one QDL_Get_List with room for every name),
//              list_sections, list_group (unions and intersections of queries)
#include "library.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "exports/batch.h"
#include "platform/platform.h"
#include "location.hpp"
#include "status.hpp"
#include "tskqdl32.h"

namespace qdlcfg {

// ---- session -------------------------------------------------------------------------------

namespace {

qdl::Batch* g_batch = nullptr;

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

int get_list(const ListFilter* first, const ListFilter* second, char* names,
             unsigned short* count) {
    return g_batch ? g_batch->get_list(first, second, names, count)
                   : QDL_Get_List(first, second, names, count);
}

}  // namespace

Session::Session(bool dry_run) {
    if (g_batch != nullptr) throw Failure(kExitFailure, "a session is open already");
    batch_ = std::make_unique<qdl::Batch>(dry_run ? qdl::Batch::Mode::DryRun
                                                  : qdl::Batch::Mode::Write);
    g_batch = batch_.get();
}

Session::~Session() { abandon(); }

int Session::commit() {
    if (!batch_) return QDL_ERR_FILE;
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

// ---- records -------------------------------------------------------------------------------

int read_record(Record& record, const std::string& name) {
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
    return add(record_kind(record.kind()), record.data(), needs_extended_add(record));
}

int delete_record(Kind kind, const std::string& name, int address_kind) {
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

constexpr std::size_t kNameBytes = 66;

ListFilter make_filter(const Filter& f) {
    ListFilter lf;
    std::memset(&lf, 0, sizeof lf);
    std::memcpy(lf.key, f.key.data(), std::min(f.key.size(), sizeof lf.key - 1));
    std::memcpy(lf.value, f.value.data(), std::min(f.value.size(), sizeof lf.value - 1));
    return lf;
}

bool config_file_missing() { return config_file_state(locate().file) == FileState::Missing; }

std::vector<std::string> unpack(const char* buffer, unsigned short count) {
    std::vector<std::string> names;
    names.reserve(count);
    const char* p = buffer;
    for (unsigned short i = 0; i < count; ++i) {
        names.emplace_back(p, strnlen(p, kNameBytes));
        p += names.back().size() + 1;
    }
    return names;
}

// One QDL_Get_List with room for as many names as a listing can report, so that the file is
// scanned once however many sections match. The buffer is not cleared: only the pages that
// names are written to are ever touched.
std::vector<std::string> query(const ListFilter* first, const ListFilter* second) {
    constexpr std::size_t kCapacity = 65535;
    const auto buffer = std::make_unique_for_overwrite<char[]>(kCapacity * kNameBytes);
    auto count = static_cast<unsigned short>(kCapacity);
    const int found = get_list(first, second, buffer.get(), &count);
    if (found == QDL_ERR_FILE && config_file_missing()) return {};
    if (found < 0) fail_status("listing the configuration file", found);
    if (static_cast<std::size_t>(found) > count) {
        throw Failure(kExitFailure, "more than 65535 matching sections: cannot list them all");
    }
    return unpack(buffer.get(), count);
}

// Names by their case-folded form: sections match without regard to case, and the spelling
// kept is that of the first occurrence in the file (the listing reports the last one first).
using NameMap = std::map<std::string, std::string>;

NameMap by_folded(const std::vector<std::string>& names) {
    NameMap map;
    for (const std::string& n : names) map[fold(n)] = n;
    return map;
}

// The sections holding the group key and every extra filter.
NameMap with_extras(const Filter& key, const std::vector<Filter>& extra) {
    const ListFilter k = make_filter(key);
    if (extra.empty()) return by_folded(query(&k, nullptr));
    NameMap result;
    for (std::size_t i = 0; i < extra.size(); ++i) {
        const ListFilter e = make_filter(extra[i]);
        NameMap names = by_folded(query(&k, &e));
        if (i == 0) {
            result = std::move(names);
            continue;
        }
        std::erase_if(result, [&](const auto& entry) { return !names.contains(entry.first); });
    }
    return result;
}

}  // namespace

std::vector<std::string> list_sections(const std::vector<Filter>& filters) {
    if (filters.empty() || filters.size() > 2) {
        throw Failure(kExitFailure, "a listing takes one or two filters");
    }
    const ListFilter first = make_filter(filters[0]);
    if (filters.size() == 1) return query(&first, nullptr);
    const ListFilter second = make_filter(filters[1]);
    return query(&first, &second);
}

std::vector<std::string> list_group(Kind kind, const std::vector<Filter>& extra) {
    std::vector<std::string> keys;
    switch (kind) {
    case Kind::Port: keys = {"TYPE"}; break;
    case Kind::Modem: keys = {"MODEM_DIAL"}; break;
    case Kind::Device: keys = {"KWT_ID", "IP_ADDR", "DEST_ADDR", "BXLN_BUSADR"}; break;
    case Kind::Global: return {};
    }
    NameMap names;
    for (const std::string& key : keys) names.merge(with_extras(Filter{key, ""}, extra));
    std::vector<std::string> out;
    for (const auto& entry : names) out.push_back(entry.second);
    std::sort(out.begin(), out.end());
    return out;
}

bool same_section(const std::string& a, const std::string& b) { return fold(a) == fold(b); }

}  // namespace qdlcfg
