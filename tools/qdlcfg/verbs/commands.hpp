// commands.hpp - the verbs of qdlcfg. Each writes its result to stdout (a table, or JSON with
// --json), throws Failure for an error that ends it, and returns its exit code.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/fields.hpp"

namespace qdlcfg {

struct Context {
    bool json = false;
};

// A field given on the command line, as typed.
using Given = std::vector<std::pair<const Field*, std::string>>;

int run_version(const Context& ctx);
int run_where(const Context& ctx);

struct ListOptions {
    std::string kind;               // "ports", "devices", "modems" or "" for all three
    std::vector<std::string> keys;  // KEY or KEY=VALUE, at most two
};
int run_list(const Context& ctx, const ListOptions& opts);

int run_show(const Context& ctx, Kind kind, const std::string& name);

struct AddOptions {
    Kind kind = Kind::Port;
    std::string name;
    Given given;
};
int run_add(const Context& ctx, const AddOptions& opts);

struct SetGlobalOptions {
    Given given;
    bool password_stdin = false;
    bool no_password = false;
};
int run_set_global(const Context& ctx, const SetGlobalOptions& opts);

struct DeleteOptions {
    Kind kind = Kind::Port;
    std::string name;
    std::string address = "all";  // devices: kwt-id, ip, dest, bxln or all
    bool force = false;
};
int run_delete(const Context& ctx, const DeleteOptions& opts);

struct ExportOptions {
    bool with_password = false;
};
int run_export(const Context& ctx, const ExportOptions& opts);

struct ImportOptions {
    std::string file;  // "-" for stdin
    bool replace = false;
};
int run_import(const Context& ctx, const ImportOptions& opts);

struct ApplyOptions {
    std::string file;  // "-" for stdin
    bool prune = false;
    std::string prune_kinds;         // --prune=ports,devices: only these kinds ("" all)
    std::vector<std::string> keep;   // --keep PATTERN: names never pruned
    bool merge = false;              // fields the document leaves out keep their values
    bool check = false;
    bool diff = false;
};
int run_apply(const Context& ctx, const ApplyOptions& opts);

struct SetOptions {
    Kind kind = Kind::Port;
    std::string name;
    Given given;
};
int run_set(const Context& ctx, const SetOptions& opts);

struct GetOptions {
    Kind kind = Kind::Port;
    std::string name;   // not for global
    std::string field;  // JSON key or INI key
};
int run_get(const Context& ctx, const GetOptions& opts);

// check: errors (what the library misreads or refuses) exit 1; warnings (what breaks a host:
// a reference to no record, an address no host can use, a password every user can read) are
// reported and exit 0, unless `strict` makes them errors.
int run_check(const Context& ctx, bool strict);

// The warnings of check for the file's text, each one line ("SECTION KEY: what"), for the
// given sections only (all when empty). add, set, apply and import print them after a change.
std::vector<std::string> warnings_for(const std::string& text, bool password_readable,
                                      const std::vector<std::string>& sections);
// The same for the file as it now is (after a change), for those sections.
std::vector<std::string> warnings_after(const std::vector<std::string>& sections);
// Warnings as a verb reports them: "warnings" in its JSON answer, or lines on stderr.
void report_warnings(const Context& ctx, const std::vector<std::string>& warnings,
                     Json* answer);

// The kinds other than `kind` whose group lists `name` (its section would go with it).
std::vector<Kind> other_kinds_in_section(Kind kind, const std::string& name);

}  // namespace qdlcfg
