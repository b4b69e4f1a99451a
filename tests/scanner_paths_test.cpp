// scanner_paths_test.cpp - the scanner's two ways through a line give one result: a plain line
// read whole (the fast way) is scanned as the general rules scan it, and a filtered scan (key
// lines matched as they are read) selects the sections that the section query selects from the
// full list. Checked on lines of every shape the rules tell apart, and on random texts.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "listing/query.h"
#include "listing/scanner.h"
#include "platform/platform.h"
#include "support/sections.h"
#include "support/test_env.h"
#include "testing/hooks.h"
#include "tskqdl32.h"

namespace {

using qdltest::scan;
using qdltest::sections_of;

ListFilter list_filter(const std::string& key, const std::string& value) {
    ListFilter f;
    std::memset(&f, 0, sizeof f);
    std::memcpy(f.key, key.data(), std::min(key.size(), sizeof f.key - 1));
    std::memcpy(f.value, value.data(), std::min(value.size(), sizeof f.value - 1));
    return f;
}

struct Query {
    std::string key, value;
    std::string second_key, second_value;  // no second filter when second_key is empty
};

// The names the section query selects from the full list, in list order.
std::vector<std::string> selected(std::string_view text, const Query& q) {
    qdl::SectionList list;
    EXPECT_EQ(qdl::scan_text(text, list), QDL_OK);
    const ListFilter first = list_filter(q.key, q.value);
    const ListFilter second = list_filter(q.second_key, q.second_value);
    constexpr unsigned kCapacity = 10000;
    std::vector<char> names(66 * kCapacity);
    unsigned short stored = 0;
    const int count = qdl::select_sections(list, first, q.second_key.empty() ? nullptr : &second,
                                           names.data(), kCapacity, stored);
    EXPECT_LE(count, static_cast<int>(kCapacity)) << "every selected name fits";
    qdl::free_section_list(list);
    std::vector<std::string> out;
    const char* p = names.data();
    for (int i = 0; i < count && i < stored; ++i) {
        out.emplace_back(p);
        p += out.back().size() + 1;
    }
    return out;
}

// The names a filtered scan marks as matching, in list order.
std::vector<std::string> matched(std::string_view text, const Query& q) {
    qdl::SectionFilters filters{{q.key, q.value}, {q.second_key, q.second_value},
                                !q.second_key.empty()};
    qdl::SectionList list;
    EXPECT_EQ(qdl::scan_text(text, filters, list), QDL_OK);
    std::vector<std::string> out;
    for (const qdl::SectionNode* s = list.first; s != nullptr; s = s->next) {
        EXPECT_EQ(s->keys, nullptr) << "a filtered scan keeps no key lines";
        if (s->matches) out.emplace_back(s->name);
    }
    qdl::free_section_list(list);
    return out;
}

const std::vector<Query> kQueries = {
    {"TYPE", "", "", ""},       {"TYPE", "KWT_SERIAL", "", ""}, {"a", "", "", ""},
    {"a", "b", "", ""},         {"a", "", "b", ""},             {"[a", "", "", ""},
    {"K", "V", "K", ""},        {"\x81=", "", "", ""},
};

void expect_same_everywhere(const std::string& text) {
    EXPECT_EQ(scan(text, false), scan(text, true)) << testing::PrintToString(text);
    for (const Query& q : kQueries) {
        EXPECT_EQ(matched(text, q), selected(text, q))
            << testing::PrintToString(text) << " filter " << q.key << "=" << q.value;
    }
}

class ScannerPaths : public ::testing::TestWithParam<unsigned> {
protected:
    void SetUp() override { qdl::platform::set_code_page_for_tests(GetParam()); }
    void TearDown() override { qdl::platform::set_code_page_for_tests(1252); }
};

// Lines of each shape that the plain way handles, or hands to the general rules.
TEST_P(ScannerPaths, LinesOfEveryShapeScanAlike) {
    const std::string long_line = "K=" + std::string(200, 'v') + "\n";
    const std::vector<std::string> texts = {
        "[S1]\nTYPE=KWT_SERIAL\nPORT=COM1\n[S2]\nTYPE=TCPIP_ETH\n",
        "[S1]\r\nTYPE=KWT_SERIAL\r\nPORT=COM1\r\n[S2]\r\nTYPE=TCPIP_ETH\r\n",
        "[S1]\nTYPE = KWT SERIAL\n a = b ;c\n;x=y\n[S2]\nTYPE=KWT_SERIAL",
        "[]\n[[a]]\nb=c\n[a\nd=e\na]b\n]x[\nf=g\n[h]i]\nj=\n=k\n==l\nm==n\no=p=q\nr\n",
        "[a]\nk=v\n[\n]\n[]\nx=y\n[b]]\nz\n[c]\n=\nTYPE=1\n",
        "[S]\rK=V\r\n[T]\r\rTYPE=X\r\n\r\n\n[U]\nTYPE=Y\r",
        std::string("[S]\nK=V\0W\n[T]\nTY\0PE=X\nTYPE=Z\n", 30),
        "[S]\n" + std::string(126, 'k') + "\n" + std::string(127, 'k') + "\n" +
            std::string(128, 'k') + "\na=b\n",
        "[S]\n" + std::string(125, 'k') + "\r\n" + std::string(126, 'k') + "\r\n" +
            std::string(127, '=') + "\n" + long_line + "TYPE=1\n",
        "[\x81]]\nK\x81=V\nTYPE=\x81\x40\n[\x82\xA0]\n\x81=\nTYPE=\x81\n",
        "[S]\n\x81\n" + std::string(126, 'x') + "\x81\nTYPE=Q\n",
        // A matched section is passed over up to the piece that holds the next bracket: here
        // that piece begins 123 bytes after the section's last line read, its bracket 127.
        "[S]\nTYPE=1\nk=" + std::string(120, 'v') + "\nm=vv[y]\nTYPE=1\n[T]\nTYPE=2\n",
        "[S]\nTYPE=1\nk=" + std::string(200, 'v') + "[y]\nTYPE=1\n[T]\nTYPE=2\n",
    };
    for (const std::string& text : texts) expect_same_everywhere(text);
}

// Random texts over the bytes that the rules care about.
TEST_P(ScannerPaths, RandomTextsScanAlike) {
    static constexpr char kAlphabet[] = "ab[]= ;\r\n\n\n\x81\x40TK";
    std::mt19937 rng(GetParam());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 1);  // NUL included
    std::uniform_int_distribution<std::size_t> length(0, 300);
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const std::size_t n = length(rng);
        for (std::size_t i = 0; i < n; ++i) text.push_back(kAlphabet[pick(rng)]);
        expect_same_everywhere(text);
    }
}

