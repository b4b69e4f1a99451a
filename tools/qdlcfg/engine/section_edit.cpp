// section_edit.cpp - changing records line by line (see section_edit.hpp).
//
//   render          the library's adds with their writes noted (platform::WriteRecorder), played
//                   into sections in memory: a later write of a key replaces its value where it
//                   stands, a deleted key or section goes
//   edit_section    the section's keys compared with the rendering, one profile write for each
//                   key that differs
#include "engine/section_edit.hpp"

#include <algorithm>
#include <memory>

#include "engine/library.hpp"
#include "platform/platform.h"
#include "tskqdl32.h"

namespace qdlcfg {

namespace platform = qdl::platform;

namespace {

// What profile_get_string gives for a key that is not there: no value can be this, since a
// value read back never holds a control character other than TAB.
constexpr const char kAbsent[] = "\x01qdlcfg:absent\x01";
// Values are compared whole up to this size; a longer one is always rewritten.
constexpr std::uint32_t kValueBuffer = 1u << 16;

KeyValues::iterator find_key(KeyValues& keys, const std::string& key) {
    const std::string folded = fold(key);
    return std::find_if(keys.begin(), keys.end(),
                        [&](const auto& kv) { return fold(kv.first) == folded; });
}

void play(std::map<std::string, KeyValues>& sections, const platform::RecordedWrite& w) {
    const std::string name = fold(w.section);
    if (!w.has_key) {
        sections.erase(name);
        return;
    }
    KeyValues& keys = sections[name];
    const auto it = find_key(keys, w.key);
    if (!w.has_value) {
        if (it != keys.end()) keys.erase(it);
    } else if (it != keys.end()) {
        it->second = w.value;
    } else {
        keys.emplace_back(w.key, w.value);
    }
}

// The value as a read gives it back: blanks at both ends and matching quotes go.
std::string as_read(std::string_view v) {
    constexpr std::string_view blanks = " \t\n\v\f\r\x1a";
    const auto first = v.find_first_not_of(blanks);
    if (first == std::string_view::npos) return "";
    v = v.substr(first, v.find_last_not_of(blanks) - first + 1);
    if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'')) {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v);
}

struct Stored {
    bool present = false;
    bool whole = true;  // the value fitted the buffer
    std::string value;
};

Stored stored_value(const std::string& path, const std::string& section, const std::string& key,
                    char* buffer) {
    const std::uint32_t n = platform::profile_get_string(section.c_str(), key.c_str(), kAbsent,
                                                         buffer, kValueBuffer, path.c_str());
    Stored s;
    s.value.assign(buffer, n);
    s.present = s.value != kAbsent;
    s.whole = n + 1 < kValueBuffer;
    return s;
}

}  // namespace

const KeyValues* Rendering::section(const std::string& name) const {
    const auto it = sections.find(fold(name));
    return it == sections.end() ? nullptr : &it->second;
}

Rendering render(const std::vector<const Record*>& records, const std::string& stand_in) {
    Rendering out;
    platform::WriteRecorder recorder;
    for (std::size_t i = 0; i < records.size(); ++i) {
        Record copy = *records[i];
        if (copy.kind() != Kind::Global) {
            const Field& name = name_field(copy.kind());
            copy.put(name, Value{true, stand_in, 0});
        }
        const int address_kind = copy.kind() == Kind::Device ? choose_address_kind(copy) : 0;
        const int status = add_record(copy, address_kind);
        if (status != QDL_OK) {
            out.status = status;
            out.refused = i;
            return out;
        }
    }
    for (const platform::RecordedWrite& w : recorder.writes()) {
        play(out.sections, w);
        const bool known = std::any_of(out.touched.begin(), out.touched.end(),
                                       [&](const std::string& t) { return fold(t) == fold(w.section); });
        if (!known) out.touched.push_back(w.section);
    }
    return out;
}

std::string free_section_name(const std::string& path) {
    char buffer[4];
    for (int i = 0;; ++i) {
        std::string name = "QdlcfgStandIn" + (i == 0 ? std::string() : std::to_string(i));
        if (platform::profile_get_string(name.c_str(), nullptr, "", buffer, sizeof buffer,
                                         path.c_str()) == 0) {
            return name;
        }
    }
}

std::vector<std::string> record_keys(const std::vector<Kind>& kinds) {
    std::vector<std::string> keys;
    for (Kind kind : kinds) {
        for (const Field& f : fields_of(kind)) {
            if (f.role == Role::Name || f.ini.empty()) continue;
            const std::string key(f.ini);
            if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
        }
    }
    return keys;
}

bool edit_section(const std::string& path, const std::string& section, const KeyValues* before,
                  const KeyValues& after, const std::vector<std::string>& managed,
                  bool drop_empty) {
    const auto buffer = std::make_unique<char[]>(kValueBuffer);
    const char* file = path.c_str();
    auto holds = [](const KeyValues* keys, const std::string& key) -> const std::string* {
        if (keys == nullptr) return nullptr;
        const std::string folded = fold(key);
        for (const auto& [k, v] : *keys) {
            if (fold(k) == folded) return &v;
        }
        return nullptr;
    };
    // Keys that no longer carry a value: every copy goes (a second copy would be read next).
    std::vector<std::string> gone = managed;
    if (before != nullptr) {
        for (const auto& kv : *before) gone.push_back(kv.first);
    }
    for (const std::string& key : gone) {
        if (holds(&after, key) != nullptr) continue;
        for (int copies = 0; copies < 4096; ++copies) {
            if (!stored_value(path, section, key, buffer.get()).present) break;
            if (!platform::profile_write_string(section.c_str(), key.c_str(), nullptr, file)) {
                return false;
            }
        }
    }
    for (const auto& [key, value] : after) {
        const std::string want = as_read(value);
        // The stored records would write the same: the file already reads so (the line may
        // spell it its own way, or be absent where absence reads as this value).
        const std::string* was = holds(before, key);
        if (was != nullptr && as_read(*was) == want) continue;
        const Stored now = stored_value(path, section, key, buffer.get());
        if (now.present && now.whole && now.value == want) continue;
        if (!platform::profile_write_string(section.c_str(), key.c_str(), value.c_str(), file)) {
            return false;
        }
    }
    if (drop_empty && platform::profile_get_string(section.c_str(), nullptr, "", buffer.get(), 4,
                                                   file) == 0) {
        return platform::profile_write_string(section.c_str(), nullptr, nullptr, file);
    }
    return true;
}

}  // namespace qdlcfg
