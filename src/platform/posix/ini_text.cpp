// ini_text.cpp - parsing, querying and editing INI text for the profile store (see ini_text.h).
//
//   characters   is_space, trim, names_equal, fold, unquote
//   parsing      next_line, parse_block (one section's lines), parse (the headers of the whole
//                text: a memchr for '[' and a look at its line), serialise (the pieces)
//   index        name_hash, open addressing over the sections' names; detail_of reads a
//                section's lines at its first use
//   lines        Block's derived offsets: name_end, value_begin, entry_name, entry_value, next
//   lookups      block, find_section, find_entry
//   edits        plan (what a write changes), apply (copy the section out of the base and
//                change it: a value replaced within its line, or lines added at the end of a
//                section, update that section's entries; any other change parses the section
//                again; a section whose new text no longer parses as one, e.g. a value holding a
//                line break and a header, makes the whole document parse again)
#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "platform/platform.h"
#include "platform/posix/ini_text.h"

namespace qdl::platform::ini {

// ---- Characters and names ------------------------------------------------------------------

bool is_space(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' ||
           c == 0x1A;
}

std::string_view trim_left(std::string_view s) {
    std::size_t b = 0;
    while (b < s.size() && is_space(static_cast<unsigned char>(s[b]))) ++b;
    return s.substr(b);
}

std::string_view trim(std::string_view s) {
    s = trim_left(s);
    std::size_t e = s.size();
    while (e > 0 && is_space(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(0, e);
}

namespace {

unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool is_break(char c) { return c == '\r' || c == '\n'; }

}  // namespace

// Names match as the profile functions match them: ASCII letters without regard to case, every
// other character exactly. A double-byte character of the code page is one character: its
// trail byte is never taken for a letter (0x83 0x41 and 0x83 0x61 are two different kana).
bool names_equal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca < 0x80 && cb < 0x80) {
            if (lower(ca) != lower(cb)) return false;
            continue;
        }
        if (ca != cb) return false;
        if (i + 1 < a.size() && is_lead_byte(ca)) {
            ++i;
            if (a[i] != b[i]) return false;
        }
    }
    return true;
}

