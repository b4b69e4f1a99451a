// transfer.cpp - export (every record as one JSON document) and import (the same document
// back, validated whole before the first write, then added in one batch).
//
//   export     read_group, run_export
//   documents  load_document, read_document (-> DocumentContent), reject_document; apply's
//              "absent" member
//   import     reconcile (reconcile.cpp) in one session, report
//   progress   a bar on stderr for long imports and exports on a terminal (output.hpp)
#include <algorithm>
#include <functional>
#include <iostream>
#include <set>
#include <unordered_set>

#include "verbs/commands.hpp"
#include "document/document.hpp"
#include "engine/library.hpp"
#include "console/output.hpp"
#include "document/reconcile.hpp"
#include "console/status.hpp"
#include "tskqdl32.h"

namespace qdlcfg {

namespace {

constexpr std::string_view kFormat = "tskqdl32-configuration";
constexpr int kFormatVersion = 1;

}  // namespace

// ---- export --------------------------------------------------------------------------------

namespace {

// The document as Json::dump(2) prints it, written while it is made: each record is read,
// printed and let go, so that no tree of every record exists (nor its text whole).
class ExportWriter {
public:
    void raw(std::string_view text) {
        out_.append(text);
        if (out_.size() >= (std::size_t{1} << 20)) flush();
    }
    // A value at `depth` (its first line follows what is written already).
    void value(const Json& v, int depth) {
        const std::string text = v.dump(2);
        const std::string pad(static_cast<std::size_t>(2 * depth), ' ');
        std::size_t from = 0;
        for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
            out_.append(text, from, nl + 1 - from).append(pad);
        }
        raw(std::string_view(text).substr(from));
    }
    void flush() {
        write_stdout(out_);
        out_.clear();
    }

private:
    std::string out_;
};

// Writes the records of a group as an array; records the library refuses to read are left
// out, each with a line in `unread`.
void write_group(ExportWriter& out, Kind kind, bool with_password,
                 std::vector<std::string>& unread) {
    const std::vector<std::string> names = list_group(kind);
    Progress progress("export " + std::string(group_word(kind)), names.size());
    std::size_t done = 0, written = 0;
    for (const std::string& name : names) {
        progress.step(++done);
        Record record(kind);
        const int status = read_record(record, name);
        if (status != QDL_OK) {
            unread.push_back(std::string(kind_word(kind)) + " " + name +
                             " left out: " + describe_status(status));
            continue;
        }
        out.raw(written++ == 0 ? "[\n    " : ",\n    ");
        out.value(record_to_json(record, JsonStyle::Export, with_password), 2);
    }
    out.raw(written == 0 ? "[]" : "\n  ]");
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
    ExportWriter out;
    out.raw("{\n  \"format\": " + Json(kFormat).dump() + ",\n  \"version\": " +
            std::to_string(kFormatVersion) + ",\n  \"library\": " + Json(library_version()).dump() +
            ",\n");
    for (Kind kind : named_kinds()) {
        out.raw("  \"" + std::string(group_word(kind)) + "\": ");
        write_group(out, kind, opts.with_password, unread);
        out.raw(",\n");
    }
    out.raw("  \"global\": ");
    out.value(read_global(opts.with_password, unread), 1);
    out.raw("\n}\n");
    out.flush();
    if (!unread.empty()) {
        throw Failure(kExitRefused, std::to_string(unread.size()) + " record(s) could not be read",
                      std::nullopt, unread);
    }
    return kExitOk;
}

// ---- documents: reading and validating -----------------------------------------------------

std::string load_document(const std::string& file) {
    if (file == "-") return read_standard_input(kMaxDocumentBytes);
    return read_whole_file(file, false, kMaxDocumentBytes);
}

namespace {

// Every named record of the document, valid or not (for duplicates and "absent"), by kind and
// name folded as the library folds section names.
using Names = std::set<std::pair<Kind, std::string>>;

std::pair<Kind, std::string> folded(Kind kind, const std::string& name) {
    return {kind, fold(name)};
}

void check_header(const Json& doc, bool allow_absent, std::vector<std::string>& problems) {
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
                   key != "global" && !(allow_absent && key == "absent")) {
            problems.push_back("unknown member \"" + key + "\"");
        }
    }
}

