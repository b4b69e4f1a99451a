// section_edit.hpp - changing records line by line. The library writes a record as a whole
// section; an administrator's file holds more than that (comments, keys of other programs, an
// order of its own). So a record that changes is first added with its writes only noted (the
// library's own add decides every key and value, nothing reaches the file), and then only the
// keys whose values differ are written in place, added to the section or removed: every other
// line of the file stays byte for byte.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/fields.hpp"

namespace qdlcfg {

// The keys of one section in the order they were first written, each with its value.
using KeyValues = std::vector<std::pair<std::string, std::string>>;

// What a series of adds would leave in the file: the sections they write (by folded name).
struct Rendering {
    std::map<std::string, KeyValues> sections;
    std::vector<std::string> touched;  // every section written or deleted, first spelling
    int status = 0;               // QDL_OK, or the status of the add that refused
    std::size_t refused = 0;      // the index of that record
    const KeyValues* section(const std::string& name) const;
};

// Adds the records in their order, every write noted and none carried out. Records with a
// name are added under `stand_in` (a name no section of the file has), so that their adds see
// an empty section. The result maps the stand-in's section, or the global sections, to what
// the adds would write there.
Rendering render(const std::vector<const Record*>& records, const std::string& stand_in);

// A section name that holds nothing in the file, for render.
std::string free_section_name(const std::string& path);

// Every INI key that a record of these kinds can hold.
std::vector<std::string> record_keys(const std::vector<Kind>& kinds);

// `path` is the configuration path as the library holds it (Location::configured).
// Makes `section` hold `after`: keys of `managed` that `after` lacks are removed (every copy of
// them), keys whose value differs are rewritten where they stand, new keys are added after the
// section's last one. A key whose value `before` (what the stored records would write) already
// gives is left as it stands. With `drop_empty`, a section that holds no key at the end goes
// whole. False when a write failed.
bool edit_section(const std::string& path, const std::string& section, const KeyValues* before, const KeyValues& after,
                  const std::vector<std::string>& managed, bool drop_empty);

}  // namespace qdlcfg
