// ini_text.cpp - parsing, querying and editing INI text for the profile store (see ini_text.h).
//
//   characters   is_space, trim, names_equal, fold, unquote
//   parsing      next_line, parse_block (one block), parse (whole text), serialise
//   lines        Block's derived offsets: name_end, value_begin, entry_name, entry_value, next
//   lookups      find_section, find_entry
//   edits        plan (what a write changes), apply (change the blocks: a value replaced within
//                its line, or lines added at the end of a block, update that block's entries;
//                any other change parses the block again; a block whose new text no longer
//                parses as one section, e.g. a value holding a line break and a header, makes
//                the whole document parse again)
#include <algorithm>
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

// Parses the block's text. False when it is not one section: a header other than on the first
// line of a named block, or any header in the nameless block.
bool parse_block(Block& b, bool leading) {
    const std::string_view text(b.text);
    b.entries.clear();
    b.has_header = false;
    b.name.clear();
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
            b.has_header = true;
            b.name.assign(header_name(text, tb, te));
        } else {
            if (first && !leading) return false;
            b.entries.push_back(make_entry(text, l, tb, te, 0));
        }
        first = false;
    }
    b.entries.shrink_to_fit();
    return leading || b.has_header;
}

std::string detect_eol(std::string_view text) {
    const std::size_t p = text.find_first_of("\r\n");
    if (p == std::string_view::npos) return "\n";
    if (text[p] == '\n') return "\n";
    return (p + 1 < text.size() && text[p + 1] == '\n') ? "\r\n" : "\r";
}

void index_block(Document& doc, std::uint32_t i) {
    const Block& b = doc.blocks[i];
    if (b.has_header && !b.dead && !b.name.empty()) doc.index[fold(b.name)].push_back(i);
}

}  // namespace

Document parse(std::string_view text) {
    Document doc;
    doc.eol = detect_eol(text);
    doc.blocks.emplace_back();  // the nameless part, possibly empty
    std::size_t block_start = 0;
    const auto close_block = [&](std::size_t end) {
        Block& b = doc.blocks.back();
        b.text.assign(text.substr(block_start, end - block_start));
        b.entries.shrink_to_fit();
        index_block(doc, static_cast<std::uint32_t>(doc.blocks.size() - 1));
    };
    for (std::size_t pos = 0; pos < text.size();) {
        const RawLine l = next_line(text, pos);
        pos = l.next;
        std::size_t tb, te;
        trimmed_bounds(text, l, tb, te);
        if (tb == te) continue;
        if (is_header(text, tb, te)) {
            close_block(l.begin);
            block_start = l.begin;
            Block& b = doc.blocks.emplace_back();
            b.has_header = true;
            b.name.assign(header_name(text, tb, te));
        } else {
            doc.blocks.back().entries.push_back(make_entry(text, l, tb, te, block_start));
        }
    }
    close_block(text.size());
    return doc;
}

std::string serialise(const Document& doc) {
    std::string out;
    out.reserve(text_size(doc));
    for (const Block& b : doc.blocks) out += b.text;
    return out;
}

std::size_t text_size(const Document& doc) {
    std::size_t n = 0;
    for (const Block& b : doc.blocks) n += b.text.size();
    return n;
}

