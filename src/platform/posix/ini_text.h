// ini_text.h - the profile store's view of an INI file: bytes in, bytes out, no file access.
//
// A Document holds the file's text cut into blocks, one per section: block 0 is the nameless
// part before the first header, every other block starts at its header line and runs up to the
// next header. Each block keeps its own bytes exactly as they were read, so an edit touches one
// block and every other byte of the file survives. Sections are indexed by their lower-cased
// name, so a lookup costs one hash probe however large the file is.
//
// How a file reads (the rules of the Win32 profile functions):
//   lines       end at CR, LF or CR LF; blank lines are ignored wherever they are
//   trimming    space, TAB, LF, VT, FF, CR and 0x1A at both ends of every line and name
//   header      a trimmed line starting with '[' and holding a ']'; the name lies between the
//               '[' and the last ']', trimmed ("[a]b]" names "a]b"; "[b" is an entry)
//   entry       any other line: name before the first '=', value after it, both trimmed; a
//               line without '=' is an entry without a value; ';' and '#' mean nothing special
//   matching    ASCII letters without regard to case, bytes 0x80 and above exactly; the first
//               matching section, and in it the first matching entry, is the only one consulted
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qdl::platform::ini {

// ---- Characters and names ------------------------------------------------------------------

bool is_space(unsigned char c);
std::string_view trim(std::string_view s);
std::string_view trim_left(std::string_view s);
bool names_equal(std::string_view a, std::string_view b);
// Every byte that is an ASCII letter to lower case: the key of the section index, whatever the
// code page. Names with the same key may still differ (a double-byte character's trail byte is
// no letter); names_equal decides.
std::string fold(std::string_view name);

// A value without its enclosing quotes: at least two bytes whose first and last are the same
// quote character (" or ').
std::string_view unquote(std::string_view value);

// ---- Documents -----------------------------------------------------------------------------

// One non-blank line of a block, as offsets into the block's text. Only where it begins, where
// its content ends and where its first '=' is are kept (12 bytes a line beside the text); its
// line break and its trimmed name and value are worked out from the text when asked.
struct Line {
    static constexpr std::uint32_t kNoEquals = UINT32_MAX;
    std::uint32_t begin = 0;           // first byte of the line
    std::uint32_t end = 0;             // end of its content (where the line break starts)
    std::uint32_t equals = kNoEquals;  // its first '=', if any
    bool has_equals() const { return equals != kNoEquals; }
};

struct Block {
    std::string text;     // the block's bytes, header line included
    bool has_header = false;
    bool dead = false;    // deleted section (text is empty)
    std::string name;     // header name as spelled, trimmed
    std::vector<Line> entries;  // every non-blank line after the header, in order

    // The entry's name and value, trimmed; the value is empty when the line has no '='.
    std::string_view entry_name(const Line& l) const;
    std::string_view entry_value(const Line& l) const;
    // Where the name ends and the value begins (at the trimmed end when there is no '=').
    std::uint32_t name_end(const Line& l) const;
    std::uint32_t value_begin(const Line& l) const;
    // The first byte after the line's break (CR LF, LF or CR; the end of the text when none).
    std::uint32_t next(const Line& l) const;
};

struct Document {
    std::vector<Block> blocks;  // blocks[0] is the nameless leading part, always present
    // Lower-cased section name -> live blocks of that name, in file order. "[]" is not indexed.
    std::unordered_map<std::string, std::vector<std::uint32_t>> index;
    std::string eol = "\n";     // line break for new lines: the file's first one, else LF
    // The block find_section found last, 0 for none: a record is read and written key by key,
    // each key a lookup of the same section. apply forgets it whenever sections change.
    mutable std::uint32_t last_found = 0;
};

Document parse(std::string_view text);
std::string serialise(const Document& doc);
std::size_t text_size(const Document& doc);
bool same_text(const Document& doc, std::string_view text);

// The first section of that name (the caller's name is trimmed first); "" is the nameless part.
// Null when there is none.
const Block* find_section(const Document& doc, std::string_view name);

// The first entry of that name in the block (the caller's name is trimmed first), or null.
const Line* find_entry(const Block& block, std::string_view key);

// ---- Edits ---------------------------------------------------------------------------------

// What a WritePrivateProfileString call changes. A null key deletes the section, a null value
// deletes the key; otherwise the key is set.
struct Write {
    std::string_view section;
    const char* key = nullptr;
    const char* value = nullptr;
};

// The change of one write, worked out before it is applied (so that a write that changes
// nothing can be told apart before anything is prepared on disk).
struct Edit {
    enum class Kind { None, Replace, Append, Kill } kind = Kind::None;
    std::uint32_t block = 0;       // Replace, Kill: the block
    std::uint32_t begin = 0;       // Replace: bytes [begin, end) of the block become `insert`
    std::uint32_t end = 0;
    std::string insert;            // Replace: new bytes; Append: the new section's text
};

Edit plan(const Document& doc, const Write& w);
void apply(Document& doc, Edit edit);

}  // namespace qdl::platform::ini
