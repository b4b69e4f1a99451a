// transfer.cpp - export (every record as one JSON document) and import (the same document
// back, validated whole before the first write).
//
//   export     read_group, run_export
//   import     load_document, validate (-> Plan), apply (record by record), report
//   progress   a bar on stderr for long imports on a terminal
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "commands.hpp"
#include "document.hpp"
#include "library.hpp"
#include "output.hpp"
#include "status.hpp"
#include "tskqdl32.h"

namespace qdlcfg {

namespace {

constexpr std::string_view kFormat = "tskqdl32-configuration";
constexpr int kFormatVersion = 1;
constexpr Kind kGroups[] = {Kind::Port, Kind::Device, Kind::Modem};

}  // namespace

// ---- export --------------------------------------------------------------------------------

namespace {

// Reads every record of a group; records the library refuses to read are left out, each with a
// line in `unread`.
Json read_group(Kind kind, bool with_password, std::vector<std::string>& unread) {
    Json array = Json::array();
    for (const std::string& name : list_group(kind)) {
        Record record(kind);
        const int status = read_record(record, name);
        if (status != QDL_OK) {
            unread.push_back(std::string(kind_word(kind)) + " " + name +
                             " left out: " + describe_status(status));
            continue;
        }
        array.push_back(record_to_json(record, JsonStyle::Export, with_password));
    }
    return array;
}

Json read_global(bool with_password, std::vector<std::string>& unread) {
    Record record(Kind::Global);
    const int status = read_record(record, "");
    if (status == QDL_ERR_NOT_FOUND) return nullptr;
    if (status != QDL_OK) {
        unread.push_back("global parameters left out: " + describe_status(status));
        return nullptr;
    }
    return record_to_json(record, JsonStyle::Export, with_password);
}

}  // namespace

int run_export(const Context&, const ExportOptions& opts) {
    std::vector<std::string> unread;
    Json doc = Json::object();
    doc["format"] = kFormat;
    doc["version"] = kFormatVersion;
    doc["library"] = library_version();
    for (Kind kind : kGroups) {
        doc[std::string(group_word(kind))] = read_group(kind, opts.with_password, unread);
    }
    doc["global"] = read_global(opts.with_password, unread);
    write_stdout(doc.dump(2) + "\n");
    if (!unread.empty()) {
        throw Failure(kExitRefused, std::to_string(unread.size()) + " record(s) could not be read",
                      std::nullopt, unread);
    }
    return kExitOk;
}

// ---- import: reading and validating --------------------------------------------------------

namespace {

struct Item {
    Record record;
    bool password_given = false;  // global only
};

struct Plan {
    std::vector<Item> items;  // devices, then ports, modems, global: the order of adding
    std::vector<std::string> problems;
    std::vector<std::pair<Kind, std::string>> names;  // every named record, valid or not
};

std::string load_document(const std::string& file) {
    if (file == "-") {
        std::ostringstream text;
        text << std::cin.rdbuf();
        if (std::cin.bad()) throw Failure(kExitFile, "cannot read standard input");
        return text.str();
    }
    return read_whole_file(file, false);
}

void check_header(const Json& doc, std::vector<std::string>& problems) {
    for (const char* key : {"format", "version"}) {
        if (!doc.contains(key)) problems.push_back(std::string(key) + ": missing");
    }
    for (const auto& [key, value] : doc.items()) {
        if (key == "format") {
            if (value != kFormat) {
                problems.push_back("format: must be \"" + std::string(kFormat) + "\"");
            }
        } else if (key == "version") {
            if (value != kFormatVersion) problems.push_back("version: must be 1");
        } else if (key != "library" && key != "ports" && key != "devices" && key != "modems" &&
                   key != "global") {
            problems.push_back("unknown member \"" + key + "\"");
        }
    }
}

void check_duplicate(Plan& plan, Kind kind, const std::string& name, const std::string& where) {
    if (name.empty()) return;
    for (const auto& [k, n] : plan.names) {
        if (k == kind && same_section(n, name)) {
            plan.problems.push_back(where + ": " + std::string(kind_word(kind)) + " " + name +
                                    " appears twice");
            return;
        }
    }
    plan.names.emplace_back(kind, name);
}

void validate_group(const Json& doc, Kind kind, Plan& plan) {
    const std::string group(group_word(kind));
    if (!doc.contains(group)) return;
    const Json& array = doc[group];
    if (!array.is_array()) {
        plan.problems.push_back(group + ": must be an array");
        return;
    }
    for (std::size_t i = 0; i < array.size(); ++i) {
        const std::string where = group + "[" + std::to_string(i) + "]";
        Item item{Record(kind)};
        const auto problems = record_from_json(array[i], where, item.record);
        plan.problems.insert(plan.problems.end(), problems.begin(), problems.end());
        check_duplicate(plan, kind, item.record.name(), where);
        if (problems.empty()) plan.items.push_back(std::move(item));
    }
}

Plan validate(const std::string& text) {
    Plan plan;
    Json doc;
    try {
        doc = Json::parse(text);
    } catch (const Json::exception& e) {  // a syntax error, or a number beyond a double
        const std::string what = e.what();
        return {{},
                {(e.id < 400 ? "not a JSON document: " : "unreadable JSON: ") +
                 what.substr(what.find(']') + 2)},
                {}};
    }
    if (!doc.is_object()) return {{}, {"the document must be a JSON object"}, {}};
    if (!doc.contains("format") && !doc.contains("version")) {
        return {{}, {"not a configuration document (no \"format\" and \"version\")"}, {}};
    }
    check_header(doc, plan.problems);
    for (Kind kind : {Kind::Device, Kind::Port, Kind::Modem}) validate_group(doc, kind, plan);
    if (doc.contains("global") && !doc["global"].is_null()) {
        Item item{Record(Kind::Global)};
        const auto problems =
            record_from_json(doc["global"], "global", item.record, &item.password_given);
        plan.problems.insert(plan.problems.end(), problems.begin(), problems.end());
        if (problems.empty()) plan.items.push_back(std::move(item));
    }
    return plan;
}

[[noreturn]] void reject(const std::vector<std::string>& problems) {
    if (problems.size() == 1) {
        throw Failure(kExitInvalid, problems.front() + " (nothing was written)");
    }
    constexpr std::size_t kShown = 50;
    const std::vector<std::string> shown(problems.begin(),
                                         problems.begin() + std::min(problems.size(), kShown));
    throw Failure(kExitInvalid,
                  std::to_string(problems.size()) +
                      " problems in the document (nothing was written)",
                  std::nullopt, shown);
}

// ---- import: adding ------------------------------------------------------------------------

struct Outcome {
    Kind kind;
    std::string name;
    std::string result;  // "added", "replaced" or "refused"
    int status = QDL_OK;
    std::string note;
};

// The records of the file before the import, by kind (for --replace).
struct Existing {
    std::vector<std::string> names[3];
    bool global = false;

