// sections.h - a scanner's section list as plain values (names and key/value pairs in list
// order), so that a test compares whole lists and gtest prints them readably.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "listing/scanner.h"
#include "tskqdl32.h"

namespace qdltest {

struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;  // in list order
    bool operator==(const Section&) const = default;
};

inline void PrintTo(const Section& s, std::ostream* os) {
    *os << "[" << testing::PrintToString(s.name) << "]";
    for (const auto& [k, v] : s.keys) {
        *os << " " << testing::PrintToString(k) << "=" << testing::PrintToString(v);
    }
}

using Sections = std::vector<Section>;

inline Sections sections_of(const qdl::SectionList& list) {
    Sections out;
    for (const qdl::SectionNode* s = list.first; s != nullptr; s = s->next) {
        Section section{s->name, {}};
        for (const qdl::KeyNode* k = s->keys; k != nullptr; k = k->next) {
            section.keys.emplace_back(k->key, k->value());
        }
        out.push_back(std::move(section));
    }
    return out;
}

// The list that `text` scans to, the plain way or byte by byte (the general rules only).
inline Sections scan(std::string_view text, bool bytewise = false) {
    qdl::SectionList list;
    EXPECT_EQ(bytewise ? qdl::scan_text_bytewise(text, list) : qdl::scan_text(text, list),
              QDL_OK);
    Sections out = sections_of(list);
    qdl::free_section_list(list);
    return out;
}

}  // namespace qdltest
