// ini_text.h - the profile store's view of an INI file: bytes in, bytes out, no file access.
//
// A Document holds the file's text as it was read and a list of its sections: section 0 is the
// nameless part before the first header, every other section starts at its header line and
// runs up to the next header. Loading finds only the headers; a section's lines are read when it
// is first used, and an edit copies out the one section it changes, so every other byte of the
// file survives as it was read and is written back from the same memory. Sections are indexed
// by their lower-cased name, so a lookup costs one hash probe however large the file is.
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
#include <deque>
#include <optional>
#include <span>
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

// One non-blank line of a section, as offsets into the section's text. Only where it begins,
// where its content ends and where its first '=' is are kept (12 bytes a line beside the text);
// its line break and its trimmed name and value are worked out from the text when asked.
struct Line {
    static constexpr std::uint32_t kNoEquals = UINT32_MAX;
    std::uint32_t begin = 0;           // first byte of the line
    std::uint32_t end = 0;             // end of its content (where the line break starts)
    std::uint32_t equals = kNoEquals;  // its first '=', if any
    bool has_equals() const { return equals != kNoEquals; }
};

// A section as the lookups hand it out: views into the document, valid until the document is
// next edited.
struct Block {
    std::uint32_t number = 0;       // its place among the document's sections (0: nameless part)
    std::string_view text;          // its bytes, header line included
    std::string_view name;          // header name as spelled, trimmed
    bool has_header = false;
    std::span<const Line> entries;  // every non-blank line after the header, in order

    // The entry's name and value, trimmed; the value is empty when the line has no '='.
    std::string_view entry_name(const Line& l) const;
    std::string_view entry_value(const Line& l) const;
    // Where the name ends and the value begins (at the trimmed end when there is no '=').
    std::uint32_t name_end(const Line& l) const;
    std::uint32_t value_begin(const Line& l) const;
    // The first byte after the line's break (CR LF, LF or CR; the end of the text when none).
    std::uint32_t next(const Line& l) const;
};

// A section's place in the document. Loading a file finds only where each section begins and
// what it is called; its lines are read when it is first used, and its bytes are copied out of
// the file's text only when it is edited. So a load costs little more than the read of the
// file, and the memory beside the text is 24 bytes a section plus the index.
struct Section {
    static constexpr std::uint32_t kNoDetail = UINT32_MAX;
    std::uint32_t begin = 0;     // bytes [begin, end) of Document::base, until it is edited
    std::uint32_t end = 0;
    std::uint32_t name_at = 0;   // its name: bytes [name_at, name_at + name_size) of its text
    std::uint32_t name_size = 0;
    mutable std::uint32_t detail = kNoDetail;  // its Detail, once used or edited
    bool has_header = false;
    bool dead = false;           // deleted section (no bytes)
};

// What is known of a section beyond its place: its lines, and its own bytes once edited.
struct Detail {
    bool owned = false;  // the section's bytes are `text`, no longer its span of the base
    std::string text;
    std::vector<Line> entries;
};

// Made by parse (parse("") for an empty one): it always holds the nameless part and an index.
struct Document {
    std::string base;               // the text as read; untouched sections are spans of it
    std::vector<Section> sections;  // in file order; [0] is the nameless leading part
    mutable std::deque<Detail> details;  // a deque: a Block's views stay valid as it grows
    // Open addressing over the lower-cased names of the named, headed sections: section + 1,
    // 0 for a free slot; a power of two long, at most half full. Sections are never taken out
    // (a deleted one is passed over), so of several of one name the first in file order comes
    // first along its probe sequence.
    std::vector<std::uint32_t> index;
    std::string eol = "\n";  // line break for new lines: the file's first one, else LF
    // The section find_section found last, 0 for none: a record is read and written key by key,
    // each key a lookup of the same section.
    mutable std::uint32_t last_found = 0;

    std::string_view text_of(std::uint32_t s) const;
    std::string_view name_of(std::uint32_t s) const;
};

// Takes the file's bytes: finds the sections (a scan for '[' at the start of a line) and
// indexes their names; no section's lines are read yet.
Document parse(std::string text);
std::string serialise(const Document& doc);
std::size_t text_size(const Document& doc);
bool same_text(const Document& doc, std::string_view text);

// The document's bytes in order, as few pieces as possible: untouched neighbouring sections are
// one piece of the base text, never copied.
template <class F>
void for_each_piece(const Document& doc, F&& f) {
    const std::string_view base(doc.base);
    std::uint32_t run_begin = 0, run_end = 0;  // untouched bytes not handed out yet
    const auto flush = [&] {
        if (run_end > run_begin) f(base.substr(run_begin, run_end - run_begin));
    };
    for (const Section& sec : doc.sections) {
        if (sec.dead) continue;
        if (sec.detail == Section::kNoDetail || !doc.details[sec.detail].owned) {
            if (sec.begin != run_end) {
                flush();
                run_begin = sec.begin;
            }
            run_end = sec.end;
            continue;
        }
        flush();
        run_begin = run_end = 0;
        const std::string& own = doc.details[sec.detail].text;
        if (!own.empty()) f(std::string_view(own));
    }
    flush();
}

// Section s, its lines read at its first use.
Block block(const Document& doc, std::uint32_t s);

// The first section of that name (the caller's name is trimmed first); "" is the nameless part.
std::optional<Block> find_section(const Document& doc, std::string_view name);

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