bool named(const Names& names, Kind kind, const std::string& name) {
    return names.contains(folded(kind, name));
}

void check_duplicate(std::vector<std::string>& problems, Names& names, Kind kind,
                     const std::string& name, const std::string& where) {
    if (name.empty()) return;
    if (!names.insert(folded(kind, name)).second) {
        problems.push_back(where + ": " + std::string(kind_word(kind)) + " " + name +
                           " appears twice");
    }
}

// "absent": {"ports": [NAME...], "devices": [...], "modems": [...]}, none also present.
void validate_absent(const Json& doc, DocumentContent& content, const Names& names) {
    if (!doc.contains("absent")) return;
    const Json& absent = doc["absent"];
    if (!absent.is_object()) {
        content.problems.push_back("absent: must be an object");
        return;
    }
    for (const auto& [key, list] : absent.items()) {
        const Kind kinds[] = {Kind::Port, Kind::Device, Kind::Modem};
        const Kind* kind = std::find_if(std::begin(kinds), std::end(kinds),
                                        [&](Kind k) { return group_word(k) == key; });
        if (kind == std::end(kinds)) {
            content.problems.push_back("absent: unknown member \"" + key + "\"");
            continue;
        }
        if (*kind == Kind::Modem && legacy_rules() && !(list.is_array() && list.empty())) {
            content.problems.push_back("absent.modems: the legacy library has no modem records");
            continue;
        }
        if (!list.is_array()) {
            content.problems.push_back("absent." + key + ": must be an array");
            continue;
        }
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::string where = "absent." + key + "[" + std::to_string(i) + "]";
            std::string name;
            std::string e = text_from_json(list[i], name);
            if (e.empty()) e = check_text(name_field(*kind), name);
            if (!e.empty()) {
                content.problems.push_back(where + ": " + e);
            } else if (named(names, *kind, name)) {
                content.problems.push_back(where + ": " + std::string(kind_word(*kind)) + " " +
                                           name + " is also in " + key);
            } else {
                content.absent.emplace_back(*kind, name);
            }
        }
    }
}

}  // namespace

namespace {

// The document as the events of one parse report it, built as a tree but for the records of
// "ports", "devices" and "modems": each is handed to `on_record` as soon as it is complete and
// is not kept, so that a document of many records never exists as a whole tree beside them.
// The first member named twice in one object is noted (the tree would keep only one of them,
// and what the other held would be lost without a word: an apply --prune would even delete it).
class DocumentEvents : public nlohmann::json_sax<Json> {
public:
    using OnRecord = std::function<void(Kind, std::size_t, const Json&)>;
    explicit DocumentEvents(OnRecord on_record) : on_record_(std::move(on_record)) {}

    Json root;
    std::string repeated;
    std::size_t records[3] = {};  // elements of each group (index: Kind)
    int error_id = 0;             // the parse error, when there was one
    std::string error;

    bool null() override { return value(Json(nullptr)); }
    bool boolean(bool b) override { return value(Json(b)); }
    bool number_integer(number_integer_t n) override { return value(Json(n)); }
    bool number_unsigned(number_unsigned_t n) override { return value(Json(n)); }
    bool number_float(number_float_t n, const string_t&) override { return value(Json(n)); }
    bool string(string_t& s) override { return value(Json(std::move(s))); }
    bool binary(binary_t&) override { return value(Json()); }  // JSON text has none
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool key(string_t& name) override {
        Frame& f = stack_.back();
        if (!f.names.insert(name).second && repeated.empty()) repeated = name;
        f.key = std::move(name);
        return true;
    }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& e) override {
        error_id = e.id;
        error = e.what();
        return false;
    }

private:
    struct Frame {
        Json value;
        std::string key;                        // objects: the member being read
        std::unordered_set<std::string> names;  // objects: the members so far
        int group = -1;                         // a group's array: its Kind
    };

