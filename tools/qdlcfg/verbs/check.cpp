// check.cpp - `qdlcfg check`: reads the configuration file's text the way the record functions
// and the listing read it, and reports what they would misread or refuse.
//
//   for_each_line    the text's lines (CR LF, LF or CR end a line), with their numbers
//   parse_profile    sections and entries as the profile functions see them (trimmed, quotes),
//                    views of the text
//   check_*          one function per kind of problem
//   run_check        all of them, as a table or JSON; exit 1 when anything was found
#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "verbs/commands.hpp"
#include "document/document.hpp"
#include "engine/library.hpp"
#include "engine/location.hpp"
#include "console/output.hpp"
#include "platform/platform.h"
#include "console/status.hpp"
#include "tskqdl32.h"

namespace qdlcfg {

namespace {

constexpr std::size_t kValueBytes = 65;   // the most a record read sees of a value
constexpr std::size_t kLinePiece = 127;   // the listing reads lines in pieces of this size

// Lines, entries and sections are views into the file's text, which outlives them.
struct Line {
    std::string_view text;  // without its line end
    int number;
    bool ended;        // had a line end
    bool lone_cr = false;  // ended by a CR without LF
};

struct Entry {
    std::string_view key;
    std::string_view value;  // as a record read sees it (trimmed, quotes removed)
    int line;
};

struct Section {
    std::string_view name;
    int line;
    std::vector<Entry> entries;
};

struct Problem {
    Problem(int at, std::string_view in, std::string_view k, std::string c, std::string m)
        : line(at), section(in), key(k), code(std::move(c)), message(std::move(m)) {}
    int line;
    std::string section;
    std::string key;
    std::string code;
    std::string message;
    bool warning = false;  // breaks a host rather than the file's reading: an error with --strict
};

using Problems = std::vector<Problem>;

// Calls f(line) for each line of the text (CR LF, LF or CR end one), one at a time.
template <class F>
void for_each_line(std::string_view text, F&& f) {
    std::size_t start = 0;
    int number = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') continue;
        const bool crlf = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        f(Line{text.substr(start, i - start), number++, true, text[i] == '\r' && !crlf});
        if (crlf) ++i;
        start = i + 1;
    }
    if (start < text.size()) f(Line{text.substr(start), number, false, false});
}

void check_line(const Line& l, Problems& out);

std::string_view trim(std::string_view s) {
    constexpr std::string_view ws = " \t\n\v\f\r\x1a";
    const auto first = s.find_first_not_of(ws);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(ws) - first + 1);
}

std::string_view unquote(std::string_view v) {
    if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'')) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

// The sections and entries of the text; with `line_problems`, each line is checked on the way.
std::vector<Section> parse_profile(std::string_view text, Problems* line_problems = nullptr) {
    std::vector<Section> sections;
    for_each_line(text, [&](const Line& l) {
        if (line_problems != nullptr) check_line(l, *line_problems);
        const std::string_view t = trim(l.text);
        if (t.empty()) return;
        const auto close = t.rfind(']');
        if (t.front() == '[' && close != std::string_view::npos) {
            sections.push_back({trim(t.substr(1, close - 1)), l.number, {}});
            return;
        }
        const auto eq = t.find('=');
        if (sections.empty() || eq == std::string_view::npos || t.front() == ';') return;
        sections.back().entries.push_back(
            {trim(t.substr(0, eq)), unquote(trim(t.substr(eq + 1))), l.number});
    });
    return sections;
}

bool same_key(std::string_view a, std::string_view b) { return same_folded(a, b); }

// ---- the checks ----------------------------------------------------------------------------

// Whether the text ends inside a double-byte character of the active code page.
bool ends_in_lead_byte(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!qdl::platform::is_lead_byte(static_cast<unsigned char>(text[i]))) continue;
        if (i + 1 == text.size()) return true;
        ++i;
    }
    return false;
}