INSTANTIATE_TEST_SUITE_P(CodePages, ScannerPaths, ::testing::Values(1252u, 932u));

// A file is read in chunks: lines that a chunk boundary cuts take the general way, the others
// the plain one, and the file scans as its bytes do.
TEST(ScannerPathsFile, LinesAcrossReadChunksScanAsTheBytesDo) {
    qdltest::Machine machine;
    std::string text;
    for (int i = 0; text.size() < 70000; ++i) {
        text += "[P" + std::to_string(i) + "]\r\nTYPE=KWT_SERIAL\r\nKWT_T" +
                std::string(static_cast<std::size_t>(i % 7), 'x') + "=10000\r\n";
    }
    const std::string path = machine.scratch_dir() + "/chunks.ini";
    qdltest::write_file(path, text);
    qdl::SectionList list;
    ASSERT_EQ(qdl::scan_config_file(path.c_str(), list), QDL_OK);
    EXPECT_EQ(sections_of(list), scan(text, true));
    qdl::free_section_list(list);

    const qdl::SectionFilters filters{{"TYPE", "KWT_SERIAL"}, {}, false};
    ASSERT_EQ(qdl::scan_config_file(path.c_str(), filters, list), QDL_OK);
    std::vector<std::string> names;
    for (const qdl::SectionNode* s = list.first; s != nullptr; s = s->next) {
        if (s->matches) names.emplace_back(s->name);
    }
    qdl::free_section_list(list);
    EXPECT_EQ(names, selected(text, {"TYPE", "KWT_SERIAL", "", ""}));
}

}  // namespace