    bool open(Json v) {
        Frame f{std::move(v), {}, {}, -1};
        if (stack_.size() == 1 && stack_[0].value.is_object() && f.value.is_array()) {
            for (Kind kind : {Kind::Port, Kind::Device, Kind::Modem}) {
                if (stack_[0].key == group_word(kind)) f.group = static_cast<int>(kind);
            }
        }
        stack_.push_back(std::move(f));
        return true;
    }
    bool close() {
        Json v = std::move(stack_.back().value);
        stack_.pop_back();
        return value(std::move(v));
    }
    bool value(Json v) {
        if (stack_.empty()) {
            root = std::move(v);
            return true;
        }
        Frame& parent = stack_.back();
        if (parent.group >= 0) {
            const std::size_t i = records[parent.group]++;
            if (repeated.empty()) on_record_(static_cast<Kind>(parent.group), i, v);
        } else if (parent.value.is_object()) {
            parent.value[parent.key] = std::move(v);
        } else {
            parent.value.push_back(std::move(v));
        }
        return true;
    }

    OnRecord on_record_;
    std::vector<Frame> stack_;
};

// What one group's records gave, kept apart so that the problems read in the order of the kinds.
struct Group {
    std::vector<Wanted> records;
    std::vector<std::string> problems;
    std::optional<int> status;
};

}  // namespace

DocumentContent read_document(const std::string& text, bool allow_absent, bool partial) {
    DocumentContent content;
    Group groups[3];
    Names names;
    DocumentEvents events([&](Kind kind, std::size_t i, const Json& element) {
        if (kind == Kind::Modem && legacy_rules()) return;  // counted, refused below
        Group& g = groups[static_cast<int>(kind)];
        const std::string where = std::string(group_word(kind)) + "[" + std::to_string(i) + "]";
        Wanted item{Record(kind), false, {}};
        const auto problems = record_from_json(element, where, item.record, nullptr, &g.status,
                                               partial ? &item.named : nullptr, partial);
        g.problems.insert(g.problems.end(), problems.begin(), problems.end());
        check_duplicate(g.problems, names, kind, item.record.name(), where);
        if (problems.empty()) g.records.push_back(std::move(item));
    });
    if (!Json::sax_parse(text, &events)) {  // a syntax error, or a number beyond a double
        const std::string& what = events.error;
        content.problems.push_back(
            (events.error_id < 400 ? "not a JSON document: " : "unreadable JSON: ") +
            what.substr(what.find(']') + 2));
        return content;
    }
    if (!events.repeated.empty()) {
        content.problems.push_back("the member \"" + events.repeated +
                                   "\" is given twice in one object");
        return content;
    }
    const Json& doc = events.root;
    if (!doc.is_object()) {
        content.problems.push_back("the document must be a JSON object");
        return content;
    }
    if (!doc.contains("format") && !doc.contains("version")) {
        content.problems.push_back("not a configuration document (no \"format\" and \"version\")");
        return content;
    }
    check_header(doc, allow_absent, content.problems);
    for (Kind kind : {Kind::Device, Kind::Port, Kind::Modem}) {
        const std::string group(group_word(kind));
        if (!doc.contains(group)) continue;
        const int k = static_cast<int>(kind);
        if (kind == Kind::Modem && legacy_rules()) {
            // A current library's export says "modems": []; with none in it, it is no group here.
            if (!doc[group].is_array() || events.records[k] > 0) {
                content.problems.push_back(group + ": the legacy library has no modem records");
            }
            continue;
        }
        content.groups[k] = true;
        if (!doc[group].is_array()) {
            content.problems.push_back(group + ": must be an array");
            continue;
        }
        Group& g = groups[k];
        content.problems.insert(content.problems.end(), g.problems.begin(), g.problems.end());
        if (!content.status) content.status = g.status;
        for (Wanted& w : g.records) content.records.push_back(std::move(w));
        g.records = {};
    }
    if (doc.contains("global") && !doc["global"].is_null()) {
        Wanted item{Record(Kind::Global), false, {}};
        const auto problems =
            record_from_json(doc["global"], "global", item.record, &item.password_given,
                             &content.status, &item.named, partial);
        content.problems.insert(content.problems.end(), problems.begin(), problems.end());
        if (problems.empty()) content.records.push_back(std::move(item));
    }
    if (allow_absent) validate_absent(doc, content, names);
    return content;
}

void reject_document(const std::vector<std::string>& problems, std::optional<int> status) {
    if (problems.size() == 1) {
        throw Failure(kExitInvalid, problems.front() + " (nothing was written)", status);
    }
    constexpr std::size_t kShown = 50;
    const std::vector<std::string> shown(problems.begin(),
                                         problems.begin() + std::min(problems.size(), kShown));
    throw Failure(kExitInvalid,
                  std::to_string(problems.size()) +
                      " problems in the document (nothing was written)",
                  status, shown);
}

