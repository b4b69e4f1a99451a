// library.hpp - the tool's calls into TSKQDL32: the exported functions, or, while a Session is
// open, the same operations in one batch of the library's core.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/fields.hpp"

namespace qdl {
class Batch;
}

namespace qdlcfg {

// While a Session is open, every call below goes through one batch (src/exports/batch.h): the
// file's lock is held from the first call to the end, every change lands in the library's copy
// of the file, and the listings see those changes. commit() replaces the file once; a change
// that failed, or a session that ends without commit(), writes nothing. One at a time.
// A dry run (--check) takes no lock, makes no folder and writes nothing at all.
class Session {
public:
    explicit Session(bool dry_run = false);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // QDL_OK once written (or when there was nothing to write); otherwise the status of the
    // first failed change, or QDL_ERR_FILE when the replacement failed. Nothing is written then.
    int commit();
    // Ends the session, writing nothing.
    void abandon();
    // QDL_OK while no change has failed.
    int status() const;

private:
    std::unique_ptr<qdl::Batch> batch_;
    bool dry_run_ = false;
};

std::string library_version();

// --backup: every commit that changes the file first keeps it as it was, as
// "<file>.<UTC time>.bak" beside it (platform::backup_file); a failure to keep it stops the
// commit before anything is written.
void request_backup();
// The path of the backup the last commit made; empty when it made none.
const std::string& last_backup();
// The backup in a verb's answer: "backup_file" in its JSON (null when none was made), a line
// of its own in its text (nothing when none was made).
void note_backup(Json& answer);
std::string backup_line();

// The configuration file's bytes as the open session would write them (its changes included),
// or as they are when no session is open. Empty when there is no file.
std::string file_text();

// With --legacy, modem records do not exist: Failure (usage, QDL_ERR_BAD_TYPE) for them.
void require_kind(Kind kind);

// With --legacy, through the legacy library's plain reads and adds (a port as
// LegacyPortRecord); otherwise:
// Reads a record through the extended reads (ports and devices: QDL_Get_Record_Ex; modems:
// QDL_Get_Modem_Record_Ex; global: QDL_Get_Record). Returns the library's status.
int read_record(Record& record, const std::string& name);

// Adds a record; the extended add when an extension field is set. `address_kind` is used for
// devices. Returns the library's status.
int add_record(Record& record, int address_kind);
bool needs_extended_add(const Record& record);

int delete_record(Kind kind, const std::string& name, int address_kind);

// The device address kind an add uses: one address -> that kind; several, or a default port or
// model -> ADDRESS_ALL; no address -> 0.
int choose_address_kind(const Record& device);

struct Filter {
    std::string key;
    std::string value;  // empty: any value
};

// The sections that match one or two filters (a key, letter case aside, and its value as a
// record read gives it, when one is given), in file order, each name once. They are read as
// record reads see the file, so every record that `show` reads is listed, however many there
// are. A missing configuration file lists nothing; one that cannot be read throws Failure.
std::vector<std::string> list_sections(const std::vector<Filter>& filters);

// The names of one group (ports: TYPE, modems: MODEM_DIAL, devices: any of KWT_ID, IP_ADDR,
// DEST_ADDR, BXLN_BUSADR), narrowed by at most two more filters; sorted, each name once
// (names that differ only in letter case are one section: the file's first spelling is kept).
std::vector<std::string> list_group(Kind kind, const std::vector<Filter>& extra = {});

// The one section that record reads find for `name`, as list_group sees it: its name as the
// file spells it ("" when there is none), the kinds it is a record of (index: Kind; modems not
// with --legacy) and its key names. A look at one section, not a listing of the file.
struct SectionKinds {
    std::string name;
    bool holds[3] = {false, false, false};
    std::vector<std::string> keys;
};
SectionKinds section_kinds(const std::string& name);

// ASCII letters compare without case, as section names do in the profile functions.
bool same_section(const std::string& a, const std::string& b);

}  // namespace qdlcfg
