// document.hpp - records as JSON: the objects of `show --json` and of the export document, and
// the checks that turn such an object back into a record.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/fields.hpp"

namespace qdlcfg {

enum class JsonStyle {
    Show,    // every field that applies, null when unset; the password only as "password_set"
    Export,  // set fields only; the password only when asked for
};

Json record_to_json(const Record& record, JsonStyle style, bool with_password = false);

// The fields of a record that apply to it (ports: those of its type; global: all).
std::vector<const Field*> shown_fields(const Record& record);

// Builds a record from a JSON object of the export format. Returns the problems found (one
// line each, prefixed with `where`); the record is complete only when none are returned.
// `password_given` tells whether a global object names its password.
// `status`, when not null and still empty, receives the library's status for the first value
// that the library itself would refuse (refusal_status).
// `named`, when not null, receives every field the object names (set or null); with
// `partial`, a port needs no type and the record is not checked whole (apply --merge checks it
// once merged with the stored one).
std::vector<std::string> record_from_json(const Json& object, const std::string& where,
                                          Record& record, bool* password_given = nullptr,
                                          std::optional<int>* status = nullptr,
                                          std::vector<const Field*>* named_out = nullptr,
                                          bool partial = false);

// How messages name fields: by JSON key ("ip_addr") or by command-line option ("--ip").
// What import would refuse in the record as export writes it (the same problems, worded the
// same, as record_from_json of record_to_json(record, Export, true) gives), without making
// either: a value that reads but that no add can write.
std::vector<std::string> round_trip_problems(const Record& record, const std::string& where);

enum class Naming { Key, Option };
std::string field_label(const Field& field, Naming naming);
inline std::string option_name(const Field& field) { return field_label(field, Naming::Option); }

// The problems of a record built from options or JSON that the tool can see before the
// library does (fields of another port type, a device without an address).
std::vector<std::string> record_problems(const Record& record,
                                         const std::vector<const Field*>& given, Naming naming);

}  // namespace qdlcfg
