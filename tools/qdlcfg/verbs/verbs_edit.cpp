// verbs_edit.cpp - the verbs that change the file: add, set global, delete.
//
//   build_record            options -> record, every value checked first
//   run_add                 one QDL_Add_Record(_Ex)
//   read_password           --password-stdin (no echo on a terminal)
//   run_set_global          read, merge the given fields, write only the keys that differ
//                           (one batch)
//   other_kinds_in_section  what else a section delete would remove
//   run_delete              QDL_Delete_Record in one batch with the look at the section,
//                           refusing to take other records along

#include <algorithm>
#include <iostream>
#include <optional>

#include "verbs/commands.hpp"
#include "document/document.hpp"
#include "engine/library.hpp"
#include "console/output.hpp"
#include "platform/platform.h"
#include "document/reconcile.hpp"
#include "console/status.hpp"
#include "tskqdl32.h"

namespace qdlcfg {

namespace {

void emit_result(const Context& ctx, Kind kind, const std::string& name,
                 const std::string& result, const std::string& human,
                 const std::vector<std::string>& warnings = {}) {
    if (ctx.json) {
        Json j = Json::object();
        j["kind"] = kind_word(kind);
        if (kind != Kind::Global) j["name"] = text_to_json(name);
        j["result"] = result;
        note_backup(j);
        if (!warnings.empty()) report_warnings(ctx, warnings, &j);
        write_stdout(json_document("result", j));
    } else {
        report_warnings(ctx, warnings, nullptr);
        write_stdout(human + "\n" + backup_line());
    }
}

// Applies the given options to `record`; usage errors name the option. An empty text or
// "unset" leaves a field unset, as `set` takes them.
std::vector<const Field*> apply_given(Record& record, const Given& given) {
    std::vector<const Field*> fields;
    for (const auto& [field, text] : given) {
        Value v;
        if (field->type == Type::Text && (text.empty() || text == "unset")) {
            record.put(*field, v);
            continue;
        }
        if (const std::string e = parse_value(*field, text, v); !e.empty()) {
            fail_usage(option_name(*field) + ": " + e, refusal_status(*field, text));
        }
        record.put(*field, v);
        if (v.set) fields.push_back(field);
    }
    return fields;
}

Record build_record(const AddOptions& opts) {
    Record record(opts.kind);
    const Field& name = name_field(opts.kind);
    if (const std::string e = check_text(name, opts.name); !e.empty()) {
        fail_usage("NAME: " + e, refusal_status(name, opts.name));
    }
    record.put(name, Value{true, opts.name, 0});
    const std::vector<const Field*> fields = apply_given(record, opts.given);
    const std::vector<std::string> problems = record_problems(record, fields, Naming::Option);
    if (!problems.empty()) fail_usage(problems.front());
    return record;
}

}  // namespace

// ---- add -----------------------------------------------------------------------------------

int run_add(const Context& ctx, const AddOptions& opts) {
    Record record = build_record(opts);
    const int address_kind = opts.kind == Kind::Device ? choose_address_kind(record) : 0;
    Session session;
    const int status = add_record(record, address_kind);
    const std::string what = std::string(kind_word(opts.kind)) + " " + opts.name;
    if (status != QDL_OK) fail_status(what, status);
    if (const int written = session.commit(); written != QDL_OK) fail_status(what, written);
    emit_result(ctx, opts.kind, opts.name, "added", "added " + what, warnings_after({opts.name}));
    return kExitOk;
}

// ---- set global ----------------------------------------------------------------------------

namespace {

// A prompt on a terminal, and what is typed there not echoed.
class EchoOff {
public:
    EchoOff() {
        if (quiet_.active()) std::cerr << "Password: " << std::flush;
    }
    ~EchoOff() {
        if (quiet_.active()) std::cerr << std::endl;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    qdl::platform::QuietInput quiet_;
};

std::string read_password() {
    std::string line;
    {
        EchoOff quiet;
        if (!std::getline(std::cin, line) && line.empty()) {
            throw Failure(kExitFile, "--password-stdin: no line on standard input");
        }
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) fail_usage("--password-stdin: empty password (use --no-password)");
    return line;
}

Record current_global() {
    Record record(Kind::Global);
    const int status = read_record(record, "");
    if (status != QDL_OK && status != QDL_ERR_NOT_FOUND) {
        fail_status("global parameters", status);
    }
    return record;
}

}  // namespace

int run_set_global(const Context& ctx, const SetGlobalOptions& opts) {
    if (opts.given.empty() && !opts.password_stdin && !opts.no_password) {
        fail_usage("nothing to set: give --connect-timeout, --request-timeout, "
                   "--password-stdin or --no-password");
    }
    if (opts.password_stdin && opts.no_password) {
        fail_usage("--password-stdin and --no-password exclude each other");
    }
    Record given(Kind::Global);
    apply_given(given, opts.given);  // before the password is read: usage errors first
    const Field& password = *find_field(Kind::Global, "password");
    std::optional<std::string> clear;
    if (opts.password_stdin) {
        clear = read_password();
        if (const std::string e = check_text(password, *clear); !e.empty()) {
            fail_usage("--password-stdin: " + e);
        }
    }
    Session session;
    Record record = current_global();
    for (const auto& [field, text] : opts.given) record.put(*field, given.get(*field));
    if (opts.no_password) record.put(password, Value{});
    if (clear) record.put(password, Value{true, *clear, 0});
    DocumentContent doc;
    doc.records.push_back(Wanted{record, opts.no_password || opts.password_stdin, {}});
    const Outcome outcome = reconcile(doc, Goal::Apply, false);
    if (outcome.failed) {
        if (outcome.status != QDL_OK) fail_status("global parameters", outcome.status);
        throw Failure(kExitRefused, outcome.message + " (nothing was written)");
    }
    if (const int status = session.commit(); status != QDL_OK) {
        fail_status("global parameters: the configuration file could not be written, nothing "
                    "was written", status);
    }
    const bool changed = outcome.changed() > 0;
    std::string human = changed ? "set global parameters:" : "global parameters: no change";
    if (changed) {
        for (const Field& f : fields_of(Kind::Global)) {
            human.append(" ").append(f.key).append(" ").append(display(f, record.get(f))) += ',';
        }
        human.pop_back();
    }
    emit_result(ctx, Kind::Global, "", changed ? "set" : "unchanged", human);
    return kExitOk;
}

// ---- delete --------------------------------------------------------------------------------

std::vector<Kind> other_kinds_in_section(Kind kind, const std::string& name) {
    std::vector<Kind> others;
    const SectionKinds section = section_kinds(name);
    for (Kind k : named_kinds()) {
        if (k != kind && section.holds[static_cast<int>(k)]) others.push_back(k);
    }
    return others;
}

namespace {

struct AddressWord {
    std::string_view word;
    int kind;
    std::string_view key;
};

constexpr AddressWord kAddressWords[] = {{"kwt-id", ADDRESS_KWT_ID, "KWT_ID"},
                                         {"ip", ADDRESS_TCPIP_ETH, "IP_ADDR"},
                                         {"dest", ADDRESS_VME, "DEST_ADDR"},
                                         {"bxln", ADDRESS_BXLN_BUS, ""},
                                         {"all", ADDRESS_ALL, ""}};

const AddressWord& address_word(const std::string& word) {
    for (const AddressWord& a : kAddressWords) {
        if (a.word == word) return a;
    }
    fail_usage("--address: must be one of kwt-id|ip|dest|bxln|all");
}

bool section_has(const std::string& key, const std::string& name) {
    const std::vector<std::string> keys = section_kinds(name).keys;
    return std::any_of(keys.begin(), keys.end(),
                       [&](const std::string& k) { return same_section(k, key); });
}

// Whether a device delete removes the whole section: always with "all", otherwise when none of
// KWT_ID, IP_ADDR and DEST_ADDR is left after it.
bool device_delete_takes_section(const AddressWord& address, const std::string& name) {
    if (address.kind == ADDRESS_ALL) return true;
    for (const AddressWord& a : kAddressWords) {
        if (a.key.empty() || a.key == address.key) continue;
        if (section_has(std::string(a.key), name)) return false;
    }
    return true;
}

void refuse_collateral(const DeleteOptions& opts, const std::vector<Kind>& others) {
    std::string list;
    for (Kind k : others) list += (list.empty() ? "" : " and ") + std::string(kind_word(k));
    throw Failure(kExitRefused, "the section " + opts.name + " also holds a " + list +
                                    " record, which this delete would remove too "
                                    "(add --force to delete them together)");
}

}  // namespace

int run_delete(const Context& ctx, const DeleteOptions& opts) {
    const AddressWord& address = address_word(opts.address);
    // The look at the section and the delete are one batch: no other writer comes between.
    Session session;
    const bool takes_section = opts.kind == Kind::Global ||
                               opts.kind != Kind::Device ||
                               device_delete_takes_section(address, opts.name);
    if (opts.kind == Kind::Device && address.kind == ADDRESS_BXLN_BUS && !takes_section) {
        throw Failure(kExitRefused, "the BXLN bus address of device " + opts.name +
                                        " goes only with its last KWT id, IP or destination "
                                        "address (use --address all to delete the device)");
    }
    if (opts.kind != Kind::Global && takes_section && !opts.force) {
        const std::vector<Kind> others = other_kinds_in_section(opts.kind, opts.name);
        if (!others.empty()) refuse_collateral(opts, others);
    }
    const int status = delete_record(opts.kind, opts.name, address.kind);
    const std::string what = opts.kind == Kind::Global
                                 ? std::string("global parameters")
                                 : std::string(kind_word(opts.kind)) + " " + opts.name;
    if (status == QDL_ERR_NOT_FOUND) {
        // Nothing to delete: what was asked for holds already (as Ansible's state=absent).
        emit_result(ctx, opts.kind, opts.name, "already absent", what + ": already absent");
        return kExitOk;
    }
    if (status != QDL_OK) fail_status(what, status);
    if (const int written = session.commit(); written != QDL_OK) {
        fail_status(what + ": the configuration file could not be written, nothing was written",
                    written);
    }
    std::string human = "deleted " + what;
    if (opts.kind == Kind::Device && address.kind != ADDRESS_ALL) {
        human += " (" + opts.address + " address" +
                 (takes_section ? ", the last one: the device is gone)" : ")");
    }
    emit_result(ctx, opts.kind, opts.name, "deleted", human);
    return kExitOk;
}

}  // namespace qdlcfg