// ---- import --------------------------------------------------------------------------------

namespace {


// What became of a record: added, replaced, unchanged, refused, or "not written" (it would have
// been added or replaced, but something else was refused, so nothing was written).
std::string result_of(const Change& c, bool written) {
    if (c.failed()) return "refused";
    if (c.action == Change::Action::Unchanged) return "unchanged";
    if (!written) return "not written";
    switch (c.action) {
    case Change::Action::Update: return "replaced";
    case Change::Action::Delete: return "deleted";  // import plans none; never call one added
    default: return "added";
    }
}

void report(const Context& ctx, const Outcome& outcome, bool written) {
    // The last two are counted in the text only when there are any.
    constexpr std::string_view kResults[] = {"added", "replaced", "unchanged", "refused",
                                             "not written", "deleted"};
    std::size_t counts[std::size(kResults)] = {};
    // One record a line: the JSON list or the table, whichever is printed.
    Json records = Json::array();
    Table t({"KIND", "NAME", "RESULT", "STATUS"});
    for (const Change& c : outcome.changes) {
        const std::string result = result_of(c, written);
        for (std::size_t i = 0; i < std::size(kResults); ++i) counts[i] += result == kResults[i];
        if (ctx.json) {
            Json r = {{"kind", kind_word(c.kind)}, {"name", text_to_json(c.name)},
                      {"result", result}, {"status", c.status}};
            if (c.status != QDL_OK) r["status_name"] = status_info(c.status).name;
            if (!c.problem.empty()) r["note"] = c.problem;
            records.push_back(std::move(r));
            continue;
        }
        std::string status = "0";
        if (c.status != QDL_OK) {
            status = std::to_string(c.status) + " " + std::string(status_info(c.status).name) +
                     " (" +
                     (c.problem.empty() ? std::string(status_info(c.status).meaning) : c.problem) +
                     ")";
        } else if (!c.problem.empty()) {
            status = c.problem;
        }
        t.add({std::string(kind_word(c.kind)), c.kind == Kind::Global ? "-" : c.name, result,
               status});
    }
    if (ctx.json) {
        Json j = Json::object();
        for (std::size_t i = 0; i < std::size(kResults); ++i) {
            std::string key(kResults[i]);
            std::replace(key.begin(), key.end(), ' ', '_');
            j[key] = counts[i];
        }
        j["records"] = std::move(records);
        note_backup(j);
        write_stdout(json_document("import", j));
        return;
    }
    std::string summary;
    for (std::size_t i = 0; i < std::size(kResults); ++i) {
        if (i >= 4 && counts[i] == 0) continue;
        summary += (summary.empty() ? "" : ", ") + std::to_string(counts[i]) + " " +
                   std::string(kResults[i]);
    }
    write_stdout(t.render() + summary + "\n" + backup_line());
}

}  // namespace

int run_import(const Context& ctx, const ImportOptions& opts) {
    DocumentContent doc = read_document(load_document(opts.file), false);
    if (!doc.problems.empty()) reject_document(doc.problems, doc.status);
    Session session;
    Progress progress("import", doc.records.size());
    const Outcome outcome = reconcile(doc, opts.replace ? Goal::Replace : Goal::Add, false,
                                      [&](std::size_t done, std::size_t total) { progress.step(done, total); });
    const int written = outcome.failed ? outcome.status : session.commit();
    session.abandon();
    report(ctx, outcome, !outcome.failed && written == QDL_OK);
    if (outcome.failed) {
        std::size_t refused = 0;
        for (const Change& c : outcome.changes) refused += c.failed() ? 1 : 0;
        const bool library = outcome.status != QDL_OK;
        throw Failure(library ? exit_code_for(outcome.status) : kExitRefused,
                      std::to_string(refused) + " of " + std::to_string(outcome.changes.size()) +
                          " records refused, nothing was written (" + outcome.message + ")",
                      library ? std::optional<int>(outcome.status) : std::nullopt);
    }
    if (written != QDL_OK) {
        fail_status("the configuration file could not be written, nothing was written", written);
    }
    return kExitOk;
}

}  // namespace qdlcfg
