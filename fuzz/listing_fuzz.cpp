// listing_fuzz.cpp - arbitrary bytes as the configuration file, through the scanner and the
// section query, with structural checks on what comes out.
//
// Input:
//   byte 0     options: bits 0-1 code page (1252, 932, 936, 949); bits 2-4 room for 0 to 7
//              names; bit 5 a second filter; bit 6 storage limited to 16 KiB (the
//              out-of-memory path); bit 7 filter fields filled to their widths, no NUL
//   bytes 1-   the file. Its first line (up to a line feed) also gives the filters:
//              "key|value|key2|value2", missing parts empty.
//
// Built twice: as a libFuzzer target (QDL_BUILD_FUZZ, clang) and, with replay_main.cpp, as a
// plain program that replays the files it is given (a ctest test over the corpus).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "listing/query.h"
#include "listing/scanner.h"
#include "platform/platform.h"
#include "testing/hooks.h"
#include "tskqdl32.h"

namespace {

constexpr unsigned kCodePages[] = {1252, 932, 936, 949};
constexpr std::size_t kLimitedStorage = 16 * 1024;

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "listing_fuzz: %s\n", what);
    std::abort();
}

// Part `index` of the '|'-separated filter line.
std::string_view part(std::string_view line, int index) {
    for (int i = 0; i < index; ++i) {
        const auto bar = line.find('|');
        if (bar == std::string_view::npos) return {};
        line.remove_prefix(bar + 1);
    }
    return line.substr(0, line.find('|'));
}

// On the heap and of its exact size, so that a read beyond it is caught.
std::unique_ptr<ListFilter> make_filter(std::string_view key, std::string_view value,
                                        bool unterminated) {
    auto filter = std::make_unique<ListFilter>();
    std::memset(filter.get(), unterminated ? 'K' : 0, sizeof *filter);
    std::copy_n(key.begin(), std::min(key.size(), sizeof filter->key), filter->key);
    std::copy_n(value.begin(), std::min(value.size(), sizeof filter->value), filter->value);
    return filter;
}

bool has_any(const char* text, const char* bytes) { return std::strpbrk(text, bytes) != nullptr; }

// What any list must look like; single-byte code page: no delimiter survives in a text.
void check_list(const qdl::SectionList& list, bool single_byte) {
    for (const qdl::SectionNode* s = list.first; s != nullptr; s = s->next) {
        check(std::strlen(s->name) <= qdl::kSectionNameLimit, "section name too long");
        if (single_byte) check(!has_any(s->name, " ;[]"), "delimiter in a section name");
        for (const qdl::KeyNode* k = s->keys; k != nullptr; k = k->next) {
            const std::size_t key = std::strlen(k->key);
            const std::size_t value = std::strlen(k->value());
            check(key > 0, "empty key");
            check(key + 1 + value <= qdl::kPieceSize, "key line longer than a piece");
            if (single_byte) {
                check(!has_any(k->key, " ;="), "delimiter in a key");
                check(!has_any(k->value(), " ;=\n"), "delimiter in a value");
            }
        }
    }
}

void check_names(const qdl::SectionList& list, const std::vector<char>& names,
                 unsigned short stored, unsigned capacity, int result) {
    check(stored <= capacity, "more names than room");
    check(result >= stored, "result below the names stored");
    // The names stored are those of sections in list order; each fits 66 bytes.
    std::size_t at = 0;
    for (unsigned i = 0; i < stored; ++i) {
        const std::size_t length = std::strlen(names.data() + at);
        check(length <= qdl::kSectionNameLimit, "stored name too long");
        at += length + 1;
    }
    check(at <= std::size_t{stored} * 66, "names beyond 66 bytes each");
    int sections = 0;
    for (const qdl::SectionNode* s = list.first; s != nullptr; s = s->next) ++sections;
    check(result <= sections, "more matches than sections");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned options = data[0];
    const unsigned code_page = kCodePages[options & 3];
    const unsigned capacity = (options >> 2) & 7;
    const bool two_filters = (options & 0x20) != 0;
    const bool limited = (options & 0x40) != 0;
    const bool unterminated = (options & 0x80) != 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    qdl::platform::set_code_page_for_tests(code_page);

    const std::string_view line = text.substr(0, text.find('\n'));
    const auto first = make_filter(part(line, 0), part(line, 1), unterminated);
    const auto second = make_filter(part(line, 2), part(line, 3), unterminated);

    qdl::SectionList list;
    const int status =
        qdl::scan_text(text, list, limited ? kLimitedStorage : qdl::kUnlimitedStorage);
    if (status != QDL_OK) {
        check(status == QDL_ERR_NO_MEMORY && limited, "scan failed without a storage limit");
        check(list.first == nullptr && list.blocks == nullptr, "failed scan left a list");
        return 0;
    }
    check_list(list, code_page == 1252);

    std::vector<char> names(std::size_t{capacity} * 66);
    unsigned short stored = 0;
    const int result = qdl::select_sections(list, *first, two_filters ? second.get() : nullptr,
                                            names.data(), capacity, stored);
    check_names(list, names, stored, capacity, result);
    qdl::free_section_list(list);
    check(list.first == nullptr && list.blocks == nullptr, "released list not empty");
    return 0;
}