std::string fold(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = static_cast<char>(lower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// ---- Parsing -------------------------------------------------------------------------------

namespace {

struct RawLine {
    std::size_t begin, end, next;  // content [begin, end), line break [end, next)
};

// The line starting at pos. A line break is CR LF, LF or CR.
RawLine next_line(std::string_view text, std::size_t pos) {
    std::size_t end = pos;
    while (end < text.size() && !is_break(text[end])) ++end;
    if (end == text.size()) return {pos, end, end};
    std::size_t next = end + 1;
    if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
    return {pos, end, next};
}

// Trimmed bounds [tb, te) of a line's content.
void trimmed_bounds(std::string_view text, const RawLine& l, std::size_t& tb, std::size_t& te) {
    tb = l.begin;
    te = l.end;
    while (tb < te && is_space(static_cast<unsigned char>(text[tb]))) ++tb;
    while (te > tb && is_space(static_cast<unsigned char>(text[te - 1]))) --te;
}

bool is_header(std::string_view text, std::size_t tb, std::size_t te) {
    return tb < te && text[tb] == '[' &&
           text.substr(tb + 1, te - tb - 1).find(']') != std::string_view::npos;
}

std::string_view header_name(std::string_view text, std::size_t tb, std::size_t te) {
    const std::size_t close = text.substr(0, te).rfind(']');
    return trim(text.substr(tb + 1, close - tb - 1));
}

// The entry on line l; its offsets count from `base` (the start of its block).
Line make_entry(std::string_view text, const RawLine& l, std::size_t tb, std::size_t te,
                std::size_t base) {
    Line e;
    e.begin = static_cast<std::uint32_t>(l.begin - base);
    e.end = static_cast<std::uint32_t>(l.end - base);
    const std::size_t eq = text.substr(0, te).find('=', tb);
    if (eq != std::string_view::npos) e.equals = static_cast<std::uint32_t>(eq - base);
    return e;
}

// A section's text read line by line.
struct Parsed {
    std::vector<Line> entries;
    bool has_header = false;
    std::size_t name_at = 0, name_size = 0;
};

// Parses a section's text. False when it is not one section: a header other than on the first
// line of a named section, or any header in the nameless part.
bool parse_block(std::string_view text, bool leading, Parsed& out) {
    out.entries.clear();
    out.has_header = false;
    out.name_at = out.name_size = 0;
    bool first = true;
    for (std::size_t pos = 0; pos < text.size();) {
        const RawLine l = next_line(text, pos);
        pos = l.next;
        std::size_t tb, te;
        trimmed_bounds(text, l, tb, te);
        if (tb == te) {
            if (first && !leading) return false;
            continue;
        }
        if (is_header(text, tb, te)) {
            if (!first || leading) return false;
            out.has_header = true;
            const std::string_view name = header_name(text, tb, te);
            out.name_at = static_cast<std::size_t>(name.data() - text.data());
            out.name_size = name.size();
        } else {
            if (first && !leading) return false;
            out.entries.push_back(make_entry(text, l, tb, te, 0));
        }
        first = false;
    }
    out.entries.shrink_to_fit();
    return leading || out.has_header;
}

std::string detect_eol(std::string_view text) {
    const std::size_t p = text.find_first_of("\r\n");
    if (p == std::string_view::npos) return "\n";
    if (text[p] == '\n') return "\n";
    return (p + 1 < text.size() && text[p + 1] == '\n') ? "\r\n" : "\r";
}

// White space that may stand before the '[' of a header on its line.
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

// ---- Index ---------------------------------------------------------------------------------

// FNV-1a over the lower-cased bytes, then mixed: names that match (names_equal) hash alike.
std::uint64_t name_hash(std::string_view name) {
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : name) {
        h ^= lower(static_cast<unsigned char>(c));
        h *= 1099511628211ull;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return h;
}

bool indexed(const Section& sec) { return sec.has_header && !sec.dead && sec.name_size > 0; }

void index_insert(Document& doc, std::uint32_t s) {
    const std::size_t mask = doc.index.size() - 1;
    std::size_t i = name_hash(doc.name_of(s)) & mask;
    while (doc.index[i] != 0) i = (i + 1) & mask;
    doc.index[i] = s + 1;
}

// Makes room for `count` names and puts every indexed section in, in file order.
void index_rebuild(Document& doc, std::size_t count) {
    std::size_t size = 16;
    while (size < 2 * count) size *= 2;
    doc.index.assign(size, 0);
    for (std::uint32_t s = 0; s < doc.sections.size(); ++s) {
        if (indexed(doc.sections[s])) index_insert(doc, s);
    }
}

// Indexes section s, the last one, growing the index when it would be more than half full.
void index_add(Document& doc, std::uint32_t s) {
    if (!indexed(doc.sections[s])) return;
    if (2 * (doc.sections.size() + 1) > doc.index.size()) {
        index_rebuild(doc, doc.sections.size() + 1);  // s is in there now
        return;
    }
    index_insert(doc, s);
}

Detail& detail_of(const Document& doc, std::uint32_t s) {
    const Section& sec = doc.sections[s];
    if (sec.detail == Section::kNoDetail) {
        Parsed p;
        parse_block(doc.text_of(s), s == 0, p);  // found by the load's scan: one section
        Detail& d = doc.details.emplace_back();
        d.entries = std::move(p.entries);
        sec.detail = static_cast<std::uint32_t>(doc.details.size() - 1);
    }
    return doc.details[sec.detail];
}

}  // namespace

std::string_view Document::text_of(std::uint32_t s) const {
    const Section& sec = sections[s];
    if (sec.detail != Section::kNoDetail && details[sec.detail].owned) {
        return details[sec.detail].text;
    }
    return std::string_view(base).substr(sec.begin, sec.end - sec.begin);
}

std::string_view Document::name_of(std::uint32_t s) const {
    return text_of(s).substr(sections[s].name_at, sections[s].name_size);
}

// Only the headers are looked for: a '[' (memchr) that has nothing but white space before it
// on its line, and a ']' after it on the same line. A section begins at the start of its
// header's line and ends where the next one begins.
Document parse(std::string text) {
    static_assert(kMaxFileSize < UINT32_MAX, "offsets within a document are 32-bit");
    Document doc;
    doc.base = std::move(text);
    const std::string_view t(doc.base);
    doc.eol = detect_eol(t);
    doc.sections.emplace_back();  // the nameless part, possibly empty
    std::size_t named = 0;
    for (std::size_t pos = 0; pos < t.size();) {
        const void* hit = std::memchr(t.data() + pos, '[', t.size() - pos);
        if (hit == nullptr) break;
        const std::size_t open = static_cast<std::size_t>(static_cast<const char*>(hit) - t.data());
        std::size_t line = open;
        while (line > 0 && is_blank(t[line - 1])) --line;
        if (line > 0 && !is_break(t[line - 1])) {  // inside a line
            pos = open + 1;
            continue;
        }
        std::size_t end = open + 1;
        while (end < t.size() && !is_break(t[end])) ++end;
        pos = end;
        const std::size_t close = t.substr(0, end).rfind(']');
        if (close == std::string_view::npos || close < open) continue;  // "[b": an entry
        doc.sections.back().end = static_cast<std::uint32_t>(line);
        Section& sec = doc.sections.emplace_back();
        sec.begin = static_cast<std::uint32_t>(line);
        sec.has_header = true;
        const std::string_view name = trim(t.substr(open + 1, close - open - 1));
        sec.name_at = static_cast<std::uint32_t>(name.data() - t.data() - line);
        sec.name_size = static_cast<std::uint32_t>(name.size());
        if (!name.empty()) ++named;
    }
    doc.sections.back().end = static_cast<std::uint32_t>(t.size());
    index_rebuild(doc, named);
    return doc;
}

std::string serialise(const Document& doc) {
    std::string out;
    out.reserve(text_size(doc));
    for_each_piece(doc, [&](std::string_view piece) { out += piece; });
    return out;
}

std::size_t text_size(const Document& doc) {
    std::size_t n = 0;
    for_each_piece(doc, [&](std::string_view piece) { n += piece.size(); });
    return n;
}

bool same_text(const Document& doc, std::string_view text) {
    std::size_t pos = 0;
    bool same = true;
    for_each_piece(doc, [&](std::string_view piece) {
        same = same && text.substr(pos, piece.size()) == piece;
        pos += piece.size();
    });
    return same && pos == text.size();
}

// ---- Lines ---------------------------------------------------------------------------------

namespace {

// The content of line l with the spaces at both ends trimmed off: [tb, te).
void trimmed_line(std::string_view text, const Line& l, std::size_t& tb, std::size_t& te) {
    tb = l.begin;
    te = l.end;
    while (tb < te && is_space(static_cast<unsigned char>(text[tb]))) ++tb;
    while (te > tb && is_space(static_cast<unsigned char>(text[te - 1]))) --te;
}

}  // namespace

std::uint32_t Block::name_end(const Line& l) const {
    std::size_t tb, te;
    trimmed_line(text, l, tb, te);
    if (!l.has_equals()) return static_cast<std::uint32_t>(te);
    std::size_t ne = l.equals;
    while (ne > tb && is_space(static_cast<unsigned char>(text[ne - 1]))) --ne;
    return static_cast<std::uint32_t>(ne);
}

std::uint32_t Block::value_begin(const Line& l) const {
    std::size_t tb, te;
    trimmed_line(text, l, tb, te);
    if (!l.has_equals()) return static_cast<std::uint32_t>(te);
    std::size_t vb = l.equals + std::size_t{1};
    while (vb < te && is_space(static_cast<unsigned char>(text[vb]))) ++vb;
    return static_cast<std::uint32_t>(vb);
}

// The lookups' hot path: the name is trimmed from the line's start to its first '=' (or its
// end) without trimming the value as well.
std::string_view Block::entry_name(const Line& l) const {
    std::size_t tb = l.begin;
    while (tb < l.end && is_space(static_cast<unsigned char>(text[tb]))) ++tb;
    std::size_t ne = l.has_equals() ? l.equals : l.end;
    while (ne > tb && is_space(static_cast<unsigned char>(text[ne - 1]))) --ne;
    return std::string_view(text).substr(tb, ne - tb);
}

std::string_view Block::entry_value(const Line& l) const {
    std::size_t tb, te;
    trimmed_line(text, l, tb, te);
    const std::uint32_t vb = value_begin(l);
    return std::string_view(text).substr(vb, te - vb);
}

std::uint32_t Block::next(const Line& l) const {
    std::size_t n = l.end;
    if (n < text.size() && text[n] == '\r') {
        ++n;
        if (n < text.size() && text[n] == '\n') ++n;
    } else if (n < text.size() && text[n] == '\n') {
        ++n;
    }
    return static_cast<std::uint32_t>(n);
}

// ---- Lookups -------------------------------------------------------------------------------

Block block(const Document& doc, std::uint32_t s) {
    const Section& sec = doc.sections[s];
    const Detail& d = detail_of(doc, s);
    Block b;
    b.number = s;
    b.text = doc.text_of(s);
    b.name = b.text.substr(sec.name_at, sec.name_size);
    b.has_header = sec.has_header;
    b.entries = d.entries;
    return b;
}

std::optional<Block> find_section(const Document& doc, std::string_view name) {
    name = trim(name);
    if (name.empty()) return block(doc, 0);
    if (doc.last_found != 0 && names_equal(doc.name_of(doc.last_found), name)) {
        return block(doc, doc.last_found);
    }
    const std::size_t mask = doc.index.size() - 1;
    for (std::size_t i = name_hash(name) & mask; doc.index[i] != 0; i = (i + 1) & mask) {
        const std::uint32_t s = doc.index[i] - 1;  // in file order along the probe sequence
        if (!doc.sections[s].dead && names_equal(doc.name_of(s), name)) {
            doc.last_found = s;
            return block(doc, s);
        }
    }
    return std::nullopt;
}

// Every keyed read and write looks up one entry, in a section of a dozen or more: each line's
// name is worked out in place (as entry_name does), and only one of the key's length is
// compared.
const Line* find_entry(const Block& block, std::string_view key) {
    key = trim(key);
    const std::string_view text(block.text);
    for (const Line& l : block.entries) {
        std::size_t tb = l.begin;
        while (tb < l.end && is_space(static_cast<unsigned char>(text[tb]))) ++tb;
        std::size_t ne = l.has_equals() ? l.equals : l.end;
        while (ne > tb && is_space(static_cast<unsigned char>(text[ne - 1]))) --ne;
        if (ne - tb == key.size() && names_equal(text.substr(tb, ne - tb), key)) return &l;
    }
    return nullptr;
}

// ---- Edits ---------------------------------------------------------------------------------

namespace {

// Where a new entry of the block goes: after its last entry, else after its header.
std::uint32_t insert_point(const Block& b) {
    if (!b.entries.empty()) return b.next(b.entries.back());
    if (!b.has_header) return 0;
    return static_cast<std::uint32_t>(next_line(b.text, 0).next);
}

// After bytes [begin, begin + removed) of a section's text became `inserted` new bytes: updates
// its entries without parsing the whole section, for the two changes writes make most:
//   - a change inside one entry's line content that adds no line break (a value replaced, an
//     '=' and value given to a line without one): that line is read again, the later ones move;
//   - whole lines added at the end of the section (a new key): they are read and appended.
// False, with the entries possibly changed, for anything else (a line that would turn blank or
// into a header included); the caller then parses the section as a whole.
bool update_entries(Detail& d, std::size_t begin, std::size_t removed, std::size_t inserted) {
    const std::string_view text(d.text);
    std::vector<Line>& entries = d.entries;
    if (removed == 0 && begin + inserted == text.size() && begin > 0 && inserted > 0) {
        // The insertion must start a line: after LF, or after a lone CR that it does not join.
        const char before = text[begin - 1];
        if (!(before == '\n' || (before == '\r' && text[begin] != '\n'))) return false;
        for (std::size_t pos = begin; pos < text.size();) {
            const RawLine l = next_line(text, pos);
            pos = l.next;
            std::size_t tb, te;
            trimmed_bounds(text, l, tb, te);
            if (tb == te) continue;
            if (is_header(text, tb, te)) return false;
            entries.reserve(entries.size() + 1);  // entries keep no spare capacity
            entries.push_back(make_entry(text, l, tb, te, 0));
        }
        return true;
    }
    // The last entry that begins at or before the change must hold all of it.
    auto it = std::upper_bound(entries.begin(), entries.end(), begin,
                               [](std::size_t pos, const Line& l) { return pos < l.begin; });
    if (it == entries.begin()) return false;
    Line& line = *std::prev(it);
    if (begin + removed > line.end) return false;
    const std::string_view added = text.substr(begin, inserted);
    if (added.find_first_of("\r\n") != std::string_view::npos) return false;
    const RawLine raw{line.begin, line.end + inserted - removed, 0};
    std::size_t tb, te;
    trimmed_bounds(text, raw, tb, te);
    if (tb == te || is_header(text, tb, te)) return false;
    line = make_entry(text, raw, tb, te, 0);
    const std::uint32_t grown = static_cast<std::uint32_t>(inserted - removed);  // modulo 2^32
    for (; it != entries.end(); ++it) {
        it->begin += grown;
        it->end += grown;
        if (it->has_equals()) it->equals += grown;
    }
    return true;
}

// Section s with its bytes copied out of the base, ready to be edited.
Detail& own(Document& doc, std::uint32_t s) {
    Detail& d = detail_of(doc, s);
    if (!d.owned) {
        d.text.assign(doc.text_of(s));
        d.owned = true;
    }
    return d;
}

// Reads an edited section's text again; false when it is no longer one section.
bool reparse(Document& doc, std::uint32_t s) {
    Detail& d = doc.details[doc.sections[s].detail];
    Parsed p;
    const bool clean = parse_block(d.text, s == 0, p);
    d.entries = std::move(p.entries);
    Section& sec = doc.sections[s];
    sec.has_header = p.has_header;
    sec.name_at = static_cast<std::uint32_t>(p.name_at);
    sec.name_size = static_cast<std::uint32_t>(p.name_size);
    return clean;
}

void rebuild(Document& doc) {
    std::string eol = doc.eol;
    doc = parse(serialise(doc));
    doc.eol = std::move(eol);
}

}  // namespace

Edit plan(const Document& doc, const Write& w) {
    Edit edit;
    const std::optional<Block> block = find_section(doc, w.section);
    if (w.key == nullptr) {  // delete the section
        if (!block || (!block->has_header && block->entries.empty())) return edit;
        edit.kind = Edit::Kind::Kill;
        edit.block = block->number;
        return edit;
    }
    const Line* line = block ? find_entry(*block, w.key) : nullptr;
    if (w.value == nullptr) {  // delete the key
        if (line == nullptr) return edit;
        edit.kind = Edit::Kind::Replace;
        edit.block = block->number;
        edit.begin = line->begin;
        edit.end = block->next(*line);
        return edit;
    }
    const std::string_view key = trim(w.key);
    const std::string_view value = trim_left(w.value);
    if (line != nullptr) {  // replace the value, keep the rest of the line
        edit.begin = line->has_equals() ? block->value_begin(*line) : block->name_end(*line);
        edit.end = line->end;
        // Built in one expression: appending to a short string here trips a false -Wrestrict
        // of GCC 12 at -O3.
        edit.insert = std::string(line->has_equals() ? "" : "=") + std::string(value);
        if (block->text.substr(edit.begin, edit.end - edit.begin) == edit.insert) return Edit{};
        edit.kind = Edit::Kind::Replace;
        edit.block = block->number;
        return edit;
    }
    const std::string entry = std::string(key) + "=" + std::string(value) + doc.eol;
    if (block) {  // a new entry after the section's last one
        edit.kind = Edit::Kind::Replace;
        edit.block = block->number;
        edit.begin = edit.end = insert_point(*block);
        const bool needs_break = edit.begin > 0 && !is_break(block->text[edit.begin - 1]);
        edit.insert = (needs_break ? std::string(doc.eol) : std::string()) + entry;
        return edit;
    }
    edit.kind = Edit::Kind::Append;  // a new section at the end of the file
    const std::string_view section = trim(w.section);
    edit.insert.reserve(section.size() + doc.eol.size() + entry.size() + 2);
    edit.insert.append(1, '[').append(section).append(1, ']').append(doc.eol).append(entry);
    return edit;
}

void apply(Document& doc, Edit edit) {
    switch (edit.kind) {
    case Edit::Kind::None:
        return;
    case Edit::Kind::Replace: {
        Detail& d = own(doc, edit.block);
        const std::size_t removed = edit.end - edit.begin;
        d.text.replace(edit.begin, removed, edit.insert);
        if (update_entries(d, edit.begin, removed, edit.insert.size())) return;
        doc.last_found = 0;
        if (!reparse(doc, edit.block)) rebuild(doc);
        return;
    }
    case Edit::Kind::Kill: {
        doc.last_found = 0;
        Detail& d = detail_of(doc, edit.block);
        d.owned = true;
        d.text = std::string();
        d.entries = std::vector<Line>();
        // The nameless part stays, empty; a named section goes (the index passes it over).
        if (edit.block != 0) doc.sections[edit.block].dead = true;
        return;
    }
    case Edit::Kind::Append: {
        doc.last_found = 0;
        for (std::size_t i = doc.sections.size(); i-- > 0;) {
            const auto s = static_cast<std::uint32_t>(i);
            if (doc.sections[s].dead || doc.text_of(s).empty()) continue;
            if (!is_break(doc.text_of(s).back())) {
                own(doc, s).text += doc.eol;
                reparse(doc, s);
            }
            break;
        }
        Detail& d = doc.details.emplace_back();
        d.owned = true;
        d.text = std::move(edit.insert);
        const auto s = static_cast<std::uint32_t>(doc.sections.size());
        Section& sec = doc.sections.emplace_back();
        sec.detail = static_cast<std::uint32_t>(doc.details.size() - 1);
        if (!reparse(doc, s)) {
            rebuild(doc);
            return;
        }
        index_add(doc, s);
        return;
    }
    }
}

}  // namespace qdl::platform::ini
