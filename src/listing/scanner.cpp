// scanner.cpp - the configuration file as the listing reads it (see scanner.h for the rules).
//
// Map:
//   Storage          the arena of one scan: blocks from the heap, nodes taken from the front of
//                    a block and texts from its back, released as a whole
//   Tokens           the code page's lead bytes (one table per scan), the delimiter sets, the
//                    first run of characters outside a set (_mbstok's rule), normalising:
//                    comments and spaces
//   normalize_line   the same for a caller's line
//   Lines            the bracket, key and start tests and the state table; a key line is kept,
//                    or, in a filtered scan, matched against the filters and dropped
//   Plain lines      the fast way through a line without spaces, ';', NULs or lead bytes that
//                    lies whole in the bytes read: normalising would leave it as it is, and its
//                    tokens follow from where its brackets and '=' signs are
//   Reading          bytes to pieces of at most 127 bytes, CR LF read as LF (the file itself in
//                    chunks through the platform layer's reader); a filtered scan
//                    passes over the rest of a section that already matches, up to the next
//                    piece that holds a bracket
//   Entry points     scan_text, scan_config_file (plain and filtered), scan_text_bytewise,
//                    free_section_list
//
// The state table:
//
//   state         line                                  action                      next
//   before first  bracket test finds a header           pending name := its name    after header
//   before first  anything else                         ignored                     before first
//   after header  bracket test finds a header           pending name := its name    after header
//                                                       (the earlier one gets no node)
//   after header  bracket test finds no token           ignored                     after header
//   after header  anything else                         new section, pending name;  in section
//                                                       key test on the same line
//   in section    key test finds a key line             new key of the section      in section
//   in section    key test finds no token               ignored                     in section
//   in section    start test finds a header             pending name := its name    after header
//   in section    anything else                         ignored                     in section
//
// So before the first header and right after one, a bracket anywhere makes a header (even on a
// line that holds '='); inside a section the key test comes first, and a line without '=' is a
// header only when it begins with a bracket.
#include "listing/scanner.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>

#include "platform/platform.h"
#include "tskqdl32.h"

