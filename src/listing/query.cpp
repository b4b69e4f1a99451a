// query.cpp - QDL_Get_List behind the call guard: the names of the sections that hold one or
// two given keys, or key values, in the file that the record operations use.
//
// Map:
//   Filter            a caller's ListFilter, read within its fields
//   section_matches   does a section satisfy the filters
//   select_sections   the walk over a scanned list, names packed into the caller's buffer
//   take_matching     the same walk over a filtered scan (the scanner matched the key lines)
//   get_list          argument checks, the filtered scan, the walk, the release
//   list_text         the same scan and walk over bytes in memory (the tool's batch)
#include <climits>
#include <string>
#include <string_view>

#include "frame/frame.h"
#include "listing/query.h"
#include "listing/scanner.h"
#include "platform/platform.h"

namespace qdl {

namespace {

// A filter's texts end at their NUL, and never beyond their fields: a key that fills its 66
// bytes is taken as its first 65, a value that fills its 82 bytes as its first 81.
struct Filter {
    std::string_view key;
    std::string_view value;  // empty: any value
};

Filter read_filter(const ListFilter& filter) {
    return {{filter.key, field_length(filter.key, sizeof filter.key)},
            {filter.value, field_length(filter.value, sizeof filter.value)}};
}

// Whole texts, letter case significant: a prefix is no match.
bool satisfies(const KeyNode& node, const Filter& filter) {
    if (std::string_view(node.key) != filter.key) return false;
    return filter.value.empty() || std::string_view(node.value()) == filter.value;
}

// Each filter is tried against the key lines until one satisfies it; one key line may satisfy
// both. A section without key lines never matches.
bool section_matches(const SectionNode& section, const Filter& first, const Filter* second) {
    bool first_found = false;
    bool second_found = second == nullptr;
    for (const KeyNode* key = section.keys; key != nullptr && !(first_found && second_found);
         key = key->next) {
        if (!first_found) first_found = satisfies(*key, first);
        if (!second_found) second_found = satisfies(*key, *second);
    }
    return first_found && second_found;
}

// A matching section: counted, and its name packed into the caller's buffer while there is
// room.
void take_section(const SectionNode& section, char*& names, unsigned capacity,
                  unsigned short& stored, int& matches) {
    if (matches < INT_MAX) ++matches;  // a count beyond int cannot be told; it stays there
    if (stored >= capacity) return;
    // Names are at most kSectionNameLimit bytes, so each takes at most 66 bytes here.
    const std::size_t length = std::strlen(section.name);
    std::memcpy(names, section.name, length + 1);
    names += length + 1;
    ++stored;
}

SectionFilters scan_filters(const ListFilter& first, const ListFilter* second) {
    const Filter a = read_filter(first);
    SectionFilters filters{{a.key, a.value}, {}, second != nullptr};
    if (second != nullptr) {
        const Filter b = read_filter(*second);
        filters.second = {b.key, b.value};
    }
    return filters;
}

// The walk over a filtered scan: the scanner has matched the key lines already.
int take_matching(const SectionList& list, char* names, unsigned capacity,
                  unsigned short& stored) {
    int matches = 0;
    for (const SectionNode* section = list.first; section != nullptr; section = section->next) {
        if (section->matches) take_section(*section, names, capacity, stored, matches);
    }
    return matches;
}

}  // namespace

int select_sections(const SectionList& list, const ListFilter& first, const ListFilter* second,
                    char* names, unsigned capacity, unsigned short& stored) {
    const Filter first_filter = read_filter(first);
    Filter second_filter{};
    if (second != nullptr) second_filter = read_filter(*second);
    const Filter* second_used = second != nullptr ? &second_filter : nullptr;

    int matches = 0;
    for (const SectionNode* section = list.first; section != nullptr; section = section->next) {
        if (section_matches(*section, first_filter, second_used)) {
            take_section(*section, names, capacity, stored, matches);
        }
    }
    return matches;
}

int check_list_arguments(const ListFilter* first, const ListFilter* second, const char* names,
                         unsigned short* count, unsigned& capacity) {
    if (first == nullptr) return QDL_ERR_NULL_ARG;
    if (first->key[0] == '\0') return QDL_ERR_EMPTY_FILTER;
    if (second != nullptr && second->key[0] == '\0') return QDL_ERR_EMPTY_FILTER;
    if (count == nullptr) return QDL_ERR_NULL_ARG;
    capacity = *count;
    *count = 0;
    if (capacity != 0 && names == nullptr) return QDL_ERR_NULL_ARG;
    return QDL_OK;
}

int list_text(std::string_view bytes, const ListFilter& first, const ListFilter* second,
              char* names, unsigned capacity, unsigned short& stored) {
    SectionList list;
    const int status = scan_text(bytes, scan_filters(first, second), list);
    if (status != QDL_OK) return status;
    const int result = take_matching(list, names, capacity, stored);
    free_section_list(list);
    return result;
}

int get_list(const ListFilter* first, const ListFilter* second, char* names,
             unsigned short* count) {
    unsigned capacity = 0;
    if (const int s = check_list_arguments(first, second, names, count, capacity); s != QDL_OK) {
        return s;
    }
    // The same file as the record operations: a bare name lies in the Windows directory.
    const std::string file = platform::locate_file(config_path(PathBuffer::List));
    // The scan matches the key lines as it reads them and keeps none: its memory is one node
    // per section, whatever the file holds.
    SectionList list;
    const int status = scan_config_file(file.c_str(), scan_filters(*first, second), list);
    if (status != QDL_OK) return status;
    const int result = take_matching(list, names, capacity, *count);
    free_section_list(list);
    return result;
}

}  // namespace qdl