bool same_text(const Document& doc, std::string_view text) {
    std::size_t pos = 0;
    for (const Block& b : doc.blocks) {
        if (text.substr(pos, b.text.size()) != b.text) return false;
        pos += b.text.size();
    }
    return pos == text.size();
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

const Block* find_section(const Document& doc, std::string_view name) {
    name = trim(name);
    if (name.empty()) return &doc.blocks[0];
    if (doc.last_found != 0 && names_equal(doc.blocks[doc.last_found].name, name)) {
        return &doc.blocks[doc.last_found];
    }
    const auto it = doc.index.find(fold(name));
    if (it == doc.index.end()) return nullptr;
    for (const std::uint32_t i : it->second) {  // in file order; nearly always just one
        if (names_equal(doc.blocks[i].name, name)) {
            doc.last_found = i;
            return &doc.blocks[i];
        }
    }
    return nullptr;
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

std::uint32_t block_number(const Document& doc, const Block* b) {
    return static_cast<std::uint32_t>(b - doc.blocks.data());
}

// Where a new entry of the block goes: after its last entry, else after its header.
std::uint32_t insert_point(const Block& b) {
    if (!b.entries.empty()) return b.next(b.entries.back());
    if (!b.has_header) return 0;
    return static_cast<std::uint32_t>(next_line(b.text, 0).next);
}

// After bytes [begin, begin + removed) of a block's text became `inserted` new bytes: updates
// its entries without parsing the whole block, for the two changes writes make most:
//   - a change inside one entry's line content that adds no line break (a value replaced, an
//     '=' and value given to a line without one): that line is read again, the later ones move;
//   - whole lines added at the end of the block (a new key): they are read and appended.
// False, with the entries possibly changed, for anything else (a line that would turn blank or
// into a header included); the caller then parses the block as a whole.
bool update_entries(Block& b, std::size_t begin, std::size_t removed, std::size_t inserted) {
    const std::string_view text(b.text);
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
            b.entries.reserve(b.entries.size() + 1);  // entries keep no spare capacity
            b.entries.push_back(make_entry(text, l, tb, te, 0));
        }
        return true;
    }
    // The last entry that begins at or before the change must hold all of it.
    auto it = std::upper_bound(b.entries.begin(), b.entries.end(), begin,
                               [](std::size_t pos, const Line& l) { return pos < l.begin; });
    if (it == b.entries.begin()) return false;
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
    for (; it != b.entries.end(); ++it) {
        it->begin += grown;
        it->end += grown;
        if (it->has_equals()) it->equals += grown;
    }
    return true;
}

void rebuild(Document& doc) {
    std::string eol = doc.eol;
    doc = parse(serialise(doc));
    doc.eol = std::move(eol);
}

}  // namespace

Edit plan(const Document& doc, const Write& w) {
    Edit edit;
    const Block* block = find_section(doc, w.section);
    if (w.key == nullptr) {  // delete the section
        if (block == nullptr || (!block->has_header && block->entries.empty())) return edit;
        edit.kind = Edit::Kind::Kill;
        edit.block = block_number(doc, block);
        return edit;
    }
    const Line* line = block != nullptr ? find_entry(*block, w.key) : nullptr;
    if (w.value == nullptr) {  // delete the key
        if (line == nullptr) return edit;
        edit.kind = Edit::Kind::Replace;
        edit.block = block_number(doc, block);
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
        if (std::string_view(block->text).substr(edit.begin, edit.end - edit.begin) ==
            edit.insert) {
            return Edit{};
        }
        edit.kind = Edit::Kind::Replace;
        edit.block = block_number(doc, block);
        return edit;
    }
    const std::string entry = std::string(key) + "=" + std::string(value) + doc.eol;
    if (block != nullptr) {  // a new entry after the section's last one
        edit.kind = Edit::Kind::Replace;
        edit.block = block_number(doc, block);
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
        Block& b = doc.blocks[edit.block];
        const std::size_t removed = edit.end - edit.begin;
        b.text.replace(edit.begin, removed, edit.insert);
        if (update_entries(b, edit.begin, removed, edit.insert.size())) return;
        doc.last_found = 0;
        if (!parse_block(b, edit.block == 0)) rebuild(doc);
        return;
    }
    case Edit::Kind::Kill: {
        doc.last_found = 0;
        Block& b = doc.blocks[edit.block];
        b.text.clear();
        b.entries.clear();
        if (edit.block == 0) return;
        auto it = doc.index.find(fold(b.name));
        if (it != doc.index.end()) {
            std::erase(it->second, edit.block);
            if (it->second.empty()) doc.index.erase(it);
        }
        b.dead = true;
        return;
    }
    case Edit::Kind::Append: {
        doc.last_found = 0;
        for (std::size_t i = doc.blocks.size(); i-- > 0;) {
            Block& last = doc.blocks[i];
            if (last.text.empty()) continue;
            if (!is_break(last.text.back())) {
                last.text += doc.eol;
                parse_block(last, i == 0);
            }
            break;
        }
        Block b;
        b.text = std::move(edit.insert);
        const bool clean = parse_block(b, false);
        doc.blocks.push_back(std::move(b));
        if (!clean) {
            rebuild(doc);
            return;
        }
        index_block(doc, static_cast<std::uint32_t>(doc.blocks.size() - 1));
        return;
    }
    }
}

}  // namespace qdl::platform::ini