namespace qdl {

// ---- Storage ------------------------------------------------------------------------------

struct ArenaBlock {
    ArenaBlock* next;   // the block taken before this one
    std::size_t size;   // bytes of storage after this header
    std::size_t low;    // nodes end here
    std::size_t high;   // texts begin here
    unsigned char* data() { return reinterpret_cast<unsigned char*>(this + 1); }
};

namespace {

// A small file fits its first block; blocks then double up to the largest size, so that a
// large file takes few allocations and leaves at most one block's tail unused per block.
constexpr std::size_t kFirstBlockSize = 4096 - sizeof(ArenaBlock);
constexpr std::size_t kLargestBlockSize = (std::size_t{1} << 20) - sizeof(ArenaBlock);

constexpr std::size_t kNodeAlign = alignof(SectionNode);
static_assert(alignof(KeyNode) <= kNodeAlign);
static_assert(sizeof(KeyNode) % kNodeAlign == 0 && sizeof(SectionNode) % kNodeAlign == 0);
static_assert(sizeof(ArenaBlock) % alignof(std::max_align_t) == 0);
// The largest single request (one piece's key and value with their NULs, and a node) fits the
// first block.
static_assert(kFirstBlockSize > kLineBufferSize + 2 + sizeof(SectionNode));

enum class State { BeforeFirstHeader, AfterHeader, InSection };

// The active code page's lead bytes, asked of the platform once per scan rather than once per
// byte. A lead byte followed by the line's NUL is a character of one byte (as char_length has
// it), so no character reaches past the end of a piece.
struct LeadBytes {
    bool lead[256];
    std::size_t length(const char* p) const {
        return lead[static_cast<unsigned char>(*p)] && p[1] != '\0' ? 2 : 1;
    }
};

LeadBytes lead_bytes() {
    LeadBytes table{};
    for (unsigned c = 0; c < 256; ++c) {
        table.lead[c] = platform::is_lead_byte(static_cast<unsigned char>(c));
    }
    return table;
}

// What the plain-line test needs to know of a byte.
enum ByteClass : std::uint8_t {
    kLineEnd = 1,   // LF, CR
    kUnplain = 2,   // space, ';', NUL, a lead byte: the line needs normalising or the full rules
    kBracketByte = 4,
    kEqualsByte = 8,
};

using ByteClasses = std::array<std::uint8_t, 256>;

ByteClasses byte_classes(const LeadBytes& chars) {
    ByteClasses table{};
    for (unsigned c = 0; c < 256; ++c) {
        if (chars.lead[c]) table[c] = kUnplain;
    }
    table['\n'] = table['\r'] = kLineEnd;
    table[' '] = table[';'] = table['\0'] = kUnplain;
    table['['] = table[']'] = kBracketByte;
    table['='] = kEqualsByte;
    return table;
}

// Everything one scan works with; nothing is shared between scans.
struct Scan {
    SectionList* list;
    std::size_t storage_limit;
    LeadBytes chars;
    const SectionFilters* filters = nullptr;  // a filtered scan
    ByteClasses classes{};
    State state = State::BeforeFirstHeader;
    bool out_of_memory = false;
    bool carriage_return = false;           // a CR waits to see whether a LF follows
    std::size_t length = 0;                 // bytes of the piece being read
    std::size_t pending_length = 0;
    char line[kLineBufferSize] = {};
    char pending[kSectionNameLimit + 1] = {};  // the name of the last header, cut to fit
    bool first_found = false;   // filtered scan: the current section satisfied the first filter
    bool second_found = false;  // ... and the second one
};

Scan make_scan(SectionList& list, std::size_t storage_limit, const SectionFilters* filters) {
    Scan scan{&list, storage_limit, lead_bytes()};
    scan.filters = filters;
    scan.classes = byte_classes(scan.chars);
    return scan;
}

bool add_block(Scan& scan) {
    SectionList& list = *scan.list;
    const std::size_t size =
        list.blocks ? std::min(list.blocks->size * 2 + sizeof(ArenaBlock), kLargestBlockSize)
                    : kFirstBlockSize;
    if (size > scan.storage_limit || list.reserved > scan.storage_limit - size) return false;
    void* raw = std::malloc(sizeof(ArenaBlock) + size);
    if (raw == nullptr) return false;
    list.blocks = new (raw) ArenaBlock{list.blocks, size, 0, size};
    list.reserved += size;
    return true;
}

// Room for `size` bytes in the current block, a new block when it has none left.
ArenaBlock* block_with_room(Scan& scan, std::size_t size) {
    ArenaBlock* block = scan.list->blocks;
    if (block != nullptr && block->high - block->low >= size) return block;
    if (!add_block(scan)) {
        scan.out_of_memory = true;
        return nullptr;
    }
    return scan.list->blocks;
}

template <class Node>
Node* take_node(Scan& scan) {
    ArenaBlock* block = block_with_room(scan, sizeof(Node));
    if (block == nullptr) return nullptr;
    void* at = block->data() + block->low;
    block->low += sizeof(Node);
    return new (at) Node{};
}

char* take_text(Scan& scan, std::size_t size) {
    ArenaBlock* block = block_with_room(scan, size);
    if (block == nullptr) return nullptr;
    block->high -= size;
    return reinterpret_cast<char*>(block->data() + block->high);
}

// ---- Tokens -------------------------------------------------------------------------------

// The delimiter sets of the three tests, one bit each. Every delimiter is an ASCII byte and no
// ASCII byte is a lead byte, so a delimiter found where a character begins is that character.
enum Delimiters : std::uint8_t { kBracket = 1, kKey = 2, kValue = 4 };

constexpr std::array<std::uint8_t, 256> kDelimiterTable = [] {
    std::array<std::uint8_t, 256> table{};
    table[' '] = kBracket | kKey | kValue;
    table['['] = kBracket;
    table[']'] = kBracket;
    table['='] = kKey | kValue;
    table['\n'] = kValue;
    return table;
}();

bool is_delimiter(char c, Delimiters set) {
    return (kDelimiterTable[static_cast<unsigned char>(c)] & set) != 0;
}

// A token is line[begin, end); begin == end means there is none.
struct Token {
    std::size_t begin;
    std::size_t end;
    bool found() const { return end > begin; }
    std::size_t length() const { return end - begin; }
};

// The first token of line[from, size): delimiters skipped, then the run of characters that are
// not delimiters (_mbstok's rule). line[size] is the line's NUL.
Token next_token(const LeadBytes& chars, const char* line, std::size_t size, std::size_t from,
                 Delimiters set) {
    std::size_t i = from;
    while (i < size && is_delimiter(line[i], set)) ++i;
    const std::size_t begin = i;
    while (i < size && !is_delimiter(line[i], set)) i += chars.length(line + i);
    return {begin, i};
}

// ';' ends the line and leaves a line feed; spaces are dropped. ';' and ' ' are never lead
// bytes, so a test of a character's first byte is enough.
std::size_t normalize(const LeadBytes& chars, char* line) {
    std::size_t in = 0;
    std::size_t out = 0;
    while (line[in] != '\0') {
        if (line[in] == ';') {
            line[out++] = '\n';
            break;
        }
        const std::size_t length = chars.length(line + in);
        if (line[in] != ' ') {
            line[out] = line[in];
            if (length == 2) line[out + 1] = line[in + 1];
            out += length;
        }
        in += length;
    }
    line[out] = '\0';
    return out;
}

}  // namespace

// ---- normalize_line -----------------------------------------------------------------------

std::size_t normalize_line(char* line) { return normalize(lead_bytes(), line); }

namespace {

// ---- Lines --------------------------------------------------------------------------------

// The pending name: the header's name cut to kSectionNameLimit bytes of whole characters.
void set_pending(Scan& scan, const char* line, Token name) {
    std::size_t used = 0;
    while (used < name.length()) {
        const std::size_t length = scan.chars.length(line + name.begin + used);
        if (used + length > kSectionNameLimit) break;
        used += length;
    }
    std::memcpy(scan.pending, line + name.begin, used);
    scan.pending[used] = '\0';
    scan.pending_length = used;
}

bool add_section(Scan& scan) {
    char* name = take_text(scan, scan.pending_length + 1);
    if (name == nullptr) return false;
    std::memcpy(name, scan.pending, scan.pending_length + 1);
    SectionNode* node = take_node<SectionNode>(scan);
    if (node == nullptr) return false;
    *node = {scan.list->first, nullptr, name, false};
    scan.list->first = node;
    scan.first_found = false;
    scan.second_found = scan.filters != nullptr && !scan.filters->two;
    return true;
}

void add_key(Scan& scan, const char* line, Token key, Token value) {
    char* text = take_text(scan, key.length() + value.length() + 2);
    if (text == nullptr) return;
    std::memcpy(text, line + key.begin, key.length());
    text[key.length()] = '\0';
    char* value_text = text + key.length() + 1;
    std::memcpy(value_text, line + value.begin, value.length());
    value_text[value.length()] = '\0';
    KeyNode* node = take_node<KeyNode>(scan);
    if (node == nullptr) return;
    SectionNode* section = scan.list->first;  // the current section is the one made last
    *node = {section->keys, text};
    section->keys = node;
}

bool satisfies(std::string_view key, std::string_view value, const KeyFilter& filter) {
    return key == filter.key && (filter.value.empty() || value == filter.value);
}

// A filtered scan matches the key line against the filters of the current section instead of
// keeping it.
void match_key(Scan& scan, const char* line, Token key, Token value) {
    const std::string_view k(line + key.begin, key.length());
    const std::string_view v(line + value.begin, value.length());
    if (!scan.first_found) scan.first_found = satisfies(k, v, scan.filters->first);
    if (!scan.second_found) scan.second_found = satisfies(k, v, scan.filters->second);
    scan.list->first->matches = scan.first_found && scan.second_found;
}

// The tokens of a normalised line: the bracket token (delimiters space and brackets), the key
// token (space and '=') and the value token (space, '=' and line feed), which begins after the
// delimiter that ended the key (as _mbstok goes on) and is empty when there is none.
struct Tokens {
    Token bracket;
    Token key;
    Token value;
};

Tokens line_tokens(const LeadBytes& chars, const char* line, std::size_t size) {
    Tokens t{};
    t.bracket = next_token(chars, line, size, 0, kBracket);
    t.key = next_token(chars, line, size, 0, kKey);
    if (t.key.found() && t.key.length() < size) {
        const std::size_t from = t.key.end < size ? t.key.end + 1 : size;
        t.value = next_token(chars, line, size, from, kValue);
    }
    return t;
}

// The key test. A key line holds '=' and some other character: its key is the key token, its
// value the value token, empty when there is none.
enum class KeyTest { NoToken, NotKeyLine, KeyLine };

KeyTest key_test(Scan& scan, const char* line, std::size_t size, const Tokens& t) {
    if (!t.key.found()) return KeyTest::NoToken;
    if (t.key.length() == size) return KeyTest::NotKeyLine;
    if (scan.filters != nullptr) {
        match_key(scan, line, t.key, t.value);
    } else {
        add_key(scan, line, t.key, t.value);  // no value: an empty token
    }
    return KeyTest::KeyLine;
}

// The state table over a normalised line of `size` bytes and its tokens. Only the bytes of
// tokens that are kept are read from `line`.
void handle_tokens(Scan& scan, const char* line, std::size_t size, const Tokens& t) {
    const Token bracket = t.bracket;
    switch (scan.state) {
    case State::BeforeFirstHeader:
        // The bracket test: a token shorter than the line (a bracket was skipped or ended it).
        if (bracket.found() && bracket.length() < size) {
            set_pending(scan, line, bracket);
            scan.state = State::AfterHeader;
        }
        return;
    case State::AfterHeader:
        if (!bracket.found()) return;  // only brackets
        if (bracket.length() < size) {
            set_pending(scan, line, bracket);
            return;
        }
        if (!add_section(scan)) return;
        scan.state = State::InSection;
        key_test(scan, line, size, t);
        return;
    case State::InSection:
        if (key_test(scan, line, size, t) != KeyTest::NotKeyLine) return;
        // The start test: a token that the line does not begin with (it begins with a bracket).
        if (bracket.found() && bracket.begin != 0) {
            set_pending(scan, line, bracket);
            scan.state = State::AfterHeader;
        }
        return;
    }
}

void handle_line(Scan& scan) {
    char* line = scan.line;
    line[scan.length] = '\0';
    scan.length = 0;
    if (scan.out_of_memory) return;
    if (line[0] == ';' || line[0] == '\n') return;  // the skip test, before normalising
    const std::size_t size = normalize(scan.chars, line);
    handle_tokens(scan, line, size, line_tokens(scan.chars, line, size));
}

// ---- Plain lines --------------------------------------------------------------------------

constexpr std::size_t kNone = SIZE_MAX;

// A line read whole, without spaces, ';', NULs or lead bytes. `size` counts its line feed,
// which `text` need not hold (a CR LF line has a CR there).
struct PlainLine {
    const char* text;
    std::size_t size;
    std::size_t brackets[2] = {kNone, kNone};  // where its first two brackets are
    std::size_t equals[2] = {kNone, kNone};    // where its first two '=' are
};

void note_position(std::size_t (&where)[2], std::size_t at) {
    if (where[0] == kNone) {
        where[0] = at;
    } else if (where[1] == kNone) {
        where[1] = at;
    }
}

// The tokens of a plain line, as line_tokens finds them; false for the few shapes that are
// left to it (a line that begins with a run of brackets or of '=', or whose header runs into
// the line feed). No token reaches the line feed unless it spans the whole line.
bool plain_tokens(const PlainLine& l, Tokens& t) {
    const std::size_t b0 = l.brackets[0], b1 = l.brackets[1];
    if (b0 == kNone) {
        t.bracket = {0, l.size};
    } else if (b0 > 0) {
        t.bracket = {0, b0};
    } else {
        if (b1 == kNone || b1 == 1) return false;
        t.bracket = {1, b1};
    }
    const std::size_t e0 = l.equals[0], e1 = l.equals[1];
    if (e0 == 0) return false;
    if (e0 == kNone) {
        t.key = {0, l.size};
        t.value = {};
        return true;
    }
    t.key = {0, e0};
    const std::size_t content = l.size - 1;  // the line feed ends every value
    if (e1 == e0 + 1) return false;
    const std::size_t begin = e0 + 1;
    t.value = begin >= content ? Token{l.size, l.size} : Token{begin, std::min(e1, content)};
    return true;
}

// Where the first two '=' and the first two brackets of a plain line's bytes are; `seen` says
// which of them it has at all.
void find_delimiters(PlainLine& line, std::size_t content, std::uint8_t seen) {
    const char* text = line.text;
    if (seen & kEqualsByte) {
        for (std::size_t k = 0; k < content && line.equals[1] == kNone; ++k) {
            if (text[k] == '=') note_position(line.equals, k);
        }
    }
    if (seen & kBracketByte) {
        for (std::size_t k = 0; k < content && line.brackets[1] == kNone; ++k) {
            if (text[k] == '[' || text[k] == ']') note_position(line.brackets, k);
        }
    }
}

// A filtered scan inside a section that already matches learns nothing from a key line: a
// plain line with '=' after its first byte is one, and leaves the state as it is.
bool nothing_to_learn(const Scan& scan, const char* text, std::uint8_t seen) {
    return scan.filters != nullptr && scan.state == State::InSection && scan.first_found &&
           scan.second_found && (seen & kEqualsByte) && text[0] != '=';
}

// Takes the line that starts at bytes[i] the fast way when it is plain and ends (LF or CR LF)
// within `size` and within one piece; moves i past it. False: nothing was taken.
bool take_plain_line(Scan& scan, const char* bytes, std::size_t size, std::size_t& i) {
    const char* p = bytes + i;
    const std::size_t limit = std::min(size - i, kPieceSize);
    const void* lf = std::memchr(p, '\n', limit);
    if (lf == nullptr) return false;
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(lf) - p);
    const std::size_t content = end > 0 && p[end - 1] == '\r' ? end - 1 : end;
    const std::uint8_t* classes = scan.classes.data();
    std::uint8_t seen = 0;
    for (std::size_t k = 0; k < content; ++k) seen |= classes[static_cast<unsigned char>(p[k])];
    if (seen & (kUnplain | kLineEnd)) return false;
    if (content > 0 && !nothing_to_learn(scan, p, seen)) {  // an empty line is skipped
        PlainLine line{p, content + 1};
        find_delimiters(line, content, seen);
        Tokens t{};
        if (!plain_tokens(line, t)) return false;
        handle_tokens(scan, p, line.size, t);
    }
    i += end + 1;
    return true;
}

// A filtered scan inside a section that already matches learns nothing more until the next
// header, and only a piece that holds a bracket byte can be one ('[' and ']' may also be the
// second byte of a double-byte character; such a piece is simply read).
bool section_matched(const Scan& scan) {
    return scan.filters != nullptr && scan.state == State::InSection && scan.first_found &&
           scan.second_found;
}

// The first '[' or ']' of bytes[from, to), or `to`.
std::size_t next_bracket(const char* bytes, std::size_t from, std::size_t to) {
    std::size_t found = to;
    for (const char c : {'[', ']'}) {
        const void* at = std::memchr(bytes + from, c, found - from);
        if (at != nullptr) found = static_cast<std::size_t>(static_cast<const char*>(at) - bytes);
    }
    return found;
}

// Where the piece that begins at bytes[i] and everything after it up to the piece holding the
// next bracket byte can be passed over: that piece's start. Only lines that end within the
// bytes at hand are passed over (the last one may go on in the next read). i is where a piece
// begins.
std::size_t skip_matched_section(const char* bytes, std::size_t size, std::size_t i) {
    std::size_t end = size;  // just after the last line feed
    while (end > i && bytes[end - 1] != '\n') --end;
    if (end == i) return i;
    const std::size_t bracket = next_bracket(bytes, i, end);
    if (bracket == end) return end;
    std::size_t line = bracket;  // the start of the bracket's line, or i
    while (line > i && bytes[line - 1] != '\n') --line;
    return line + (bracket - line) / kPieceSize * kPieceSize;
}

// A byte of the piece being read; a line feed or a full piece ends it, as fgets does.
void push(Scan& scan, char c) {
    scan.line[scan.length++] = c;
    if (c == '\n' || scan.length == kPieceSize) handle_line(scan);
}

void feed(Scan& scan, const char* bytes, std::size_t size) {
    std::size_t i = 0;
    while (i < size && !scan.out_of_memory) {
        if (scan.length == 0 && !scan.carriage_return) {
            if (section_matched(scan)) i = skip_matched_section(bytes, size, i);
            if (i == size) break;
            if (take_plain_line(scan, bytes, size, i)) continue;
        }
        if (scan.carriage_return) {
            scan.carriage_return = false;
            if (bytes[i] == '\n') {
                push(scan, '\n');
                ++i;
            } else {
                push(scan, '\r');  // a lone CR is text; bytes[i] is looked at again
            }
            continue;
        }
        // The run up to the next CR or LF, as much of it as the piece has room for.
        const std::size_t room = std::min(kPieceSize - scan.length, size - i);
        std::size_t run = 0;
        while (run < room && bytes[i + run] != '\n' && bytes[i + run] != '\r') ++run;
        std::memcpy(scan.line + scan.length, bytes + i, run);
        scan.length += run;
        i += run;
        if (run == room) {
            if (scan.length == kPieceSize) handle_line(scan);
        } else if (bytes[i++] == '\r') {
            scan.carriage_return = true;
        } else {
            push(scan, '\n');
        }
    }
}

int finish(Scan& scan) {
    if (scan.carriage_return) push(scan, '\r');
    if (scan.length > 0) handle_line(scan);
    if (scan.out_of_memory) {
        free_section_list(*scan.list);
        return QDL_ERR_NO_MEMORY;
    }
    return QDL_OK;
}

// Reading the file in chunks keeps the memory of a scan to its nodes, whatever the file's size.
constexpr std::size_t kReadChunk = 16384;

}  // namespace

