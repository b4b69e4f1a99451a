// scanner.cpp - the configuration file as the listing reads it (see scanner.h for the rules).
//
// Map:
//   Storage          the arena of one scan: blocks from the heap, nodes taken from the front of
//                    a block and texts from its back, released as a whole
//   Tokens           the code page's lead bytes (one table per scan), the delimiter sets, the
//                    first run of characters outside a set (_mbstok's rule), normalising:
//                    comments and spaces
//   normalize_line   the same for a caller's line
//   Lines            the bracket, key and start tests and the state table
//   Reading          bytes to pieces of at most 127 bytes, CR LF read as LF
//   Entry points     scan_text, scan_config_file, free_section_list
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
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <system_error>

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

// Everything one scan works with; nothing is shared between scans.
struct Scan {
    SectionList* list;
    std::size_t storage_limit;
    LeadBytes chars;
    State state = State::BeforeFirstHeader;
    bool out_of_memory = false;
    bool carriage_return = false;           // a CR waits to see whether a LF follows
    std::size_t length = 0;                 // bytes of the piece being read
    std::size_t pending_length = 0;
    char line[kLineBufferSize] = {};
    char pending[kSectionNameLimit + 1] = {};  // the name of the last header, cut to fit
};

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
    *node = {scan.list->first, nullptr, name};
    scan.list->first = node;
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

// The key test. A key line holds '=' and some other character: its key is the first token, its
// value the next one (line feeds and '=' excluded), empty when there is none.
enum class KeyTest { NoToken, NotKeyLine, KeyLine };

KeyTest key_test(Scan& scan, const char* line, std::size_t size) {
    const Token key = next_token(scan.chars, line, size, 0, kKey);
    if (!key.found()) return KeyTest::NoToken;
    if (key.length() == size) return KeyTest::NotKeyLine;
    // Like _mbstok, the search for the value goes on after the delimiter that ended the key.
    const std::size_t from = key.end < size ? key.end + 1 : size;
    const Token value = next_token(scan.chars, line, size, from, kValue);
    add_key(scan, line, key, value);  // no value: an empty token
    return KeyTest::KeyLine;
}

void handle_line(Scan& scan) {
    char* line = scan.line;
    line[scan.length] = '\0';
    scan.length = 0;
    if (scan.out_of_memory) return;
    if (line[0] == ';' || line[0] == '\n') return;  // the skip test, before normalising
    const std::size_t size = normalize(scan.chars, line);
    const Token bracket = next_token(scan.chars, line, size, 0, kBracket);

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
        key_test(scan, line, size);
        return;
    case State::InSection:
        if (key_test(scan, line, size) != KeyTest::NotKeyLine) return;
        // The start test: a token that the line does not begin with (it begins with a bracket).
        if (bracket.found() && bracket.begin != 0) {
            set_pending(scan, line, bracket);
            scan.state = State::AfterHeader;
        }
        return;
    }
}

// ---- Reading ------------------------------------------------------------------------------

// A byte of the piece being read; a line feed or a full piece ends it, as fgets does.
void push(Scan& scan, char c) {
    scan.line[scan.length++] = c;
    if (c == '\n' || scan.length == kPieceSize) handle_line(scan);
}

void feed(Scan& scan, const char* bytes, std::size_t size) {
    std::size_t i = 0;
    while (i < size && !scan.out_of_memory) {
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

int scan_text(std::string_view bytes, SectionList& list, std::size_t storage_limit) {
    Scan scan{&list, storage_limit, lead_bytes()};
    feed(scan, bytes.data(), bytes.size());
    return finish(scan);
}

int scan_config_file(const char* file, SectionList& list) {
    if (file == nullptr || *file == '\0') return QDL_ERR_FILE;
    std::error_code error;
    // A directory opens for reading on some systems and then fails every read.
    if (std::filesystem::is_directory(file, error)) return QDL_ERR_FILE;
    std::FILE* stream = std::fopen(file, "rb");
    if (stream == nullptr) return QDL_ERR_FILE;
    Scan scan{&list, kUnlimitedStorage, lead_bytes()};
    char chunk[kReadChunk];
    // A read error ends the scan like the end of the file.
    while (!scan.out_of_memory) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, stream);
        if (got == 0) break;
        feed(scan, chunk, got);
    }
    std::fclose(stream);
    return finish(scan);
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
