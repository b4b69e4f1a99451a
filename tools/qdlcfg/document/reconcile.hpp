// reconcile.hpp - making the file hold the records of a document: import, apply and set share
// it. It runs inside an open Session (library.hpp), so all of it is one batch of the library:
// the caller commits when it succeeded, and nothing is written otherwise.
//
// Records are compared field by field as the library reads them back (the name without regard
// to ASCII case, as sections are found). Only records that differ are written: a record that is
// rewritten or deleted takes its whole section with it, so every other record in that section
// (a port and a modem of the same name, a device beside them) is added back in the same batch
// and must read back as it was; a record that cannot be read, or would not read back, stops the
// whole batch instead.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/fields.hpp"
#include "tskqdl32.h"

namespace qdlcfg {

// A record a document (or the command line) asks for.
struct Wanted {
    Record record;
    bool password_given = false;  // global only: otherwise the stored password is kept
    std::vector<const Field*> named;  // the fields the document names (set or null); kept for
                                      // apply --merge only
};

// A document read and checked whole.
struct DocumentContent {
    std::vector<Wanted> records;       // devices, ports, modems, then global: the order of adding
    bool groups[3] = {false, false, false};  // "ports", "devices", "modems" given (index: Kind)
    std::vector<std::pair<Kind, std::string>> absent;  // apply: records that must not exist
    std::vector<std::string> problems;
    std::optional<int> status;  // the library's status for the first value it would refuse
    // How apply treats it (--merge, --prune=KINDS, --keep).
    bool merge = false;                      // a stored record keeps the fields not named
    bool prunable[3] = {true, true, true};   // the kinds a prune may delete (index: Kind)
    std::vector<std::string> keep;           // names a prune never deletes (patterns)
};

// The largest document import and apply take. A bigger one, or endless input (/dev/zero), is
// refused as unreadable as soon as it is seen, without reading further.
constexpr std::size_t kMaxDocumentBytes = std::size_t{256} << 20;

// The document's text: FILE, or standard input for "-". Failure (exit 3) when it cannot be read
// or is larger than kMaxDocumentBytes.
std::string load_document(const std::string& file);

// Checks a document. `allow_absent`: the "absent" member of apply (import refuses it).
// `partial`: records may name only some fields (apply --merge); they are checked whole once
// merged with the stored ones.
DocumentContent read_document(const std::string& text, bool allow_absent, bool partial = false);

// Whether a name matches a --keep pattern: '*' any run of characters, '?' any one, ASCII
// letters without regard to case (as section names match).
bool matches_pattern(std::string_view pattern, std::string_view name);

// Failure (exit 4) naming the problems (up to 50 of them as its details).
[[noreturn]] void reject_document(const std::vector<std::string>& problems,
                                  std::optional<int> status = std::nullopt);

enum class Goal {
    Add,      // import: missing records are added; a stored one that differs is added again
              // (the library refuses that, or gives a device the addresses it lacks); a
              // stored device that holds every field given, as given, is unchanged
    Replace,  // import --replace: a stored record that differs is rewritten
    Apply,    // apply and set: as Replace; with `prune` the records of the document's kinds
              // that it does not hold are deleted, and so are its "absent" records
};

struct FieldChange {
    const Field* field;
    Value before;
    Value after;
};

struct Change {
    enum class Action { Add, Update, Delete, Unchanged };
    Action action = Action::Unchanged;
    Kind kind = Kind::Port;
    std::string name;                 // as the document or the file spells it; "" for global
    std::optional<Record> before;     // the stored record, when there is one that reads
    std::optional<Record> after;      // the record asked for (add, update)
    // Where its fields come from: the set fields of `after` (add) or `before` (delete), or those
    // that differ between the two (update). Worked out when asked: many changes, few shown.
    enum class Fields { None, After, Before, Differ } fields_from = Fields::None;
    std::vector<FieldChange> fields() const;
    int status = QDL_OK;              // the library's status for this record
    std::string problem;              // a refusal of the tool's own (with status QDL_OK)
    bool failed() const;
};

struct Outcome {
    std::vector<Change> changes;  // the document's records in its order, then the deletions
    bool failed = false;          // something was refused: the session must write nothing
    int status = QDL_OK;          // the library's status of the first refusal, if it gave one
    std::string message;          // what the first refusal was
    std::size_t changed() const;  // changes that are not Unchanged
};

// Progress: called with the records done and the total, as the batch goes on.
using ProgressFn = std::function<void(std::size_t done, std::size_t total)>;

// The document's records of ports, devices and modems are used up (moved into the changes).
Outcome reconcile(DocumentContent& doc, Goal goal, bool prune, const ProgressFn& progress = {});

// The fields of a record that a comparison looks at, as the library reads them back (a modem's
// unset yes/no flag reads as "no", its unset break flag as "on").
std::vector<FieldChange> differences(const Record& before, const Record& after);

}  // namespace qdlcfg
