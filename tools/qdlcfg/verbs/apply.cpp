// apply.cpp - the verbs that make stored records equal to what they are given, in one batch of
// the library each: apply (a whole document) and set port|device|modem (fields of one record).
//
//   changes as text   one line per change; with --diff a line per field, before -> after
//   changes as JSON   {"changed", "check", "changes": [{action, kind, name, fields}]}
//   run_apply         document -> reconcile -> commit (not with --check) -> report
//   run_set           stored record + the given fields -> the same way
#include "verbs/commands.hpp"
#include "document/document.hpp"
#include "engine/library.hpp"
#include "console/output.hpp"
#include "document/reconcile.hpp"
#include "console/status.hpp"
#include "document/text_diff.hpp"
#include "tskqdl32.h"

namespace qdlcfg {

namespace {

constexpr const char* kHidden = "<hidden>";

std::string_view action_word(Change::Action action) {
    switch (action) {
    case Change::Action::Add: return "add";
    case Change::Action::Update: return "update";
    case Change::Action::Delete: return "delete";
    default: return "unchanged";
    }
}

std::string what(const Change& c) {
    if (c.kind == Kind::Global) return "global";
    return std::string(kind_word(c.kind)) + " " + c.name;
}

// A value as a change shows it: the password never, only whether there is one.
std::string shown(const FieldChange& f, const Value& v) {
    if (f.field->role == Role::Secret && v.set) return kHidden;
    return display(*f.field, v);
}

Json shown_json(const FieldChange& f, const Value& v) {
    if (f.field->role == Role::Secret) return v.set ? Json(kHidden) : Json(nullptr);
    return to_json(*f.field, v);
}

std::string changes_text(const Outcome& outcome, bool diff) {
    std::string out;
    for (const Change& c : outcome.changes) {
        if (c.action == Change::Action::Unchanged) continue;
        out += std::string(action_word(c.action)) + " " + what(c);
        if (!diff && c.action == Change::Action::Update) {
            std::string names;
            for (const FieldChange& f : c.fields()) {
                names += (names.empty() ? "" : ", ") + std::string(f.field->key);
            }
            out += " (" + names + ")";
        }
        out += "\n";
        if (!diff) continue;
        for (const FieldChange& f : c.fields()) {
            out += "  " + std::string(f.field->key) + ": " + shown(f, f.before) + " -> " +
                   shown(f, f.after) + "\n";
        }
    }
    return out;
}

Json change_json(const Change& c, bool diff) {
    Json j = Json::object();
    j["action"] = action_word(c.action);
    j["kind"] = kind_word(c.kind);
    j["name"] = c.kind == Kind::Global ? Json(nullptr) : text_to_json(c.name);
    if (diff || c.action == Change::Action::Update) {
        Json fields = Json::object();
        for (const FieldChange& f : c.fields()) {
            fields[std::string(f.field->key)] = {{"before", shown_json(f, f.before)},
                                                 {"after", shown_json(f, f.after)}};
        }
        j["fields"] = std::move(fields);
    }
    return j;
}

// The sections of the records that changed (the global parameters' own when they did).
std::vector<std::string> changed_sections(const Outcome& outcome) {
    std::vector<std::string> out;
    for (const Change& c : outcome.changes) {
        if (c.action == Change::Action::Unchanged || c.action == Change::Action::Delete) continue;
        out.push_back(c.kind == Kind::Global ? std::string("Global_Parameters") : c.name);
    }
    return out;
}

// Ends the verb when something was refused: the session writes nothing.
void stop_if_refused(const Outcome& outcome) {
    if (!outcome.failed) return;
    const bool library = outcome.status != QDL_OK;
    throw Failure(library ? exit_code_for(outcome.status) : kExitRefused,
                  outcome.message + " (nothing was written)",
                  library ? std::optional<int>(outcome.status) : std::nullopt);
}

void write_changes(Session& session) {
    const int written = session.commit();
    session.abandon();
    if (written != QDL_OK) {
        fail_status("the configuration file could not be written, nothing was written",
                    written);
    }
}

}  // namespace

// ---- apply ---------------------------------------------------------------------------------

int run_apply(const Context& ctx, const ApplyOptions& opts) {
    bool prunable[3] = {true, true, true};
    if (!opts.prune_kinds.empty()) {
        if (!opts.prune) fail_usage("--prune-kinds goes with --prune (write --prune=KINDS)");
        std::fill(std::begin(prunable), std::end(prunable), false);
        for (std::string_view rest = opts.prune_kinds; !rest.empty();) {
            const auto comma = rest.find(',');
            const std::string_view word = rest.substr(0, comma);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            bool known = false;
            for (Kind kind : {Kind::Port, Kind::Device, Kind::Modem}) {
                if (word == group_word(kind) || word == kind_word(kind)) {
                    prunable[static_cast<int>(kind)] = known = true;
                }
            }
            if (!known) {
                fail_usage("--prune: \"" + std::string(word) +
                           "\" is no kind (ports, devices, modems)");
            }
        }
    }
    if (!opts.keep.empty() && !opts.prune) fail_usage("--keep goes with --prune");
    DocumentContent doc = read_document(load_document(opts.file), true, opts.merge);
    if (!doc.problems.empty()) reject_document(doc.problems, doc.status);
    doc.merge = opts.merge;
    doc.keep = opts.keep;
    std::copy(std::begin(prunable), std::end(prunable), std::begin(doc.prunable));
    Session session(opts.check);
    const std::string before = opts.diff ? file_text() : std::string();
    Progress progress("apply", doc.records.size());
    const Outcome outcome = reconcile(doc, Goal::Apply, opts.prune,
                                      [&](std::size_t done, std::size_t total) { progress.step(done, total); });
    stop_if_refused(outcome);
    const std::vector<std::string> lines =
        opts.diff ? text_diff(before, file_text()) : std::vector<std::string>{};
    write_changes(session);
    const std::vector<std::string> warnings = opts.check ? std::vector<std::string>{}
                                                         : warnings_after(changed_sections(outcome));

    const std::size_t changed = outcome.changed();
    if (ctx.json) {
        Json changes = Json::array();
        for (const Change& c : outcome.changes) {
            if (c.action != Change::Action::Unchanged) changes.push_back(change_json(c, opts.diff));
        }
        Json j = {{"changed", changed > 0}, {"check", opts.check}, {"changes", std::move(changes)}};
        if (opts.diff) {
            Json file_lines = Json::array();
            for (const std::string& l : lines) file_lines.push_back(text_to_json(l));
            j["lines"] = std::move(file_lines);
        }
        note_backup(j);
        report_warnings(ctx, warnings, &j);
        write_stdout(json_document("apply", j));
        return kExitOk;
    }
    report_warnings(ctx, warnings, nullptr);
    std::size_t counts[3] = {0, 0, 0};  // added, updated, deleted
    for (const Change& c : outcome.changes) {
        if (c.action != Change::Action::Unchanged) ++counts[static_cast<int>(c.action)];
    }
    std::string summary = changed == 0 ? std::string("no changes")
                                       : std::to_string(counts[0]) + " added, " +
                                             std::to_string(counts[1]) + " updated, " +
                                             std::to_string(counts[2]) + " deleted";
    if (opts.check) summary += changed == 0 ? " (check)" : " (check: nothing was written)";
    std::string file_part;
    for (const std::string& l : lines) file_part += l + "\n";
    write_stdout(changes_text(outcome, opts.diff) + file_part + summary + "\n" + backup_line());
    return kExitOk;
}

// ---- set port|device|modem -----------------------------------------------------------------

namespace {

// The given options as values; an empty text or "unset" unsets a field (a text field too, as
// the help says, so "unset" is never stored as a text).
std::vector<std::pair<const Field*, Value>> parse_given(const Given& given) {
    std::vector<std::pair<const Field*, Value>> out;
    for (const auto& [field, text] : given) {
        Value v;
        if (field->type == Type::Text && (text.empty() || text == "unset")) {
            out.emplace_back(field, v);
            continue;
        }
        if (const std::string e = parse_value(*field, text, v); !e.empty()) {
            fail_usage(option_name(*field) + ": " + e, refusal_status(*field, text));
        }
        out.emplace_back(field, v);
    }
    return out;
}

// The stored record with the given fields; a port that changes its type loses the fields that
// do not apply to the new one (unless they are given, which record_problems then refuses).
Record merged(const Record& stored, const std::vector<std::pair<const Field*, Value>>& values) {
    Record record = stored;
    std::vector<const Field*> given;
    for (const auto& [field, value] : values) {
        record.put(*field, value);
        if (value.set) given.push_back(field);
    }
    if (record.kind() == Kind::Port) {
        for (const Field& f : fields_of(Kind::Port)) {
            if (f.role == Role::Plain && !applies_to(f, record.port_type())) {
                record.put(f, Value{});
            }
        }
    }
    const std::vector<std::string> problems = record_problems(record, given, Naming::Option);
    if (!problems.empty()) fail_usage(problems.front());
    return record;
}

}  // namespace

int run_set(const Context& ctx, const SetOptions& opts) {
    if (opts.given.empty()) fail_usage("nothing to set: give at least one field option");
    const auto values = parse_given(opts.given);
    const std::string label = std::string(kind_word(opts.kind)) + " " + opts.name;
    Session session;
    Record stored(opts.kind);
    if (const int status = read_record(stored, opts.name); status != QDL_OK) {
        fail_status(label, status);
    }
    DocumentContent doc;
    doc.records.push_back(Wanted{merged(stored, values), false, {}});
    const Outcome outcome = reconcile(doc, Goal::Apply, false);
    stop_if_refused(outcome);
    write_changes(session);

    const Change& c = outcome.changes.front();
    const bool changed = c.action != Change::Action::Unchanged;
    const std::vector<std::string> warnings = warnings_after(changed_sections(outcome));
    report_warnings(ctx, warnings, nullptr);
    if (ctx.json) {
        Json j = change_json(c, true);
        j["result"] = changed ? "set" : "unchanged";
        note_backup(j);
        report_warnings(ctx, warnings, &j);
        write_stdout(json_document("set", j));
        return kExitOk;
    }
    if (!changed) {
        write_stdout(label + ": no change\n");
        return kExitOk;
    }
    std::string fields;
    for (const FieldChange& f : c.fields()) {
        fields += (fields.empty() ? " " : ", ") + std::string(f.field->key) + " " +
                  shown(f, f.before) + " -> " + shown(f, f.after);
    }
    write_stdout("set " + label + ":" + fields + "\n" + backup_line());
    return kExitOk;
}

}  // namespace qdlcfg
