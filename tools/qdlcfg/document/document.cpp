// document.cpp - records as JSON objects and back (see document.hpp).
//
//   shown_fields      which fields of a record apply to it
//   record_to_json    record -> object (show or export style)
//   record_from_json  object -> record, every problem reported
//   record_problems   checks across fields (port type, device addresses)
#include "document/document.hpp"

#include <algorithm>

#include "engine/library.hpp"

namespace qdlcfg {

std::string field_label(const Field& field, Naming naming) {
    if (naming == Naming::Key) return std::string(field.key);
    return std::string(field.options.substr(0, field.options.find(',')));
}

std::vector<const Field*> shown_fields(const Record& record) {
    std::vector<const Field*> out;
    for (const Field& f : fields_of(record.kind())) {
        if (record.kind() == Kind::Port && !applies_to(f, record.port_type())) continue;
        out.push_back(&f);
    }
    return out;
}

Json record_to_json(const Record& record, JsonStyle style, bool with_password) {
    Json object = Json::object();
    for (const Field* f : shown_fields(record)) {
        const Value v = record.get(*f);
        if (f->role == Role::Secret) {
            if (style == JsonStyle::Show) object["password_set"] = v.set;
            if (style == JsonStyle::Export && with_password && v.set) {
                object[std::string(f->key)] = text_to_json(v.text);
            }
            continue;
        }
        if (style == JsonStyle::Export && (!v.set || f->role == Role::ReadOnly)) continue;
        object[std::string(f->key)] = to_json(*f, v);
    }
    return object;
}

namespace {

// Keys that an object may carry without being a field that is written.
bool informational_key(Kind kind, const std::string& key) {
    return (kind == Kind::Port && key == "modem_dial" && !legacy_rules()) ||
           (kind == Kind::Global && key == "password_set");
}

}  // namespace

namespace {

// A record whose fields are read, checked whole: a port needs a type; then, when nothing else
// was wrong, the record's own rules. Each problem behind `where`.
void check_whole(const Record& record, const std::vector<const Field*>& given,
                 const std::string& where, std::vector<std::string>& problems) {
    if (record.kind() == Kind::Port && !record.get(*find_field(Kind::Port, "type")).set) {
        problems.push_back(where + ": no type");
    }
    if (!problems.empty()) return;
    for (const std::string& p : record_problems(record, given, Naming::Key)) {
        problems.push_back(where + ": " + p);
    }
}

}  // namespace

std::vector<std::string> record_from_json(const Json& object, const std::string& where,
                                          Record& record, bool* password_given,
                                          std::optional<int>* status,
                                          std::vector<const Field*>* named_out, bool partial) {
    std::vector<std::string> problems;
    if (!object.is_object()) return {where + ": must be an object"};
    std::vector<const Field*> given;
    std::vector<const Field*> named;  // every field named so far, under whichever name
    for (const auto& [key, value] : object.items()) {
        if (informational_key(record.kind(), key)) continue;
        const Field* f = field_by_any_name(record.kind(), key);
        if (const Field* ext = f == nullptr ? extension_field(record.kind(), key) : nullptr) {
            problems.push_back(where + ": " + key + ": the legacy library's " +
                               std::string(group_word(record.kind())) + " have no field " +
                               std::string(ext->key));
            continue;
        }
        if (f == nullptr) {
            const std::string near = closest_field_name(record.kind(), key);
            problems.push_back(where + ": unknown field \"" + key + "\"" +
                               (near.empty() ? "" : " (did you mean " + near + "?)"));
            continue;
        }
        if (std::find(named.begin(), named.end(), f) != named.end()) {
            problems.push_back(where + ": " + key + ": the field " + std::string(f->key) +
                               " is given twice");
            continue;
        }
        named.push_back(f);
        Value v;
        if (const std::string e = value_from_json(*f, value, v); !e.empty()) {
            problems.push_back(where + ": " + key + ": " + e);
            if (status != nullptr && !*status && value.is_string()) {
                *status = refusal_status(*f, value.get<std::string>());
            }
            continue;
        }
        record.put(*f, v);
        if (f->role == Role::Secret && password_given != nullptr) *password_given = true;
        if (v.set) given.push_back(f);
    }
    if (record.kind() != Kind::Global) {
        const Field& name = name_field(record.kind());
        if (!object.contains(std::string(name.key))) problems.push_back(where + ": no name");
    }
    if (named_out != nullptr) *named_out = named;
    if (partial) return problems;
    check_whole(record, given, where, problems);
    return problems;
}

std::vector<std::string> round_trip_problems(const Record& record, const std::string& where) {
    std::vector<std::string> problems;
    std::vector<const Field*> given;
    Record back(record.kind());
    for (const Field* f : shown_fields(record)) {
        const Value v = record.get(*f);
        if (!v.set || f->role == Role::ReadOnly) continue;  // as export leaves them out
        const Json j = f->role == Role::Secret ? text_to_json(v.text) : to_json(*f, v);
        Value out;
        if (const std::string e = value_from_json(*f, j, out); !e.empty()) {
            problems.push_back(where + ": " + std::string(f->key) + ": " + e);
            continue;
        }
        back.put(*f, out);
        if (out.set) given.push_back(f);
    }
    if (record.kind() != Kind::Global && !back.get(name_field(record.kind())).set) {
        problems.push_back(where + ": no name");
    }
    check_whole(back, given, where, problems);
    return problems;
}

std::vector<std::string> record_problems(const Record& record,
                                         const std::vector<const Field*>& given, Naming naming) {
    std::vector<std::string> problems;
    if (record.kind() == Kind::Port) {
        for (const Field* f : given) {
            if (applies_to(*f, record.port_type()) || f->role == Role::ReadOnly) continue;
            problems.push_back(field_label(*f, naming) + " applies to " +
                               port_types_text(f->port_types) + " ports only");
        }
    }
    if (record.kind() == Kind::Device && choose_address_kind(record) == 0) {
        std::string names;
        for (std::string_view key : {"kwt_id", "ip_addr", "dest_addr", "bxln_busadr"}) {
            const Field& f = *find_field(Kind::Device, key);
            names += (names.empty() ? "" : ", ") + field_label(f, naming);
        }
        problems.push_back("a device needs an address (" + names + ")");
    }
    return problems;
}

}  // namespace qdlcfg