    bool has(Kind kind, const std::string& name) const {
        for (const std::string& n : names[static_cast<int>(kind)]) {
            if (same_section(n, name)) return true;
        }
        return false;
    }
};

Existing survey() {
    Existing e;
    for (Kind kind : kGroups) e.names[static_cast<int>(kind)] = list_group(kind);
    Record global(Kind::Global);
    e.global = read_record(global, "") == QDL_OK;
    return e;
}

bool in_plan(const Plan& plan, Kind kind, const std::string& name) {
    for (const Item& item : plan.items) {
        if (item.record.kind() == kind && same_section(item.record.name(), name)) return true;
    }
    return false;
}

// A record of another kind in the same section that the document does not bring back.
std::string lost_neighbour(const Plan& plan, const Existing& before, const Item& item) {
    for (Kind kind : kGroups) {
        if (kind == item.record.kind()) continue;
        const std::string& name = item.record.name();
        if (before.has(kind, name) && !in_plan(plan, kind, name)) {
            return "replacing it would also delete the " + std::string(kind_word(kind)) +
                   " " + name;
        }
    }
    return "";
}

Outcome add_global(Item& item, const Existing& before, bool replace) {
    Outcome out{Kind::Global, "", "added", QDL_OK, ""};
    if (before.global && !replace) {
        out.result = "refused";
        out.status = QDL_ERR_EXISTS;
        out.note = "use --replace to replace the global parameters";
        return out;
    }
    if (before.global && !item.password_given) {  // keep the stored password
        Record stored(Kind::Global);
        if (read_record(stored, "") == QDL_OK) {
            const Field& pw = *find_field(Kind::Global, "password");
            item.record.put(pw, stored.get(pw));
        }
    }
    if (before.global) out.result = "replaced";
    out.status = add_record(item.record, 0);
    return out;
}

Outcome add_item(Item& item, const Plan& plan, const Existing& before, bool replace) {
    const Kind kind = item.record.kind();
    if (kind == Kind::Global) return add_global(item, before, replace);
    const std::string name = item.record.name();
    Outcome out{kind, name, "added", QDL_OK, ""};
    if (replace && before.has(kind, name)) {
        out.note = lost_neighbour(plan, before, item);
        if (!out.note.empty()) {
            out.result = "refused";
            out.status = QDL_ERR_EXISTS;
            return out;
        }
        const int status = delete_record(kind, name, ADDRESS_ALL);
        if (status != QDL_OK && status != QDL_ERR_NOT_FOUND) {
            out.result = "refused";
            out.status = status;
            out.note = "the existing record could not be deleted";
            return out;
        }
        out.result = "replaced";
    }
    const int address_kind = kind == Kind::Device ? choose_address_kind(item.record) : 0;
    out.status = add_record(item.record, address_kind);
    return out;
}

class Progress {
public:
    explicit Progress(std::size_t total)
        : total_(total), shown_(total > kThreshold && isatty(STDERR_FILENO)) {}
    void step(std::size_t done) {
        if (!shown_ || (done % 16 != 0 && done != total_)) return;
        const std::size_t filled = done * 40 / total_;
        std::cerr << "\r[" << std::string(filled, '#') << std::string(40 - filled, '.') << "] "
                  << done << "/" << total_ << " records" << std::flush;
        if (done == total_) std::cerr << "\n";
    }

private:
    static constexpr std::size_t kThreshold = 300;
    std::size_t total_;
    bool shown_;
};

void report(const Context& ctx, const std::vector<Outcome>& outcomes) {
    std::size_t counts[3] = {0, 0, 0};  // added, replaced, refused
    Json records = Json::array();
    Table t({"KIND", "NAME", "RESULT", "STATUS"});
    for (const Outcome& o : outcomes) {
        counts[o.result == "added" ? 0 : o.result == "replaced" ? 1 : 2]++;
        Json r = {{"kind", kind_word(o.kind)}, {"name", text_to_json(o.name)},
                  {"result", o.result}, {"status", o.status}};
        std::string status = "0";
        if (o.status != QDL_OK) {
            r["status_name"] = status_info(o.status).name;
            status = std::to_string(o.status) + " " + std::string(status_info(o.status).name) +
                     " (" + (o.note.empty() ? std::string(status_info(o.status).meaning) : o.note) +
                     ")";
        }
        if (!o.note.empty()) r["note"] = o.note;
        records.push_back(std::move(r));
        t.add({std::string(kind_word(o.kind)), o.kind == Kind::Global ? "-" : o.name, o.result,
               status});
    }
    if (ctx.json) {
        Json j = {{"added", counts[0]}, {"replaced", counts[1]}, {"refused", counts[2]},
                  {"records", std::move(records)}};
        write_stdout(j.dump(2) + "\n");
        return;
    }
    write_stdout(t.render() + std::to_string(counts[0]) + " added, " + std::to_string(counts[1]) +
                 " replaced, " + std::to_string(counts[2]) + " refused\n");
}

}  // namespace

int run_import(const Context& ctx, const ImportOptions& opts) {
    Plan plan = validate(load_document(opts.file));
    if (!plan.problems.empty()) reject(plan.problems);
    const Existing before = survey();
    std::vector<Outcome> outcomes;
    Progress progress(plan.items.size());
    for (Item& item : plan.items) {
        outcomes.push_back(add_item(item, plan, before, opts.replace));
        if (outcomes.back().status != QDL_OK) outcomes.back().result = "refused";
        progress.step(outcomes.size());
    }
    report(ctx, outcomes);
    std::size_t refused = 0;
    bool file_error = false;
    for (const Outcome& o : outcomes) {
        refused += o.result == "refused" ? 1 : 0;
        file_error = file_error || o.status == QDL_ERR_FILE;
    }
    if (refused > 0) {
        throw Failure(file_error ? kExitFile : kExitRefused,
                      std::to_string(refused) + " of " + std::to_string(outcomes.size()) +
                          " records refused" +
                          (file_error ? " (the configuration file could not be written)" : ""));
    }
    return kExitOk;
}

}  // namespace qdlcfg
