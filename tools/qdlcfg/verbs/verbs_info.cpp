// verbs_info.cpp - the verbs that only read: version, where, list, show, get.

#include <map>

#include <optional>

#include "verbs/commands.hpp"
#include "document/document.hpp"
#include "engine/library.hpp"
#include "engine/location.hpp"
#include "console/output.hpp"
#include "platform/platform.h"
#include "console/status.hpp"
#include "tskqdl32.h"

#ifndef QDLCFG_VERSION
#define QDLCFG_VERSION "0"
#endif

namespace qdlcfg {

namespace {

void emit_json(std::string_view shape, const Json& json) {
    write_stdout(json_document(shape, json));
}

struct FileKind {
    bool exists = false;
    bool regular = false;  // only a regular file is ever read or written; anything else is
                           // read as missing and cannot be written
};

FileKind file_kind(const std::string& path) {
    const qdl::platform::PathKind kind = qdl::platform::path_kind(path);
    return {kind == qdl::platform::PathKind::Regular || kind == qdl::platform::PathKind::Other,
            kind == qdl::platform::PathKind::Regular};
}

// A read that failed. The library reads a file it cannot open as an empty one, so a record
// "not found" there is really a file that cannot be read (exit 3, as for every other verb).
[[noreturn]] void fail_read(const std::string& what, int status) {
    if (status == QDL_ERR_NOT_FOUND) {
        const std::string file = locate().file;
        if (config_file_state(file) == FileState::Unopenable) {
            throw Failure(kExitFile, "cannot open " + file + ": not a readable regular file");
        }
    }
    fail_status(what, status);
}

}  // namespace

// ---- version -------------------------------------------------------------------------------

int run_version(const Context& ctx) {
    if (ctx.json) {
        emit_json("version", {{"tool", QDLCFG_VERSION}, {"library", library_version()}});
    } else {
        write_stdout("qdlcfg " QDLCFG_VERSION "\nlibrary " + library_version() + "\n");
    }
    return kExitOk;
}

// ---- where ---------------------------------------------------------------------------------

namespace {

// Every record of the file the library's path copies name, as export would write it.
std::map<std::string, Json> records_of_file() {
    std::map<std::string, Json> out;
    for (Kind kind : named_kinds()) {
        for (const std::string& name : list_group(kind)) {
            Record r(kind);
            const int status = read_record(r, name);
            out[std::string(kind_word(kind)) + " " + fold(name)] =
                status == QDL_OK ? record_to_json(r, JsonStyle::Export, true) : Json(status);
        }
    }
    Record g(Kind::Global);
    if (read_record(g, "") == QDL_OK) out["global"] = record_to_json(g, JsonStyle::Export, true);
    return out;
}

// How many records the two files hold differently (in one only, or with other fields).
std::size_t differing_records(const std::string& current, const std::string& legacy) {
    const std::string saved = configured_path();
    set_configured_path(current);
    const auto a = records_of_file();
    set_configured_path(legacy);
    const auto b = records_of_file();
    set_configured_path(saved);
    std::size_t n = 0;
    for (const auto& [key, value] : a) {
        const auto it = b.find(key);
        n += it == b.end() || it->second != value ? 1 : 0;
    }
    for (const auto& [key, value] : b) n += a.contains(key) ? 0 : 1;
    return n;
}

}  // namespace

int run_where(const Context& ctx) {
    const Location loc = locate();
    const FileKind kind = file_kind(loc.file);
    const std::string legacy = legacy_file();
    // Both files there and not the same: how far apart legacy hosts and current hosts are.
    std::optional<std::size_t> apart;
    if (legacy != loc.file && kind.exists && kind.regular &&
        config_file_state(legacy) == FileState::Readable) {
        apart = differing_records(loc.configured, legacy);
    }
    if (ctx.json) {
        // Paths and the registry's value are bytes: {"hex": ...} when they are not UTF-8.
        emit_json("where", {{"file", text_to_json(loc.file)},
                   {"exists", kind.exists},
                   {"regular", kind.regular},
                   {"source", loc.given ? "file option" : loc.registered ? "registry" : "default"},
                   {"configured", text_to_json(loc.configured)},
                   {"registry_note", text_to_json(loc.registry_note)},
                   {"prefix", text_to_json(loc.prefix)},
                   {"prefix_source", loc.prefix_source},
                   {"registry_file", text_to_json(loc.registry_file)},
                   {"windows_directory", text_to_json(loc.windows_dir)},
                   {"code_page", loc.code_page},
                   {"legacy_file", text_to_json(legacy)},
                   {"legacy_same", legacy == loc.file},
                   {"legacy_differing_records", apart ? Json(*apart) : Json()}});
        return kExitOk;
    }
    Table t({"WHAT", "VALUE"});
    t.add({"configuration file",
           loc.file + (!kind.exists   ? " (does not exist yet)"
                       : !kind.regular ? " (not a regular file: read as missing, cannot be written)"
                                       : "")});
    t.add({"found by", loc.given        ? std::string("--file")
                       : loc.registered ? std::string("registry value kbRTTskCfgIni")
                                        : "default name tsk_cfg.ini (" + loc.registry_note + ")"});
    t.add({"configured path", loc.configured});
    t.add({"prefix", loc.prefix + " (from " + loc.prefix_source + ")"});
    t.add({"registry file", loc.registry_file});
    t.add({"windows directory", loc.windows_dir});
    t.add({"code page", std::to_string(loc.code_page)});
    t.add({"legacy library's file",
           legacy == loc.file ? legacy + " (the same)"
           : apart ? legacy + " (a different file: " + std::to_string(*apart) +
                         " record(s) differ between the two)"
                   : legacy + " (a different file: legacy hosts do not see this one)"});
    write_stdout(t.render());
    return kExitOk;
}

// ---- list ----------------------------------------------------------------------------------

namespace {

std::vector<Filter> parse_keys(const std::vector<std::string>& keys) {
    if (keys.size() > 2) fail_usage("--key: at most two keys");
    std::vector<Filter> filters;
    for (const std::string& k : keys) {
        const auto eq = k.find('=');
        Filter f{k.substr(0, eq), eq == std::string::npos ? "" : k.substr(eq + 1)};
        for (Kind kind : {Kind::Port, Kind::Device, Kind::Modem}) {
            if (const Field* field = field_by_any_name(kind, f.key); field && !f.key.empty()) {
                f.key = std::string(field->ini);  // --key model=X: the key DEVICE_MODEL
                break;
            }
        }
        if (f.key.empty()) {
            fail_usage("--key: the key is empty: " + describe_status(QDL_ERR_EMPTY_FILTER),
                       QDL_ERR_EMPTY_FILTER);
        }
        if (f.key.size() > QDL_NAME_SIZE - 1) fail_usage("--key: a key has at most 65 bytes");
        if (f.value.size() > 81) fail_usage("--key: a value has at most 81 bytes");
        filters.push_back(std::move(f));
    }
    return filters;
}

std::vector<Kind> kinds_for(const std::string& word) {
    if (word == "ports") return {Kind::Port};
    if (word == "devices") return {Kind::Device};
    if (word == "modems") return {Kind::Modem};
    return {named_kinds().begin(), named_kinds().end()};
}

}  // namespace

int run_list(const Context& ctx, const ListOptions& opts) {
    const std::vector<Filter> filters = parse_keys(opts.keys);
    Json json = Json::object();
    Table t({"KIND", "NAME"});
    for (Kind kind : kinds_for(opts.kind)) {
        const std::vector<std::string> names = list_group(kind, filters);
        Json& group = json[std::string(group_word(kind))] = Json::array();
        for (const std::string& n : names) {
            group.push_back(text_to_json(n));
            t.add({std::string(kind_word(kind)), n});
        }
    }
    if (ctx.json) {
        emit_json("list", json);
    } else {
        write_stdout(t.render());
    }
    return kExitOk;
}

// ---- show ----------------------------------------------------------------------------------

int run_show(const Context& ctx, Kind kind, const std::string& name) {
    Record record(kind);
    const int status = read_record(record, name);
    if (status != QDL_OK) fail_read(kind == Kind::Global ? "global parameters" : name, status);
    if (ctx.json) {
        Json j = Json::object();
        j["kind"] = kind_word(kind);
        j.update(record_to_json(record, JsonStyle::Show));
        emit_json("record", j);
        return kExitOk;
    }
    Table t({"FIELD", "KEY", "VALUE", "MEANING"});
    for (const Field* f : shown_fields(record)) {
        t.add({std::string(f->key), std::string(f->ini), display(*f, record.get(*f)),
               std::string(f->meaning)});
    }
    write_stdout(t.render());
    return kExitOk;
}

// ---- get -----------------------------------------------------------------------------------

namespace {

// A field by any of its names (see field_by_any_name).
const Field* field_named(Kind kind, const std::string& word) {
    return field_by_any_name(kind, word);
}

}  // namespace

// One value for scripts: printed as `show` prints it (as JSON with --json); a field that is not
// set prints nothing and exits 1, as `git config --get` does.
int run_get(const Context& ctx, const GetOptions& opts) {
    const bool password_set = opts.kind == Kind::Global && opts.field == "password_set";
    const Field* field = password_set ? nullptr : field_named(opts.kind, opts.field);
    if (field == nullptr && !password_set) {
        const std::string near = closest_field_name(opts.kind, opts.field);
        fail_usage("FIELD: " + std::string(kind_word(opts.kind)) + " records have no field \"" +
                   opts.field + "\"" + (near.empty() ? "" : " (did you mean " + near + "?)"));
    }
    if (field != nullptr && field->role == Role::Secret) {
        fail_usage("FIELD: the password is never printed (password_set says whether there is one)");
    }
    Record record(opts.kind);
    if (const int status = read_record(record, opts.name); status != QDL_OK) {
        fail_read(opts.kind == Kind::Global ? "global parameters"
                                            : std::string(kind_word(opts.kind)) + " " + opts.name,
                  status);
    }
    if (password_set) {
        const bool set = record.get(*find_field(Kind::Global, "password")).set;
        write_stdout(ctx.json ? Json(set).dump() + "\n" : set ? "true\n" : "false\n");
        return kExitOk;
    }
    Value value = record.get(*field);
    if (opts.kind == Kind::Port && !applies_to(*field, record.port_type())) value = Value{};
    if (!value.set) {
        // Unset: nothing printed (as git config --get), or null for a program; exit 1 either way.
        if (ctx.json) write_stdout("null\n");
        return kExitRefused;
    }
    write_stdout((ctx.json ? to_json(*field, value).dump() : display(*field, value)) + "\n");
    return kExitOk;
}

}  // namespace qdlcfg