// ---- Entry points -------------------------------------------------------------------------

namespace {

int scan_bytes(std::string_view bytes, const SectionFilters* filters, SectionList& list,
               std::size_t storage_limit) {
    Scan scan = make_scan(list, storage_limit, filters);
    feed(scan, bytes.data(), bytes.size());
    return finish(scan);
}

int scan_file(const char* file, const SectionFilters* filters, SectionList& list) {
    // Only a regular file opens: a directory, FIFO or device is a file that cannot be opened,
    // and so is one larger than the largest file read (platform::kMaxFileSize), which the
    // record functions read as unreadable too: the listing never shows part of such a file.
    platform::FileReader reader;
    if (!reader.open(file)) return QDL_ERR_FILE;
    Scan scan = make_scan(list, kUnlimitedStorage, filters);
    char chunk[kReadChunk];
    // A read error ends the scan like the end of the file.
    while (!scan.out_of_memory) {
        const std::size_t got = reader.read(chunk, sizeof chunk);
        if (got == 0) break;
        feed(scan, chunk, got);
    }
    const bool too_large = reader.too_large();  // it grew past the limit while it was read
    reader.close();
    const int status = finish(scan);
    if (!too_large || status != QDL_OK) return status;
    free_section_list(list);
    return QDL_ERR_FILE;
}

}  // namespace

int scan_text(std::string_view bytes, SectionList& list, std::size_t storage_limit) {
    return scan_bytes(bytes, nullptr, list, storage_limit);
}

int scan_text(std::string_view bytes, const SectionFilters& filters, SectionList& list,
              std::size_t storage_limit) {
    return scan_bytes(bytes, &filters, list, storage_limit);
}

int scan_text_bytewise(std::string_view bytes, SectionList& list) {
    Scan scan = make_scan(list, kUnlimitedStorage, nullptr);
    for (const char& byte : bytes) feed(scan, &byte, 1);
    return finish(scan);
}

int scan_config_file(const char* file, SectionList& list) {
    return scan_file(file, nullptr, list);
}

int scan_config_file(const char* file, const SectionFilters& filters, SectionList& list) {
    return scan_file(file, &filters, list);
}

void free_section_list(SectionList& list) {
    ArenaBlock* block = list.blocks;
    while (block != nullptr) {
        ArenaBlock* next = block->next;
        std::free(block);
        block = next;
    }
    list = SectionList{};
}

}  // namespace qdl