void check_line(const Line& l, Problems& out) {
    {
        if (l.lone_cr) {
            out.push_back({l.number, "", "", "lone-cr",
                           "a CR without LF ends this line for record reads; the listing reads "
                           "it and the next line as one"});
        }
        if (ends_in_lead_byte(trim(l.text))) {
            out.push_back({l.number, "", "", "cut-character",
                           "the line ends inside a double-byte character: the listing reads "
                           "the line break as part of it"});
        }
        const std::size_t bytes = l.text.size() + (l.ended ? 1 : 0);
        if (bytes > kLinePiece) {
            out.push_back({l.number, "", "", "long-line",
                           "line of " + std::to_string(bytes) +
                               " bytes: the listing reads it in pieces of 127 bytes"});
        }
    }
}

void check_names(const std::vector<Section>& sections, Problems& out) {
    std::unordered_map<std::string, const Section*> seen;
    for (const Section& s : sections) {
        const auto first = s.name.empty() ? 0 : static_cast<unsigned char>(s.name.front());
        if (!((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z'))) {
            out.push_back({s.line, s.name, "", "bad-name",
                           "section name does not begin with a letter: no record can have it"});
        }
        if (s.name.find_first_of(" ;=[]") != std::string_view::npos) {
            out.push_back({s.line, s.name, "", "name-listing",
                           "the listing drops blanks, cuts at ';' and reads '=', '[' and ']' "
                           "its own way: it names this section differently or not at all"});
        }
        const auto [earlier, added] = seen.try_emplace(fold(s.name), &s);
        if (!added) {
            out.push_back({s.line, s.name, "", "duplicate-section",
                           "section repeated (first at line " +
                               std::to_string(earlier->second->line) +
                               "): record reads see only the first"});
        }
    }
}

bool is_hex(std::string_view v) {
    return std::all_of(v.begin(), v.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    });
}

bool is_decimal(std::string_view v) {
    const std::size_t start = !v.empty() && v[0] == '-' ? 1 : 0;
    return v.size() > start &&
           std::all_of(v.begin() + static_cast<long>(start), v.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

void check_value(const Section& s, const Entry& e, Problems& out) {
    auto report = [&](const char* code, const std::string& message) {
        out.push_back({e.line, s.name, e.key, code, message});
    };
    // "\"VALUE\"" (built piece by piece: GCC 12 warns falsely of overlap in a + chain here)
    auto quoted = [&] {
        std::string q;
        q.reserve(e.value.size() + 2);
        q.append(1, '"').append(e.value).append(1, '"');
        return q;
    };
    if (e.value.size() > kValueBytes) {
        report("long-value", std::to_string(e.value.size()) +
                                 " bytes: record reads cut it to its first 65 bytes");
    }
    if (e.value.find_first_of("[]") != std::string_view::npos) {
        report("bracket-value", "the listing takes a line holding '[' or ']' for a section "
                                "header: the record can go unlisted");
    }
    if (!e.value.empty() && e.value.front() == '?') {
        report("absent-marker", "a value beginning with '?' reads as absent");
        return;
    }
    constexpr std::string_view type_words[] = {"KWT_SERIAL", "kbRT_KWT_SERIAL", "TCPIP_ETH",
                                               "TCPIP_SLIP", "VME_PORT", "BXLN_BUS"};
    if (same_key(e.key, "TYPE") &&
        std::find(std::begin(type_words), std::end(type_words), e.value) == std::end(type_words)) {
        report("unknown-type", "unknown TYPE word " + quoted() +
                                   ": reading the port fails with QDL_ERR_BAD_PORT_TYPE");
    }
    for (auto [key, digits] : {std::pair<std::string_view, std::size_t>{"BXLN_CONTROL", 4},
                               {"BXLN_PORT", 4}, {"BXLN_ADDR", 8}, {"DEST_ADDR", 8}}) {
        if (same_key(e.key, key) && (e.value.size() != digits || !is_hex(e.value))) {
            report("bad-hex", "must be " + std::to_string(digits) +
                                  " hexadecimal digits: other characters read as 0");
        }
    }
    for (auto [key, a, b, c] : {std::tuple<std::string_view, const char*, const char*,
                                           const char*>{"PARITY", "ODD", "EVEN", "NONE"},
                                {"MULTISESS", "YES", "NO", "NO"}}) {
        if (same_key(e.key, key) && e.value != a && e.value != b && e.value != c) {
            report("bad-word", quoted() + " is no " + std::string(key) +
                                   " word (they are upper case): it reads as unset");
        }
    }
    constexpr std::string_view numbers[] = {
        "STOPBITS", "BAUDRATE", "BXLN_CHANNEL", "BXLN_BUSADR", "MODEM_DEVICEID",
        "CONNECT_TIMEOUT", "REQUEST_TIMEOUT", "MODEM_TURN", "KWT_T1", "KWT_T2", "KWT_T3",
        "KWT_T3P", "KWT_T3PP", "KWT_T4", "KWT_T5", "KWT_T5P", "KWT_T5PP"};
    for (std::string_view key : numbers) {
        if (same_key(e.key, key) && !is_decimal(e.value)) {
            report("bad-number", quoted() + " is not a decimal number");
        }
    }
}

// Only what a record read sees is checked: the first of a repeated key, and nothing in a
// repeated section (check_names reports the repetition itself).
void check_entries(const std::vector<Section>& sections, Problems& out) {
    std::unordered_set<std::string> seen_sections;
    for (const Section& s : sections) {
        if (!seen_sections.insert(fold(s.name)).second) continue;
        // The first entry of each key: looked for one by one in a section of a record's few
        // keys, by folded name in a long one.
        const bool few = s.entries.size() <= 64;
        std::vector<const Entry*> firsts;
        std::unordered_map<std::string, const Entry*> by_name;
        for (const Entry& e : s.entries) {
            const Entry* earlier = nullptr;
            if (few) {
                const auto it = std::find_if(firsts.begin(), firsts.end(), [&](const Entry* f) {
                    return same_key(f->key, e.key);
                });
                if (it != firsts.end()) earlier = *it;
                else firsts.push_back(&e);
            } else if (const auto [it, added] = by_name.try_emplace(fold(e.key), &e); !added) {
                earlier = it->second;
            }
            if (earlier == nullptr) {
                check_value(s, e, out);
                continue;
            }
            out.push_back({e.line, s.name, e.key, "duplicate-key",
                           "key repeated (first at line " + std::to_string(earlier->line) +
                               "): record reads see only the first"});
        }
    }
}

void check_claims(const std::vector<Section>& sections, Problems& out) {
    for (const Section& s : sections) {
        bool port = false, device = false, modem = false;
        for (const Entry& e : s.entries) {
            port = port || same_key(e.key, "TYPE");
            // A legacy serial port's own dial string; no modem record there.
            modem = modem || (same_key(e.key, "MODEM_DIAL") && !legacy_rules());
            for (std::string_view k : {"KWT_ID", "IP_ADDR", "DEST_ADDR", "BXLN_BUSADR"}) {
                device = device || same_key(e.key, k);
            }
        }
        if (int(port) + int(device) + int(modem) < 2) continue;
        std::string kinds = std::string(port ? "port " : "") + (device ? "device " : "") +
                            (modem ? "modem " : "");
        kinds.pop_back();
        out.push_back({s.line, s.name, "", "shared-section",
                       "claimed by several kinds (" + kinds +
                           "): deleting one record deletes the others"});
    }
}

// ---- records: what export and import would do with them -------------------------------------

// Every record read as a host reads it, then checked as import checks a document: a value the
// library reads but no add can write (a time-out of 49) exports, and its import then fails.
// A record that cannot be read at all (export leaves it out) is reported too, unless its
// section is reported already.
void check_records(const std::vector<Section>& sections, Problems& out) {
    std::unordered_map<std::string, const Section*> first;
    for (const Section& s : sections) first.try_emplace(fold(s.name), &s);
    auto line_of = [&](const std::string& name) {
        const auto it = first.find(fold(name));
        return it == first.end() ? 0 : it->second->line;
    };
    // A section with an error reported already is not clean anyway: one report is enough.
    std::unordered_set<std::string> with_errors;
    for (const Problem& p : out) {
        if (!p.warning) with_errors.insert(fold(p.section));
    }
    auto reported = [&](const std::string& section) {
        return with_errors.contains(fold(section));
    };
    auto check_one = [&](Kind kind, const std::string& name) {
        Record record(kind);
        const int line = line_of(kind == Kind::Global ? "Global_Parameters" : name);
        const std::string section = kind == Kind::Global ? "Global_Parameters" : name;
        if (reported(section)) return;
        const int status = read_record(record, name);
        if (status == QDL_ERR_NOT_FOUND && kind == Kind::Global) return;
        if (status != QDL_OK) {
            {
                out.push_back({line, name, "", "unreadable",
                               std::string(kind_word(kind)) + " " + name +
                                   " cannot be read (" + describe_status(status) +
                                   "): export leaves it out"});
            }
            return;
        }
        for (const std::string& p : round_trip_problems(record, std::string(kind_word(kind)))) {
            out.push_back({line, section, "", "no-round-trip",
                           "reads as a value that no add can write, so export and import fail: " +
                               p});
        }
    };
    for (Kind kind : named_kinds()) {
        for (const std::string& name : list_group(kind)) check_one(kind, name);
    }
    check_one(Kind::Global, "");
}

// ---- warnings: what a host cannot use -------------------------------------------------------

bool is_ipv4(std::string_view v) {
    int parts = 0;
    while (true) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (digits < v.size() && v[digits] >= '0' && v[digits] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(v[digits] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        ++parts;
        v.remove_prefix(digits);
        if (v.empty()) return parts == 4;
        if (v.front() != '.' || parts == 4) return false;
        v.remove_prefix(1);
    }
}

// A dotted host name: labels of letters, digits and '-' (not at a label's ends), at most 63
// bytes each, 253 in all, the last one not all digits.
bool is_host_name(std::string_view v) {
    if (v.empty() || v.size() > 253 || v.find('.') == std::string_view::npos) return false;
    std::string_view last;
    for (std::string_view rest = v; !rest.empty() || !last.empty();) {
        const auto dot = rest.find('.');
        const std::string_view label = rest.substr(0, dot);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
            return false;
        }
        for (char c : label) {
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-')) {
                return false;
            }
        }
        last = label;
        if (dot == std::string_view::npos) break;
        rest = rest.substr(dot + 1);
        if (rest.empty()) return false;
    }
    return last.find_first_not_of("0123456789") != std::string_view::npos;
}

const Entry* entry_of(const Section& s, std::string_view key) {
    for (const Entry& e : s.entries) {
        if (same_key(e.key, key)) return &e;
    }
    return nullptr;
}

// Whether the file holds a record of the kind by that name.
using Holds = std::function<bool(Kind kind, std::string_view name)>;

// What a host cannot use in one section (the first of its name): dangling references, an
// address that is none, a password every user can read.
void host_problems(const Section& s, const Holds& holds, bool password_readable, Problems& out) {
    struct Reference {
        std::string_view key;
        Kind holder;  // the records it is read from
        Kind target;
    };
    constexpr Reference references[] = {{"DEFAULT_PORT", Kind::Device, Kind::Port},
                                        {"ASSOC_DEVICE", Kind::Device, Kind::Device},
                                        {"MODEM_RECORDNAME", Kind::Port, Kind::Modem},
                                        {"MODEM_RECORDNAME", Kind::Device, Kind::Modem}};
    for (const Reference& r : references) {
        if (legacy_rules() && r.key != "DEFAULT_PORT") continue;  // keys it never reads
        const Entry* e = entry_of(s, r.key);
        if (e == nullptr || e->value.empty() || !holds(r.holder, s.name)) continue;
        if (holds(r.target, e->value)) continue;
        Problem p{e->line, s.name, e->key, "dangling-reference",
                  "names the " + std::string(kind_word(r.target)) + " " + std::string(e->value) +
                      ", which is not in the file"};
        p.warning = true;
        out.push_back(std::move(p));
    }
    const Entry* ip = entry_of(s, "IP_ADDR");
    if (ip != nullptr && !ip->value.empty() && holds(Kind::Device, s.name) &&
        !is_ipv4(ip->value) && !is_host_name(ip->value)) {
        Problem p{ip->line, s.name, ip->key, "bad-address",
                  std::string(1, '"').append(ip->value).append(
                      "\" is neither an IPv4 address nor a dotted host name")};
        p.warning = true;
        out.push_back(std::move(p));
    }
    if (password_readable && same_folded(s.name, "Global_Parameters")) {
        if (const Entry* pw = entry_of(s, "PASSWORD"); pw != nullptr && !pw->value.empty()) {
            Problem p{pw->line, s.name, pw->key, "readable-password",
                      "every local user can read the file, and so the password "
                      "(chmod o-r the file)"};
            p.warning = true;
            out.push_back(std::move(p));
        }
    }
}

void check_hosts(const std::vector<Section>& sections, bool password_readable, Problems& out) {
    // The records of each kind, by folded name (the first section of a name is the record).
    std::unordered_set<std::string> records[3], seen;
    for (const Section& s : sections) {
        if (!seen.insert(fold(s.name)).second) continue;
        if (entry_of(s, "TYPE")) records[static_cast<int>(Kind::Port)].insert(fold(s.name));
        if (entry_of(s, "MODEM_DIAL")) records[static_cast<int>(Kind::Modem)].insert(fold(s.name));
        for (std::string_view k : {"KWT_ID", "IP_ADDR", "DEST_ADDR", "BXLN_BUSADR"}) {
            if (entry_of(s, k)) records[static_cast<int>(Kind::Device)].insert(fold(s.name));
        }
    }
    const Holds holds = [&](Kind kind, std::string_view name) {
        return records[static_cast<int>(kind)].contains(fold(name));
    };
    seen.clear();
    for (const Section& s : sections) {
        if (seen.insert(fold(s.name)).second) host_problems(s, holds, password_readable, out);
    }
}

// `exists` false: there is no file, which every call reads as an empty one (clean).
void emit(const Context& ctx, const std::string& file, bool exists, Problems& problems) {
    std::stable_sort(problems.begin(), problems.end(),
                     [](const Problem& a, const Problem& b) { return a.line < b.line; });
    if (ctx.json) {
        Json list = Json::array();
        for (const Problem& p : problems) {
            list.push_back({{"line", p.line}, {"section", text_to_json(p.section)},
                            {"key", text_to_json(p.key)}, {"problem", p.code},
                            {"severity", p.warning ? "warning" : "error"},
                            {"message", text_to_json(p.message)}});
        }
        const bool errors = std::any_of(problems.begin(), problems.end(),
                                        [](const Problem& p) { return !p.warning; });
        const Json j = {
            {"file", text_to_json(file)}, {"exists", exists}, {"clean", !errors},
            {"problems", list}};
        write_stdout(json_document("check", j));
        return;
    }
    if (problems.empty()) {
        write_stdout("no problems found in " + file +
                     (exists ? "\n" : " (it does not exist: nothing to check)\n"));
        return;
    }
    Table t({"LINE", "SECTION", "KEY", "PROBLEM", "DETAIL"});
    for (const Problem& p : problems) {
        t.add({std::to_string(p.line), p.section, p.key,
               p.warning ? "warning: " + p.code : p.code, p.message});
    }
    write_stdout(t.render() + std::to_string(problems.size()) + " problem(s) in " + file + "\n");
}

Problems host_warnings(const std::string& text, bool password_readable) {
    Problems out;
    check_hosts(parse_profile(text), password_readable, out);
    return out;
}

}  // namespace

std::vector<std::string> warnings_for(const std::string& text, bool password_readable,
                                      const std::vector<std::string>& sections) {
    std::vector<std::string> out;
    for (const Problem& p : host_warnings(text, password_readable)) {
        const bool concerned = sections.empty() ||
                               std::any_of(sections.begin(), sections.end(), [&](const auto& s) {
                                   return same_section(s, p.section);
                               });
        if (concerned) out.push_back(p.section + " " + p.key + ": " + p.message);
    }
    return out;
}

namespace {

bool readable_by_all(const std::string& file) { return qdl::platform::world_readable(file); }

}  // namespace

std::vector<std::string> warnings_after(const std::vector<std::string>& sections) {
    if (sections.empty()) return {};
    const std::string file = locate().file;
    const bool readable = readable_by_all(file);
    if (sections.size() > 64) {  // many: one reading of the whole file
        std::string text;
        if (!read_config_file(file, text)) return {};
        return warnings_for(text, readable, sections);
    }
    // A few: each section and what it names looked at in the store, not the whole file read.
    std::map<std::pair<Kind, std::string>, bool> known;
    const Holds holds = [&](Kind kind, std::string_view name) {
        const auto [it, added] = known.try_emplace({kind, fold(name)}, false);
        if (added) it->second = section_kinds(std::string(name)).holds[static_cast<int>(kind)];
        return it->second;
    };
    const std::string configured = locate().configured;
    std::vector<std::string> out;
    std::set<std::string> done;
    for (const std::string& name : sections) {
        if (!done.insert(fold(name)).second) continue;
        const SectionKinds found = section_kinds(name);
        if (found.name.empty()) continue;
        std::vector<std::string> values;
        for (const std::string& key : found.keys) {
            std::vector<char> value(1024);
            const std::uint32_t n = qdl::platform::profile_get_string(
                found.name.c_str(), key.c_str(), "", value.data(),
                static_cast<std::uint32_t>(value.size()), configured.c_str());
            values.emplace_back(value.data(), n);
        }
        Section s{found.name, 0, {}};
        for (std::size_t i = 0; i < found.keys.size(); ++i) {
            s.entries.push_back({found.keys[i], values[i], 0});
        }
        Problems problems;
        host_problems(s, holds, readable, problems);
        for (const Problem& p : problems) out.push_back(p.section + " " + p.key + ": " + p.message);
    }
    return out;
}

void report_warnings(const Context& ctx, const std::vector<std::string>& warnings,
                     Json* answer) {
    if (ctx.json) {
        if (answer != nullptr && !warnings.empty()) {
            Json list = Json::array();
            for (const std::string& w : warnings) list.push_back(text_to_json(w));
            (*answer)["warnings"] = std::move(list);
        }
        return;
    }
    for (const std::string& w : warnings) write_stderr_line("warning: " + w);
}

int run_check(const Context& ctx, bool strict) {
    const std::string file = locate().file;
    std::string text;
    const bool exists = config_file_state(file) != FileState::Missing;
    if (exists && !read_config_file(file, text)) {
        throw Failure(kExitFile, "cannot open " + file + ": not a readable regular file");
    }
    Problems problems;
    const std::vector<Section> sections = parse_profile(text, &problems);
    check_names(sections, problems);
    check_entries(sections, problems);
    check_claims(sections, problems);
    if (exists) check_records(sections, problems);
    check_hosts(sections, exists && readable_by_all(file), problems);
    if (strict) {
        for (Problem& p : problems) p.warning = false;
    }
    emit(ctx, file, exists, problems);
    const bool errors = std::any_of(problems.begin(), problems.end(),
                                    [](const Problem& p) { return !p.warning; });
    return errors ? kExitRefused : kExitOk;
}

}  // namespace qdlcfg
