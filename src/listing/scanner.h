// scanner.h - the configuration file read as text: sections and their key lines, as the
// listing sees them.
//
// The scanner has rules of its own, not those of the profile functions:
//   - the file is read in pieces of at most 127 bytes, as fgets with a 128-byte buffer gives
//     them (up to and including a line feed); a longer line is several pieces, and each piece is
//     a line of its own. A carriage return before a line feed is dropped (text mode).
//   - a line whose first byte is ';' or a line feed is skipped;
//   - every other line is normalised: a ';' ends it and leaves a line feed, every space (0x20)
//     is dropped, tabs and line feeds stay;
//   - a header names a section, a key line adds a key and a value to the section; which line is
//     which depends on the state (before the first header, right after a header, inside a
//     section), see scanner.cpp.
// Characters are those of the active ANSI code page: a delimiter is never recognised inside a
// double-byte character.
//
// Both lists run in reverse file order: the section found last comes first, and within a
// section the key line found last comes first. A header that no content line followed gets no
// node; a section name or key that occurs twice gets two nodes.
//
// Every scan owns its storage (an arena released as a whole), so scans never share state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace qdl {

// fgets with a 128-byte buffer: pieces of at most 127 bytes and their NUL.
inline constexpr std::size_t kLineBufferSize = 128;
inline constexpr std::size_t kPieceSize = kLineBufferSize - 1;

// A section name is reported with at most 65 bytes (whole characters), so that it and its NUL
// fit the 66 bytes per name of the caller's buffer.
inline constexpr std::size_t kSectionNameLimit = 65;

// One key line. The key and the value are held whole, each NUL-terminated, the value right
// after the key's NUL; the value is empty when the line carries none.
struct KeyNode {
    KeyNode* next;       // the key line found before this one in the section; null at the end
    const char* key;
    const char* value() const { return key + std::strlen(key) + 1; }
};

// One header occurrence followed by content.
struct SectionNode {
    SectionNode* next;   // the section found before this one; null at the end
    KeyNode* keys;       // the section's last key line; null while it has none (and always in
                         // a filtered scan)
    const char* name;    // at most kSectionNameLimit bytes, NUL-terminated
    bool matches;        // filtered scan: the section satisfied the filters
};

// A filter of a listing: a key line satisfies it when its key equals `key` and, unless `value`
// is empty, its value equals `value` (whole texts, letter case significant).
struct KeyFilter {
    std::string_view key;
    std::string_view value;
};

// The filters of a filtered scan: a section matches when some key line of it satisfies `first`
// and, when `two` is set, some key line (the same one or another) satisfies `second`. A section
// without key lines never matches.
struct SectionFilters {
    KeyFilter first;
    KeyFilter second;
    bool two = false;
};

struct ArenaBlock;

// The result of one scan. Empty when zero-initialised; free_section_list empties it again.
struct SectionList {
    SectionNode* first = nullptr;
    ArenaBlock* blocks = nullptr;   // node and text storage, released as a whole
    std::size_t reserved = 0;       // bytes of storage taken from the system
};

// No limit on the storage of a scan other than what the system gives.
inline constexpr std::size_t kUnlimitedStorage = SIZE_MAX;

// Builds the list from the file's bytes (binary: CR LF reads as LF here). QDL_OK, or
// QDL_ERR_NO_MEMORY when storage cannot be had (or would pass `storage_limit` bytes, which tests
// use to stand in for an exhausted heap); on failure the list is empty. `list` must be empty.
int scan_text(std::string_view bytes, SectionList& list,
              std::size_t storage_limit = kUnlimitedStorage);

// Opens `file` (already located: no path rule applied here) through the platform layer, reads
// it and builds the list. QDL_ERR_FILE when it cannot be opened or is not a regular file (a
// directory, FIFO or device), and when it is larger than platform::kMaxFileSize (256 MiB; also
// one that grows past it while it is read); a read error ends the scan like the end of the file.
// Otherwise as scan_text.
int scan_config_file(const char* file, SectionList& list);

// Filtered scans: as above, but key lines are matched against `filters` as they are read and
// not kept, so a scan's storage is its section nodes and names. Every node's `keys` is null and
// its `matches` flag says whether the section satisfied the filters; walking the nodes gives
// what select_sections gives for the unfiltered list.
int scan_text(std::string_view bytes, const SectionFilters& filters, SectionList& list,
              std::size_t storage_limit = kUnlimitedStorage);
int scan_config_file(const char* file, const SectionFilters& filters, SectionList& list);

// As scan_text, with the bytes handed over one at a time: no line is ever whole in the bytes at
// hand, so every line takes the general way (tests compare the two).
int scan_text_bytewise(std::string_view bytes, SectionList& list);

// Releases every node and leaves the list empty. Safe on an empty list.
void free_section_list(SectionList& list);

// Rewrites a NUL-terminated line (at most kPieceSize bytes) in place: a ';' ends it and leaves
// a line feed, spaces are dropped. Returns the new length.
std::size_t normalize_line(char* line);

}  // namespace qdl
