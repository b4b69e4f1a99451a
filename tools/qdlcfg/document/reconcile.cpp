// reconcile.cpp - making the file hold a document's records (see reconcile.hpp).
//
//   compare     normalised, differences, set_fields
//   survey      the records of the file by section (names folded as the library folds them),
//               one kind at a time, as the plan and the writes need them
//   plan        one Change per record of the document, then the deletions
//   sections    the changes of one section: plain adds, or the section rewritten with its other
//               records added back; every record written is read back and compared
//   reconcile   survey, plan, the sections in the order of the document, the global parameters
#include "document/reconcile.hpp"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "document/document.hpp"
#include "engine/library.hpp"
#include "engine/location.hpp"
#include "engine/section_edit.hpp"
#include "console/status.hpp"
#include "tskqdl32.h"

namespace qdlcfg {

bool Change::failed() const { return status != QDL_OK || !problem.empty(); }

namespace {
std::vector<FieldChange> set_fields(const Record& record, bool removed);
}  // namespace

std::vector<FieldChange> Change::fields() const {
    switch (fields_from) {
    case Fields::None: break;
    case Fields::After: return set_fields(*after, false);
    case Fields::Before: return set_fields(*before, true);
    case Fields::Differ: return differences(*before, *after);
    }
    return {};
}

std::size_t Outcome::changed() const {
    std::size_t n = 0;
    for (const Change& c : changes) n += c.action != Change::Action::Unchanged ? 1 : 0;
    return n;
}

// ---- compare -------------------------------------------------------------------------------

namespace {

// What the library gives back for fields an add leaves unwritten: a modem's yes/no flag reads
// as "no" and its break flag as "on".
Record normalised(const Record& record) {
    Record out = record;
    if (record.kind() != Kind::Modem) return out;
    const Field& canda = *find_field(Kind::Modem, "modem_usedcanda");
    const Field& brk = *find_field(Kind::Modem, "modem_break");
    if (!out.get(canda).set) out.put(canda, Value{true, "", 0});
    if (!out.get(brk).set) out.put(brk, Value{true, "", 1});
    return out;
}

bool compared(const Field& f) { return f.role != Role::Name && f.role != Role::ReadOnly; }

bool same_value(const Field& f, const Value& a, const Value& b) {
    if (a.set != b.set) return false;
    if (!a.set) return true;
    return f.type == Type::Text ? a.text == b.text : a.number == b.number;
}

// Every set field of a record, as the change that adds it (or, with `removed`, deletes it).
std::vector<FieldChange> set_fields(const Record& record, bool removed) {
    std::vector<FieldChange> out;
    for (const Field& f : fields_of(record.kind())) {
        const Value v = record.get(f);
        if (!compared(f) || !v.set) continue;
        out.push_back(removed ? FieldChange{&f, v, Value{}} : FieldChange{&f, Value{}, v});
    }
    return out;
}

// Whether `stored` holds every field that `given` sets, with the same value (fields that
// `given` leaves unset are not looked at).
bool holds_fields_of(const Record& stored, const Record& given) {
    for (const FieldChange& f : set_fields(given, false)) {
        if (!same_value(*f.field, stored.get(*f.field), f.after)) return false;
    }
    return true;
}

}  // namespace

std::vector<FieldChange> differences(const Record& before, const Record& after) {
    const Record b = normalised(before);
    const Record a = normalised(after);
    std::vector<FieldChange> out;
    for (const Field& f : fields_of(before.kind())) {
        if (!compared(f)) continue;
        const Value vb = b.get(f), va = a.get(f);
        if (!same_value(f, vb, va)) out.push_back({&f, vb, va});
    }
    return out;
}

// ---- survey --------------------------------------------------------------------------------

namespace {

constexpr Kind kSectionKinds[] = {Kind::Device, Kind::Port, Kind::Modem};  // order of adding

int at(Kind kind) { return static_cast<int>(kind); }

// One kind's record in a section of the file.
struct Present {
    std::string name;  // as the file spells it; empty: the section holds no record of the kind
    std::unique_ptr<Record> record;  // a pointer: most sections hold one kind, many sections
    int status = QDL_OK;
    bool read = false;
};

struct Section {
    Present kinds[3];
    std::vector<std::size_t> changes;  // indexes into Outcome::changes
    bool done = false;
    bool looked_at = false;  // its kinds are known (a look at this one section)
    bool holds_any() const {
        return !kinds[0].name.empty() || !kinds[1].name.empty() || !kinds[2].name.empty();
    }
};

struct State {
    Goal goal;
    std::unordered_map<std::string, Section> sections;  // by folded name
    std::vector<std::string> names[3];                  // every record of the file, by kind
    bool surveyed[3] = {false, false, false};           // names[kind] is filled in
    Outcome outcome;
    std::string path;      // the configuration path as the library holds it, once needed
    std::string stand_in;  // a section name the file does not hold, for render
    std::size_t expected = 0;  // changes to make room for at once: one per document record
    bool by_name = false;  // a few records: their sections are looked at one by one, not listed
    const std::string& config_path() {
        if (path.empty()) path = locate().configured;
        return path;
    }
    const std::string& free_name() {
        if (stand_in.empty()) stand_in = free_section_name(config_path());
        return stand_in;
    }
};

// Lists the records of one kind in the file, once. Each listing scans the whole file, so only
// the kinds that are needed are listed (see reconcile); with few records, none is.
void survey(State& st, Kind kind) {
    if (st.by_name || st.surveyed[at(kind)]) return;
    st.surveyed[at(kind)] = true;
    if (kind == Kind::Modem && legacy_rules()) return;  // none there: MODEM_DIAL is a port's
    st.names[at(kind)] = list_group(kind);
    for (const std::string& name : st.names[at(kind)]) {
        st.sections[fold(name)].kinds[at(kind)].name = name;
    }
}

// The kinds of records that one section holds, as the listings would give them.
void look_at(State& st, const std::string& name) {
    Section& s = st.sections[fold(name)];
    if (s.looked_at) return;
    s.looked_at = true;
    const SectionKinds found = section_kinds(name);
    for (Kind kind : kSectionKinds) {
        if (found.holds[at(kind)]) s.kinds[at(kind)].name = found.name;
    }
}

// The stored record of a kind in a section, read when first asked for; null when it cannot be.
const Record* stored(Section& s, Kind kind) {
    Present& p = s.kinds[at(kind)];
    if (p.name.empty()) return nullptr;
    if (!p.read) {
        p.read = true;
        Record r(kind);
        p.status = read_record(r, p.name);
        if (p.status == QDL_OK) p.record = std::make_unique<Record>(std::move(r));
    }
    return p.record ? &*p.record : nullptr;
}

// ---- plan ----------------------------------------------------------------------------------

std::size_t push(State& st, Section& s, Change c) {
    if (st.outcome.changes.empty()) st.outcome.changes.reserve(st.expected);
    st.outcome.changes.push_back(std::move(c));
    s.changes.push_back(st.outcome.changes.size() - 1);
    return st.outcome.changes.size() - 1;
}

// apply --merge: the stored record with the fields the document names. A port that changes its
// type loses the fields that do not apply to the new one, unless they are named (and then
// refused). Problems: what is wrong with the record as merged.
Record merged_with(const Record* stored, const Wanted& w, std::vector<std::string>& problems) {
    Record out = stored != nullptr ? *stored : w.record;
    std::vector<const Field*> given;
    for (const Field* f : w.named) {
        out.put(*f, w.record.get(*f));
        if (w.record.get(*f).set) given.push_back(f);
    }
    if (out.kind() == Kind::Port) {
        const Field& type = *find_field(Kind::Port, "type");
        if (!out.get(type).set) problems.push_back("no type");
        for (const Field& f : fields_of(Kind::Port)) {
            if (f.role == Role::Plain && !applies_to(f, out.port_type()) &&
                std::find(given.begin(), given.end(), &f) == given.end()) {
                out.put(f, Value{});
            }
        }
    }
    if (problems.empty()) {
        for (std::string& p : record_problems(out, given, Naming::Key)) problems.push_back(p);
    }
    return out;
}

void refuse(State& st, Change& c, int status, const std::string& problem);

// The document's record is used up: moved into the change, or let go when nothing changes (a
// document of many records is not kept twice).
void plan_record(State& st, const DocumentContent& doc, Wanted& given) {
    const Kind kind = given.record.kind();
    Section& s = st.sections[fold(given.record.name())];
    const Record* r = stored(s, kind);
    std::vector<std::string> problems;
    std::optional<Wanted> merged;  // apply --merge; otherwise the document's record as it is
    if (doc.merge) merged = Wanted{merged_with(r, given, problems), given.password_given, given.named};
    Wanted& w = merged ? *merged : given;
    Change c;
    c.kind = kind;
    c.name = w.record.name();
    if (!problems.empty()) {
        c.after = std::move(w.record);
        c.action = r != nullptr ? Change::Action::Update : Change::Action::Add;
        const std::size_t i = push(st, s, std::move(c));
        refuse(st, st.outcome.changes[i], QDL_OK, problems.front());
        return;
    }
    if (s.kinds[at(kind)].name.empty()) {
        c.action = Change::Action::Add;
        c.after = std::move(w.record);
        c.fields_from = Change::Fields::After;
    } else if (r != nullptr && (differences(*r, w.record).empty() ||
                                (st.goal == Goal::Add && kind == Kind::Device &&
                                 holds_fields_of(*r, w.record)))) {
        // Under import a device is built up address by address: one that already holds every
        // field the document gives has nothing to add. The record stays as it is stored, so the
        // change keeps no copy of it (a section rewritten for another record adds it back), and
        // the stored one is let go too: it is read again if its section is to be rewritten.
        c.action = Change::Action::Unchanged;
        s.kinds[at(kind)].record.reset();
        s.kinds[at(kind)].read = false;
    } else {
        // Added again under Goal::Add: the library decides (and the section is left alone).
        c.action = st.goal == Goal::Add ? Change::Action::Add : Change::Action::Update;
        c.after = std::move(w.record);
        if (r != nullptr) c.before = *r;
        c.fields_from = r != nullptr ? Change::Fields::Differ : Change::Fields::After;
    }
    push(st, s, std::move(c));
    [[maybe_unused]] const Record spent = std::move(given.record);  // when not moved already
    std::vector<const Field*>().swap(given.named);
}

void plan_delete(State& st, Kind kind, const std::string& name) {
    const auto it = st.sections.find(fold(name));
    if (it == st.sections.end() || it->second.kinds[at(kind)].name.empty()) return;
    Section& s = it->second;
    for (std::size_t i : s.changes) {
        if (st.outcome.changes[i].kind == kind) return;  // absent and pruned: once
    }
    Change c;
    c.action = Change::Action::Delete;
    c.kind = kind;
    c.name = s.kinds[at(kind)].name;
    if (const Record* r = stored(s, kind)) {
        c.before = *r;
        c.fields_from = Change::Fields::Before;
    }
    push(st, s, std::move(c));
}

void plan_prune(State& st, const DocumentContent& doc) {
    for (Kind kind : kSectionKinds) {
        if (!doc.groups[at(kind)] || !doc.prunable[at(kind)]) continue;
        for (const std::string& name : st.names[at(kind)]) {
            const bool kept = std::any_of(doc.keep.begin(), doc.keep.end(),
                                          [&](const std::string& p) {
                                              return matches_pattern(p, name);
                                          });
            if (kept) continue;
            const Section& s = st.sections[fold(name)];
            bool wanted = false;
            for (std::size_t i : s.changes) wanted = wanted || st.outcome.changes[i].kind == kind;
            if (!wanted) plan_delete(st, kind, name);
        }
    }
}

// ---- sections ------------------------------------------------------------------------------

void refuse(State& st, Change& c, int status, const std::string& problem) {
    c.status = status;
    c.problem = problem;
    if (st.outcome.failed) return;
    st.outcome.failed = true;
    st.outcome.status = status;
    const std::string what = c.kind == Kind::Global
                                 ? std::string("global parameters")
                                 : std::string(kind_word(c.kind)) + " " + c.name;
    st.outcome.message = what + ": " + (problem.empty() ? describe_status(status) : problem);
}

// Adds a copy of the record (the library writes into the record it is given).
int add_copy(const Record& record) {
    Record copy = record;
    return add_record(copy, record.kind() == Kind::Device ? choose_address_kind(record) : 0);
}

// The stored record must now read back as `want`; otherwise the change is refused.
void verify(State& st, Change& c, const Record& want, const std::string& what) {
    Record back(want.kind());
    const int status = read_record(back, c.kind == Kind::Global ? "" : want.name());
    if (status != QDL_OK) {
        refuse(st, c, status, what + " does not read back");
        return;
    }
    const std::vector<FieldChange> diff = differences(want, back);
    if (diff.empty()) return;
    const FieldChange& d = diff.front();
    refuse(st, c, QDL_OK,
           what + " would read back with " + std::string(d.field->key) + " " +
               display(*d.field, d.after) + " instead of " + display(*d.field, d.before));
}

void add_wanted(State& st, Change& c) {
    if (const int s = add_copy(*c.after); s != QDL_OK) refuse(st, c, s, "");
}

// A device add whose existence probe looks at the whole section (the address kinds that add
// every field, and the bus address) is refused in a section that holds anything.
bool probes_whole_section(const Record& device) {
    const int address_kind = choose_address_kind(device);
    return address_kind == ADDRESS_ALL || address_kind == ADDRESS_BXLN_BUS;
}

// Makes the section hold what it must: the changed records and every other record it held.
// When none is left, the section goes the library's way (through one of its records).
// Otherwise the records are rendered (their adds noted, not written) and only the keys whose
// values differ are written, removed or added, so comments, blank lines, keys of other programs
// and the order of the lines stay. False when something was refused.
bool rewrite_section(State& st, Section& s, Change* of[3], Change& first) {
    for (Kind kind : kSectionKinds) {
        if (s.kinds[at(kind)].name.empty() || of[at(kind)] != nullptr) continue;
        if (stored(s, kind) == nullptr) {
            refuse(st, first, QDL_OK,
                   "the section also holds the " + std::string(kind_word(kind)) + " " +
                       s.kinds[at(kind)].name + ", which cannot be read (" +
                       describe_status(s.kinds[at(kind)].status) + "): rewriting would lose it");
            return false;
        }
    }
    std::vector<const Record*> want, had;
    std::vector<Change*> owners;
    std::vector<Kind> kinds;
    std::string section;
    for (Kind kind : kSectionKinds) {
        Change* c = of[at(kind)];
        const bool present = !s.kinds[at(kind)].name.empty();
        if (present) {
            section = s.kinds[at(kind)].name;
            kinds.push_back(kind);
            if (const Record* r = stored(s, kind)) had.push_back(r);
        }
        if (c != nullptr && c->action != Change::Action::Delete) {
            want.push_back(&*c->after);
            owners.push_back(c);
            if (!present) kinds.push_back(kind);
        } else if (c == nullptr && present) {
            want.push_back(&*s.kinds[at(kind)].record);
            owners.push_back(&first);
        }
    }
    if (want.empty()) {
        for (Kind kind : kSectionKinds) {
            if (s.kinds[at(kind)].name.empty()) continue;
            Change& owner = of[at(kind)] != nullptr ? *of[at(kind)] : first;
            const int status = delete_record(kind, s.kinds[at(kind)].name, ADDRESS_ALL);
            if (status != QDL_OK) refuse(st, owner, status, "");
            return status == QDL_OK;  // the section went with that record
        }
        return true;
    }
    const Rendering after = render(want, st.free_name());
    if (after.status != QDL_OK) {
        Change& owner = *owners[after.refused];
        if (&owner == &first && of[at(want[after.refused]->kind())] == nullptr) {
            refuse(st, first, after.status,
                   "could not add back the " + std::string(kind_word(want[after.refused]->kind())) +
                       " " + s.kinds[at(want[after.refused]->kind())].name +
                       " that shares the section");
        } else {
            refuse(st, owner, after.status, "");
        }
        return false;
    }
    if (section.empty()) section = want.front()->name();
    const Rendering before = render(had, st.free_name());
    static const KeyValues kNone;
    const KeyValues* wanted = after.section(st.free_name());
    if (!edit_section(st.config_path(), section,
                      before.status == QDL_OK ? before.section(st.free_name()) : nullptr,
                      wanted != nullptr ? *wanted : kNone, record_keys(kinds), false)) {
        refuse(st, first, QDL_ERR_FILE, "");
        return false;
    }
    return true;
}

// After the section's changes every record it should hold must read back as wanted: records
// of one section can share keys (a port's and a device's MODEM_RECORDNAME), so an add can
// change what another record of the section reads.
void verify_section(State& st, Section& s, Change* of[3], Change& first) {
    for (Kind kind : kSectionKinds) {
        Change* c = of[at(kind)];
        const bool present = !s.kinds[at(kind)].name.empty();
        if (c == nullptr && present && stored(s, kind) != nullptr) {
            verify(st, first, *s.kinds[at(kind)].record,
                   "the " + std::string(kind_word(kind)) + " " + s.kinds[at(kind)].name +
                       " that shares the section");
        } else if (c != nullptr && c->action != Change::Action::Delete &&
                   !(c->action == Change::Action::Add && present)) {
            verify(st, *c, *c->after, "it");
        }
        if (st.outcome.failed) return;
    }
}

void run_section(State& st, Section& s) {
    s.done = true;
    // The records of the section that change; an unchanged one is the stored record.
    Change* of[3] = {nullptr, nullptr, nullptr};
    bool any = false;
    for (std::size_t i : s.changes) {
        Change& c = st.outcome.changes[i];
        if (c.action == Change::Action::Unchanged) continue;
        of[at(c.kind)] = &c;
        any = true;
    }
    if (!any) return;
    Change& first = of[at(Kind::Device)] != nullptr ? *of[at(Kind::Device)]
                    : of[at(Kind::Port)] != nullptr ? *of[at(Kind::Port)]
                                                    : *of[at(Kind::Modem)];
    bool rewrite = false;
    bool added_again = false;  // Goal::Add over a stored record: the library decides
    bool adds = false;
    for (Kind kind : kSectionKinds) {
        const Change* c = of[at(kind)];
        if (c == nullptr) continue;
        const bool present = !s.kinds[at(kind)].name.empty();
        rewrite = rewrite || c->action == Change::Action::Update ||
                  c->action == Change::Action::Delete;
        added_again = added_again || (c->action == Change::Action::Add && present);
        adds = adds || c->action == Change::Action::Add;
    }
    const Change* device = of[at(Kind::Device)];
    if (device != nullptr && device->action == Change::Action::Add && s.holds_any() &&
        s.kinds[at(Kind::Device)].name.empty() && probes_whole_section(*device->after)) {
        rewrite = true;
    }
    if (!rewrite && !adds) return;  // nothing in this section changes
    for (Kind kind : kSectionKinds) stored(s, kind);  // as they are before the changes
    if (rewrite && !added_again) {
        if (!rewrite_section(st, s, of, first)) return;
    } else {
        for (Kind kind : kSectionKinds) {
            Change* c = of[at(kind)];
            if (c != nullptr && c->action == Change::Action::Add) add_wanted(st, *c);
        }
    }
    if (!st.outcome.failed) verify_section(st, s, of, first);
}

// ---- global --------------------------------------------------------------------------------

void plan_and_run_global(State& st, Wanted& w) {
    Change c;
    c.kind = Kind::Global;
    Record current(Kind::Global);
    const bool exists = read_record(current, "") == QDL_OK;
    const Field& password = *find_field(Kind::Global, "password");
    // Import never deletes: a global object that sets nothing asks for nothing there.
    const bool asks_nothing = st.goal != Goal::Apply && set_fields(w.record, false).empty();
    if (exists && !w.password_given) w.record.put(password, current.get(password));
    // Nothing set asks for no global parameters at all (an add of nothing writes nothing).
    const bool nothing = set_fields(w.record, false).empty();
    if (exists) c.before = current;
    if (!nothing && !asks_nothing) c.after = w.record;
    if (asks_nothing) {
        c.action = Change::Action::Unchanged;
    } else if (!exists) {
        c.action = nothing ? Change::Action::Unchanged : Change::Action::Add;
        if (!nothing) c.fields_from = Change::Fields::After;
    } else if (nothing) {
        c.action = Change::Action::Delete;
        c.fields_from = Change::Fields::Before;
    } else if (differences(current, w.record).empty()) {
        c.action = Change::Action::Unchanged;
    } else {
        c.action = Change::Action::Update;
        c.fields_from = Change::Fields::Differ;
    }
    st.outcome.changes.push_back(std::move(c));
    Change& change = st.outcome.changes.back();
    if (change.action == Change::Action::Unchanged) return;
    if (exists && st.goal == Goal::Add) {
        refuse(st, change, QDL_ERR_EXISTS, "use --replace to replace the global parameters");
        return;
    }
    if (change.action == Change::Action::Delete) {
        if (const int s = delete_record(Kind::Global, "", 0); s != QDL_OK) {
            refuse(st, change, s, "");
        }
        return;
    }
    if (change.action == Change::Action::Update) {
        // In place, key by key, as the records' sections are.
        const Rendering after = render({&*change.after}, "");
        if (after.status != QDL_OK) {
            refuse(st, change, after.status, "");
            return;
        }
        const Rendering before = render({&current}, "");
        static const KeyValues kNone;
        for (const std::string& section : after.touched) {
            const KeyValues* wanted = after.section(section);
            if (!edit_section(st.config_path(), section,
                              before.status == QDL_OK ? before.section(section) : nullptr,
                              wanted != nullptr ? *wanted : kNone, record_keys({Kind::Global}),
                              wanted == nullptr)) {
                refuse(st, change, QDL_ERR_FILE, "");
                return;
            }
        }
        verify(st, change, *change.after, "it");
        return;
    }
    add_wanted(st, change);
    if (!st.outcome.failed) verify(st, change, *change.after, "it");
}

}  // namespace

bool matches_pattern(std::string_view pattern, std::string_view name) {
    // Iterative glob with one backtrack point (the last '*').
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    std::size_t p = 0, n = 0, star = std::string_view::npos, from = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
            ++p, ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            from = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++from;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// ---- reconcile -----------------------------------------------------------------------------

Outcome reconcile(DocumentContent& doc, Goal goal, bool prune, const ProgressFn& progress) {
    State st{goal, {}, {}, {}, {}, {}, {}, doc.records.size()};
    // A few records (a set, a small apply) and no prune: only their sections are looked at,
    // each with every kind it holds, so that a change of one record costs a look at one section
    // whatever the size of the file.
    constexpr std::size_t kByName = 64;
    st.by_name = !prune && doc.records.size() + doc.absent.size() <= kByName;
    for (const Wanted& w : doc.records) {
        if (st.by_name && w.record.kind() != Kind::Global) look_at(st, w.record.name());
    }
    for (const auto& [kind, name] : doc.absent) {
        if (st.by_name) look_at(st, name);
    }
    // Otherwise the plan looks at the stored records of the kinds that the document holds or
    // deletes only; the other kinds are listed once something is to be written, still before
    // the first write (a section that is rewritten must keep them). An apply that changes
    // nothing lists nothing more.
    for (const Wanted& w : doc.records) {
        if (w.record.kind() != Kind::Global) survey(st, w.record.kind());
    }
    if (goal == Goal::Apply) {
        for (const auto& [kind, name] : doc.absent) survey(st, kind);
        for (Kind kind : kSectionKinds) {
            if (prune && doc.groups[at(kind)]) survey(st, kind);
        }
    }
    Wanted* global = nullptr;
    for (Wanted& w : doc.records) {
        if (w.record.kind() == Kind::Global && doc.merge) {
            // Merged: the stored parameters with the fields the document names.
            Record current(Kind::Global);
            if (read_record(current, "") == QDL_OK) {
                for (const Field* f : w.named) current.put(*f, w.record.get(*f));
                w.record = current;
                w.password_given = true;
            }
        }
        if (w.record.kind() == Kind::Global) {
            global = &w;
        } else {
            plan_record(st, doc, w);
        }
    }
    if (goal == Goal::Apply) {
        for (const auto& [kind, name] : doc.absent) plan_delete(st, kind, name);
        if (prune) plan_prune(st, doc);
    }
    if (st.outcome.changed() > 0) {
        for (Kind kind : kSectionKinds) survey(st, kind);
    }
    const std::size_t total = st.outcome.changes.size() + (global != nullptr ? 1 : 0);
    std::size_t done = 0;
    // Each section once, in the order of its first change.
    for (std::size_t i = 0; i < st.outcome.changes.size(); ++i) {
        Section& s = st.sections[fold(st.outcome.changes[i].name)];
        if (!s.done) run_section(st, s);
        if (progress) progress(++done, total);
    }
    if (global != nullptr) {
        plan_and_run_global(st, *global);
        if (progress) progress(++done, total);
    }
    return std::move(st.outcome);
}

}  // namespace qdlcfg
