// profile_store_test.cpp - the Linux profile store reads and writes INI files as the Win32
// profile functions do. Tables of file text, call and expected bytes; every buffer is filled
// with 0xCC first, so bytes the call must not touch are checked too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/ini_text.h"
#include "support/test_env.h"
#include "testing/hooks.h"

// The allocation that t_fail_allocation counts down to throws std::bad_alloc (0: none does).
namespace {
thread_local long t_fail_allocation = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (t_fail_allocation > 0 && --t_fail_allocation == 0) throw std::bad_alloc();
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
// Not inlined: GCC would take the free() of a pointer that operator new returned for a mismatch.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using qdl::platform::profile_get_int;
using qdl::platform::profile_get_string;
using qdl::platform::profile_write_string;

constexpr char kFill = static_cast<char>(0xCC);

class ProfileStore : public ::testing::Test {
protected:
    qdltest::Machine machine;
    std::string path = machine.scratch_dir() + "/store.ini";

    void put(const std::string& text) { qdltest::write_file(path, text); }
    std::string text() const { return qdltest::read_file(path); }

    // The whole buffer after the call, plus the return value. A null section or key is passed
    // as null.
    struct Result {
        std::uint32_t ret;
        std::string bytes;
    };
    Result get(const char* section, const char* key, const char* def, std::uint32_t size) {
        std::vector<char> buf(size + 8, kFill);
        const std::uint32_t ret = profile_get_string(section, key, def, buf.data(), size,
                                                     path.c_str());
        return {ret, std::string(buf.data(), buf.size())};
    }
    // Expected buffer: `written` bytes, then 0xCC up to size + 8.
    static std::string expect(const std::string& written, std::uint32_t size) {
        return written + std::string(size + 8 - written.size(), kFill);
    }
    std::string value(const char* section, const char* key, const char* def = "?") {
        char buf[300];
        profile_get_string(section, key, def, buf, sizeof buf, path.c_str());
        return buf;
    }
};

// ---- Keyed reads ---------------------------------------------------------------------------

struct ValueRow {
    const char* line;      // the line in [sec]
    const char* expected;  // the buffer's string
};

TEST_F(ProfileStore, ValuesAreTrimmedAndLoseMatchingQuotesOnly) {
    const ValueRow rows[] = {
        {"key=value", "value"},
        {"key = value ", "value"},
        {"  key=value", "value"},
        {"\tkey\t=\tvalue\t", "value"},
        {"key=a  b\tc", "a  b\tc"},
        {"key=   ", ""},
        {"key=\"quoted\"", "quoted"},
        {"key='x'", "x"},
        {"key=\" sp \"", " sp "},
        {"key=\"unbalanced", "\"unbalanced"},
        {"key=unbalanced\"", "unbalanced\""},
        {"key=\"a\"b\"", "a\"b"},
        {"key=\"\"", ""},
        {"key=\"", "\""},
        {"key='x\"", "'x\""},
        {"key=", ""},
        {"key =", ""},
        {"key", "dflt"},
        {"key=a=b", "a=b"},
        {"key==v", "=v"},
        {"key=a ; comment", "a ; comment"},
        {";key=v", "dflt"},
        {"#key=v", "dflt"},
        {"key=v\x1A", "v"},
        {"key=\xE9\xE0\xFF", "\xE9\xE0\xFF"},
    };
    for (const ValueRow& row : rows) {
        SCOPED_TRACE(row.line);
        put(std::string("[sec]\r\n") + row.line + "\r\n");
        const Result r = get("sec", "key", "dflt", 66);
        EXPECT_EQ(r.bytes, expect(std::string(row.expected) + '\0', 66));
        EXPECT_EQ(r.ret, std::strlen(row.expected));
    }
}

TEST_F(ProfileStore, LineEndsAndHeadersReadAlike) {
    for (const char* file : {"[a]\r\nk=1\r\n", "[a]\nk=1\n", "[a]\rk=1\r", "[a]\n\r\n\rk=1",
                             "  [ a ]  \nk=1", "[\ta\t]\nk=1", "[a]junk\nk=1", "[a] ;c\nk=1",
                             "\xEF[b]\n[a]\n\n\nk=1\n"}) {
        SCOPED_TRACE(file);
        put(file);
        EXPECT_EQ(value("a", "k"), "1");
        EXPECT_EQ(value("A", "K"), "1");
        EXPECT_EQ(value(" a ", "\tk "), "1");
    }
}

TEST_F(ProfileStore, HeaderNameRunsToTheLastBracket) {
    put("[a]b]\nk=1\n");
    EXPECT_EQ(value("a]b", "k"), "1");
    EXPECT_EQ(value("a", "k"), "?");
}

TEST_F(ProfileStore, LineWithoutClosingBracketIsAnEntryOfTheCurrentSection) {
    put("[a]\r\nk=1\r\n[b\r\nk2=2\r\n");
    EXPECT_EQ(value("a", "k2"), "2");
    EXPECT_EQ(value("b", "k2"), "?");
    EXPECT_EQ(value("a", "[b"), "?");  // present without '=': the default
}

TEST_F(ProfileStore, EntriesBeforeTheFirstHeaderBelongToTheNamelessSection) {
    put("k=v\r\n[a]\r\nk=w\r\n[]\r\nz=1\r\n");
    EXPECT_EQ(value("", "k"), "v");
    EXPECT_EQ(value("a", "k"), "w");
    EXPECT_EQ(value("", "z"), "?");  // "[]" cannot be reached
}

TEST_F(ProfileStore, OnlyTheFirstMatchingSectionAndKeyCount) {
    put("[a]\nK=first\nk=second\n[A]\nk2=x\n[a]\nk3=y\n");
    EXPECT_EQ(value("a", "k"), "first");
    EXPECT_EQ(value("a", "k2"), "?");
    EXPECT_EQ(value("a", "k3"), "?");
}

TEST_F(ProfileStore, HighBytesInNamesCompareExactly) {
    put("[S\xE9" "c]\nk\xC9y=1\n");
    EXPECT_EQ(value("S\xE9" "c", "k\xC9y"), "1");
    EXPECT_EQ(value("S\xC9" "C", "k\xC9y"), "?");
    EXPECT_EQ(value("s\xE9" "C", "K\xE9Y"), "?");
    // Code page 932: a trail byte is no letter. 0x83 0x41 (katakana A) and 0x83 0x61 (katakana
    // DI) are two names, for sections and keys, reads and writes.
    qdl::platform::set_code_page_for_tests(932);
    put("[\x83\x61]\n\x83\x61=di\n");
    EXPECT_EQ(value("\x83\x41", "\x83\x61"), "?");
    EXPECT_EQ(value("\x83\x61", "\x83\x41"), "?");
    ASSERT_TRUE(profile_write_string("\x83\x41", "\x83\x41", "a", path.c_str()));
    EXPECT_EQ(text(), "[\x83\x61]\n\x83\x61=di\n[\x83\x41]\n\x83\x41=a\n");
    EXPECT_EQ(value("\x83\x41", "\x83\x41"), "a");
    EXPECT_EQ(value("\x83\x61", "\x83\x61"), "di");
    qdl::platform::set_code_page_for_tests(1252);
}

TEST_F(ProfileStore, InnerSpacesOfNamesMustMatch) {
    put("[s]\nmy key=1\n");
    EXPECT_EQ(value("s", "my  key"), "?");
    EXPECT_EQ(value("s", " my key "), "1");
}

TEST_F(ProfileStore, EmptyKeyReadsTheEmptyNamedEntryOnly) {
    put("[s]\na=1\n");
    EXPECT_EQ(value("s", ""), "?");
    put("[s]\na=1\n=v\n");
    EXPECT_EQ(value("s", ""), "v");
}

TEST_F(ProfileStore, ValuesAreCutToTheBuffer) {
    const std::string v64(64, 'x');
    put("[s]\nk=" + v64 + "\n");
    EXPECT_EQ(get("s", "k", "?", 66).ret, 64u);
    for (std::size_t len : {65u, 66u, 70u}) {
        SCOPED_TRACE(len);
        put("[s]\nk=" + std::string(len, 'y') + "\n");
        const Result r = get("s", "k", "?", 66);
        EXPECT_EQ(r.ret, 65u);
        EXPECT_EQ(r.bytes, expect(std::string(65, 'y') + '\0', 66));
    }
    put("[s]\nk=val1\n");
    EXPECT_EQ(get("s", "k", "?", 4).bytes, expect(std::string("val\0", 4), 4));
    EXPECT_EQ(get("s", "k", "?", 4).ret, 3u);
    EXPECT_EQ(get("s", "k", "?", 5).bytes, expect(std::string("val1\0", 5), 5));
    EXPECT_EQ(get("s", "k", "?", 1).bytes, expect(std::string(1, '\0'), 1));
    EXPECT_EQ(get("s", "k", "?", 1).ret, 0u);
    EXPECT_EQ(get("s", "k", "?", 0).bytes, expect("", 0));
    EXPECT_EQ(get("s", "k", "?", 0).ret, 0u);
}

TEST_F(ProfileStore, QuotedValueIsUnquotedBeforeItIsCut) {
    put("[s]\nk=\"abcdef\"\n");
    EXPECT_EQ(get("s", "k", "?", 7).bytes, expect(std::string("abcdef\0", 7), 7));
    EXPECT_EQ(get("s", "k", "?", 7).ret, 6u);
    EXPECT_EQ(get("s", "k", "?", 6).ret, 5u);
}

TEST_F(ProfileStore, DefaultLosesTrailingSpacesAndQuotes) {
    struct Row {
        const char* def;
        const char* expected;
    } rows[] = {{"dflt  ", "dflt"}, {"one two  ", "one two"}, {"  dflt", "  dflt"},
                {"dflt\t", "dflt\t"}, {"\"d\"", "d"}, {"\"d\"  ", "d"}, {"", ""}};
    put("[s]\nk=1\n");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.def);
        const Result r = get("s", "missing", row.def, 66);
        EXPECT_EQ(r.bytes, expect(std::string(row.expected) + '\0', 66));
        EXPECT_EQ(r.ret, std::strlen(row.expected));
    }
    const Result null_default = get("s", "missing", nullptr, 66);
    EXPECT_EQ(null_default.bytes, expect(std::string(1, '\0'), 66));
    EXPECT_EQ(null_default.ret, 0u);
    EXPECT_EQ(get("s", "missing", "0123456789", 6).bytes, expect(std::string("01234\0", 6), 6));
}

TEST_F(ProfileStore, MissingOrEmptyFileOrNoNameGivesTheDefault) {
    EXPECT_EQ(value("s", "k", "dflt"), "dflt");  // no file yet
    put("");
    EXPECT_EQ(value("s", "k", "dflt"), "dflt");
    char buf[8];
    EXPECT_EQ(profile_get_string("s", "k", "d", buf, sizeof buf, nullptr), 1u);
    EXPECT_STREQ(buf, "d");
    EXPECT_EQ(profile_get_string("s", "k", "dd", buf, sizeof buf, ""), 2u);
    EXPECT_STREQ(buf, "dd");
}

TEST_F(ProfileStore, DirectoryOrUnreadablePathReadsAsMissing) {
    const std::string dir = machine.scratch_dir() + "/adir";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    char buf[8];
    EXPECT_EQ(profile_get_string("s", "k", "d", buf, sizeof buf, dir.c_str()), 1u);
    EXPECT_STREQ(buf, "d");
}

TEST_F(ProfileStore, BareNameLivesInTheWindowsDirectory) {
    qdltest::write_file(machine.windows_dir() + "/bare.ini", "[s]\nk=win\n");
    char buf[8];
    profile_get_string("s", "k", "?", buf, sizeof buf, "bare.ini");
    EXPECT_STREQ(buf, "win");
    ASSERT_TRUE(profile_write_string("s", "k2", "2", "new.ini"));
    EXPECT_EQ(qdltest::read_file(machine.windows_dir() + "/new.ini"), "[s]\nk2=2\n");
}

TEST_F(ProfileStore, DoubleByteValueIsCutAtACharacterBoundary) {
    qdl::platform::set_code_page_for_tests(932);
    std::string dbcs;
    for (int i = 0; i < 33; ++i) dbcs += "\x82\xA0";  // 33 characters, 66 bytes
    put("[s]\nk=" + dbcs + "\n");
    const Result r = get("s", "k", "?", 66);
    EXPECT_EQ(r.ret, 64u);
    EXPECT_EQ(r.bytes, expect(dbcs.substr(0, 64) + '\0', 66));
    // One single-byte character first: 65 bytes fit exactly.
    put("[s]\nk=a" + dbcs.substr(0, 64) + "\n");
    EXPECT_EQ(get("s", "k", "?", 66).ret, 65u);
    // A lead byte at the very end of a value is a character of its own.
    put("[s]\nk=ab\x82\n");
    EXPECT_EQ(get("s", "k", "?", 66).bytes, expect("ab\x82" + std::string(1, '\0'), 66));
    // The same bytes in code page 1252 are cut anywhere.
    qdl::platform::set_code_page_for_tests(1252);
    put("[s]\nk=" + dbcs + "\n");
    EXPECT_EQ(get("s", "k", "?", 66).ret, 65u);
}

// ---- Key and section lists -----------------------------------------------------------------

TEST_F(ProfileStore, KeyListHoldsEntriesWithEqualsInFileOrder) {
    put("[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n;c=1\r\n#c2=x\r\n"
        "  My Key  = v\r\n[t]\r\nt=1\r\n");
    const Result r = get("s", nullptr, "?", 100);
    const std::string list("name1\0name2\0name4\0#c2\0My Key\0\0", 30);
    EXPECT_EQ(r.bytes, expect(list, 100));
    EXPECT_EQ(r.ret, 29u);
}

TEST_F(ProfileStore, KeyListKeepsDuplicatesAndReadsOnlyTheFirstSection) {
    put("[s]\nk=1\na=1\nk=2\nK=3\n[t]\nx=1\n[S]\nk2=1\n");
    const Result r = get("s", nullptr, "?", 66);
    EXPECT_EQ(r.bytes, expect(std::string("k\0a\0k\0K\0\0", 9), 66));
    EXPECT_EQ(r.ret, 8u);
}

TEST_F(ProfileStore, KeyListIsCutWithTwoNuls) {
    put("[section1]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n");
    struct Row {
        std::uint32_t size;
        std::string bytes;
        std::uint32_t ret;
    } rows[] = {
        {100, std::string("name1\0name2\0name4\0\0", 19), 18},
        {20, std::string("name1\0name2\0name4\0\0", 19), 18},
        {19, std::string("name1\0name2\0name4\0\0", 19), 17},
        {18, std::string("name1\0name2\0name\0\0", 18), 16},
        {16, std::string("name1\0name2\0na\0\0", 16), 14},
        {2, std::string("\0\0", 2), 0},
        {1, std::string("\0", 1), 0},
        {0, std::string(), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        const Result r = get("section1", nullptr, "dflt", row.size);
        EXPECT_EQ(r.bytes, expect(row.bytes, row.size));
        EXPECT_EQ(r.ret, row.ret);
    }
}

TEST_F(ProfileStore, TwentyKeysFillTheValueBufferWithTwoNuls) {
    std::string file = "[s]\n";
    for (int i = 1; i <= 20; ++i) file += "key" + std::string(i < 10 ? "0" : "") +
                                          std::to_string(i) + "=v\n";
    put(file);
    const Result r = get("s", nullptr, "?", 66);
    std::string list;
    for (int i = 1; i <= 10; ++i) list += "key" + std::string(i < 10 ? "0" : "") +
                                          std::to_string(i) + '\0';
    list += std::string("key1\0\0", 6);
    EXPECT_EQ(r.bytes, expect(list, 66));
    EXPECT_EQ(r.ret, 64u);
}

TEST_F(ProfileStore, NothingToListCopiesTheDefaultAsOneString) {
    for (const char* file : {"[t]\nk=1\n", "[s]\n[t]\nk=1\n", "[s]\nname3\n", "[s]\n;c=1\n",
                             "[s]\n=v\n", ""}) {
        SCOPED_TRACE(file);
        put(file);
        EXPECT_EQ(get("s", nullptr, "dflt", 66).bytes, expect(std::string("dflt\0", 5), 66));
        EXPECT_EQ(get("s", nullptr, "dflt  ", 66).ret, 6u);
        EXPECT_EQ(get("s", nullptr, "\"q\"", 66).bytes, expect(std::string("q\0", 2), 66));
        EXPECT_EQ(get("s", nullptr, nullptr, 66).bytes, expect(std::string(1, '\0'), 66));
    }
    qdltest::remove_file(path);
    EXPECT_EQ(get("s", nullptr, "?", 66).bytes, expect(std::string("?\0", 2), 66));
}

TEST_F(ProfileStore, SectionListHoldsTrimmedHeadersInFileOrder) {
    put("k=0\n[a]\n[b]\n[ c ]\n[]\n[A]\n[a]\n[d\n");
    for (const char* key : {static_cast<const char*>(nullptr), "name1"}) {
        const Result r = get(nullptr, key, "dflt", 66);
        EXPECT_EQ(r.bytes, expect(std::string("a\0b\0c\0A\0a\0\0", 11), 66));
        EXPECT_EQ(r.ret, 10u);
    }
    put("[section1]\nk=1\n[section2]\nk=2\n");
    EXPECT_EQ(get(nullptr, nullptr, "?", 16).bytes,
              expect(std::string("section1\0secti\0\0", 16), 16));
    EXPECT_EQ(get(nullptr, nullptr, "?", 16).ret, 14u);
    put("k=1\n");
    EXPECT_EQ(get(nullptr, nullptr, "dflt", 66).bytes, expect(std::string(1, '\0'), 66));
    EXPECT_EQ(get(nullptr, nullptr, "dflt", 66).ret, 0u);
}

TEST_F(ProfileStore, DoubleByteNameInACutListIsNotSplit) {
    qdl::platform::set_code_page_for_tests(932);
    put("[s]\nab=1\n\x82\xA0\x82\xA0=2\n");  // "ab\0" + 4-byte name + "\0" = 8 bytes
    // Size 8 leaves 6 bytes before the two NULs: "ab\0", one whole character and half of the
    // next would fit, so the name is cut after its first character and byte 7 stays unwritten.
    const Result r = get("s", nullptr, "?", 8);
    EXPECT_EQ(r.bytes, expect(std::string("ab\0\x82\xA0\0\0", 7), 8));
    EXPECT_EQ(r.ret, 5u);
    // Size 7: exactly one character fits.
    const Result r7 = get("s", nullptr, "?", 7);
    EXPECT_EQ(r7.bytes, expect(std::string("ab\0\x82\xA0\0\0", 7), 7));
    EXPECT_EQ(r7.ret, 5u);
}

// ---- Integers ------------------------------------------------------------------------------

TEST_F(ProfileStore, IntegersFollowTheConversionRules) {
    struct Row {
        const char* value;
        std::uint32_t expected;
    } rows[] = {
        {"123", 123},           {"+5", 5},
        {"-1", 4294967295u},    {"-5", 4294967291u},
        {"- 5", 0},             {"+-1", 0},
        {"--1", 0},             {"0x10", 16},
        {"0xFFFF", 65535},      {"0x1G", 1},
        {"-0x10", 4294967280u}, {"0b101", 5},
        {"0o17", 15},           {"0x", 0},
        {"0X1f", 0},            {"0B11", 0},
        {"007", 7},             {"4294967296", 0},
        {"4294967297", 1},      {"99999999999", 1215752191u},
        {"12abc", 12},          {"12 34", 12},
        {"1.5", 1},             {"1e3", 1},
        {"abc", 0},             {"x12", 0},
        {"42A94967297", 42},    {"B4294967297", 0},
        {"\"42\"", 42},         {"'42'", 42},
        {"\"-3\"", 4294967293u}, {"65536", 65536},
        {"2147483648", 2147483648u}, {"-2147483649", 2147483647u},
        {"-4294967297", 4294967295u},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        put(std::string("[s]\nk=") + row.value + "\n");
        EXPECT_EQ(profile_get_int("s", "k", 77, path.c_str()), row.expected);
    }
}

TEST_F(ProfileStore, IntegerOfAnEmptyOrMissingValueIsTheDefault) {
    for (const char* line : {"k=", "k=   ", "k=\"\"", "k", "other=1"}) {
        SCOPED_TRACE(line);
        put(std::string("[s]\n") + line + "\n");
        EXPECT_EQ(profile_get_int("s", "k", -7, path.c_str()), 4294967289u);
        EXPECT_EQ(profile_get_int("s", "k", 0xFFFF, path.c_str()), 0xFFFFu);
    }
    qdltest::remove_file(path);
    EXPECT_EQ(profile_get_int("s", "k", 5, path.c_str()), 5u);
}

TEST_F(ProfileStore, IntegerReadsAtMost29Characters) {
    // 33 digits: only the first 29 count, modulo 2^32.
    put("[s]\nk=" + std::string(29, '0') + "1234\n");
    EXPECT_EQ(profile_get_int("s", "k", 9, path.c_str()), 0u);
    put("[s]\nk=" + std::string(28, '0') + "12345\n");
    EXPECT_EQ(profile_get_int("s", "k", 9, path.c_str()), 1u);
}

// ---- Writes: return values -----------------------------------------------------------------

TEST_F(ProfileStore, WriteNeedsASectionAndAFileName) {
    EXPECT_FALSE(profile_write_string(nullptr, "k", "v", path.c_str()));
    EXPECT_FALSE(profile_write_string(nullptr, nullptr, nullptr, path.c_str()));
    EXPECT_FALSE(qdltest::file_exists(path));
    EXPECT_FALSE(profile_write_string("s", "k", "v", ""));
    EXPECT_FALSE(profile_write_string("s", "k", "v", nullptr));
}

TEST_F(ProfileStore, DeletingFromAMissingFileSucceedsAndCreatesNothing) {
    EXPECT_TRUE(profile_write_string("s", "k", nullptr, path.c_str()));
    EXPECT_TRUE(profile_write_string("s", nullptr, nullptr, path.c_str()));
    EXPECT_FALSE(qdltest::file_exists(path));
}

TEST_F(ProfileStore, WriteIntoAMissingDirectoryFails) {
    const std::string missing = machine.scratch_dir() + "/no/such/dir/x.ini";
    EXPECT_FALSE(profile_write_string("s", "k", "v", missing.c_str()));
    EXPECT_TRUE(profile_write_string("s", "k", nullptr, missing.c_str()));
    EXPECT_FALSE(qdltest::file_exists(missing));
}

TEST_F(ProfileStore, BareNameCreatesTheMissingFoldersOfThePrefix) {
    const std::string prefix = machine.scratch_dir() + "/new/deeper";
    setenv("TSKQDL32_PREFIX", prefix.c_str(), 1);
    EXPECT_TRUE(profile_write_string("s", "k", "v", "tsk_cfg.ini"));
    EXPECT_EQ(qdltest::read_file(prefix + "/windows/tsk_cfg.ini"), "[s]\nk=v\n");
}

TEST_F(ProfileStore, WriteToADirectoryFails) {
    const std::string dir = machine.scratch_dir() + "/adir";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    EXPECT_FALSE(profile_write_string("s", "k", "v", dir.c_str()));
}

// ---- Writes: bytes and placement -----------------------------------------------------------

TEST_F(ProfileStore, NewFileIsWrittenWithLfAndNoBlankLines) {
    ASSERT_TRUE(profile_write_string("App1", "key1", "string1", path.c_str()));
    ASSERT_TRUE(profile_write_string("App1", "key2", "string2", path.c_str()));
    ASSERT_TRUE(profile_write_string("App2", "key4", "string4", path.c_str()));
    ASSERT_TRUE(profile_write_string("App1", "key3", "", path.c_str()));
    EXPECT_EQ(text(), "[App1]\nkey1=string1\nkey2=string2\nkey3=\n[App2]\nkey4=string4\n");
}

TEST_F(ProfileStore, CrlfFileStaysCrlf) {
    put("[App1]\r\nkey1=a\r\n");
    ASSERT_TRUE(profile_write_string("App1", "key2", "b", path.c_str()));
    ASSERT_TRUE(profile_write_string("App2", "key3", "c", path.c_str()));
    ASSERT_TRUE(profile_write_string("App1", "key1", "z", path.c_str()));
    EXPECT_EQ(text(), "[App1]\r\nkey1=z\r\nkey2=b\r\n[App2]\r\nkey3=c\r\n");
}

TEST_F(ProfileStore, HandWrittenContentIsKeptByteForByte) {
    const std::string before =
        "; top comment\r\n\r\n[s1]\r\na = 1\r\n; comment in s1\r\n\r\n[s2]\r\n  b=2  \r\n"
        "garbage line\r\n#hash line\r\n\r\n=a\r\n=b\r\n[]\r\n\x01\x02 odd\r\n";
    put(before);
    ASSERT_TRUE(profile_write_string("s1", "c", "3", path.c_str()));
    EXPECT_EQ(text(),
              "; top comment\r\n\r\n[s1]\r\na = 1\r\n; comment in s1\r\nc=3\r\n\r\n[s2]\r\n"
              "  b=2  \r\ngarbage line\r\n#hash line\r\n\r\n=a\r\n=b\r\n[]\r\n\x01\x02 odd\r\n");
    ASSERT_TRUE(profile_write_string("s2", "b", "22", path.c_str()));
    EXPECT_NE(text().find("\r\n  b=22\r\ngarbage line"), std::string::npos);
    ASSERT_TRUE(profile_write_string("s1", "a", "9", path.c_str()));
    EXPECT_NE(text().find("[s1]\r\na = 9\r\n"), std::string::npos);
}

TEST_F(ProfileStore, UpdateReplacesOnlyTheValue) {
    put("[s]\n  Key =\told value  \nk2=\"q\"\nk3\n");
    ASSERT_TRUE(profile_write_string("s", "key", "new", path.c_str()));
    ASSERT_TRUE(profile_write_string("s", "k2", "x", path.c_str()));
    ASSERT_TRUE(profile_write_string("s", "k3", "y", path.c_str()));
    EXPECT_EQ(text(), "[s]\n  Key =\tnew\nk2=x\nk3=y\n");
}

TEST_F(ProfileStore, NewKeyGoesAfterTheLastNonBlankLineOfItsSection) {
    put("[s1]\na = 1\n; comment in s1\nodd line\n\n\n[s2]\nb=2\n");
    ASSERT_TRUE(profile_write_string("s1", "c", "3", path.c_str()));
    EXPECT_EQ(text(), "[s1]\na = 1\n; comment in s1\nodd line\nc=3\n\n\n[s2]\nb=2\n");
}

TEST_F(ProfileStore, EmptySectionGetsItsFirstKeyRightAfterTheHeader) {
    put("[s]\r\n[t]\r\nx=1\r\n");
    ASSERT_TRUE(profile_write_string("s", "k", "v", path.c_str()));
    EXPECT_EQ(text(), "[s]\r\nk=v\r\n[t]\r\nx=1\r\n");
}

TEST_F(ProfileStore, NewSectionIsAppendedAfterALineBreak) {
    put("[s1]\r\na=1");
    ASSERT_TRUE(profile_write_string("s2", "b", "2", path.c_str()));
    EXPECT_EQ(text(), "[s1]\r\na=1\r\n[s2]\r\nb=2\r\n");
    put("[s1]\na=1");
    ASSERT_TRUE(profile_write_string("s1", "b", "2", path.c_str()));
    EXPECT_EQ(text(), "[s1]\na=1\nb=2\n");
}

TEST_F(ProfileStore, CaseVariantsUpdateTheExistingSpelling) {
    put("[MySec]\r\nKey=1\r\n");
    ASSERT_TRUE(profile_write_string("MYSEC", "k2", "2", path.c_str()));
    ASSERT_TRUE(profile_write_string("mysec", "KEY", "3", path.c_str()));
    EXPECT_EQ(text(), "[MySec]\r\nKey=3\r\nk2=2\r\n");
}

TEST_F(ProfileStore, DuplicatesUpdateTheFirstOnly) {
    put("[a]\nk=1\nk=2\n[a]\nk2=2\n");
    ASSERT_TRUE(profile_write_string("a", "k", "9", path.c_str()));
    ASSERT_TRUE(profile_write_string("a", "k2", "22", path.c_str()));
    EXPECT_EQ(text(), "[a]\nk=9\nk=2\nk2=22\n[a]\nk2=2\n");
    EXPECT_EQ(value("a", "k2"), "22");
}

TEST_F(ProfileStore, HeaderWithoutBracketIsNotASectionForWrites) {
    put("[a]\nk=1\n[s\n");
    ASSERT_TRUE(profile_write_string("s", "k", "v", path.c_str()));
    EXPECT_EQ(text(), "[a]\nk=1\n[s\n[s]\nk=v\n");
}

TEST_F(ProfileStore, NamesAreTrimmedAndValuesLoseLeadingWhiteSpace) {
    ASSERT_TRUE(profile_write_string(" sp ", " k ", "  v  ", path.c_str()));
    EXPECT_EQ(text(), "[sp]\nk=v  \n");
    EXPECT_EQ(value("sp", "k"), "v");
    // Writing the same again changes nothing.
    ASSERT_TRUE(profile_write_string("sp", "k", "v  ", path.c_str()));
    EXPECT_EQ(text(), "[sp]\nk=v  \n");
}

TEST_F(ProfileStore, ValuesAreWrittenRaw) {
    ASSERT_TRUE(profile_write_string("s", "quoted", "\"x\"", path.c_str()));
    ASSERT_TRUE(profile_write_string("s", "semi", "a=b;c", path.c_str()));
    ASSERT_TRUE(profile_write_string("s", "high", "\xE9\xFF", path.c_str()));
    ASSERT_TRUE(profile_write_string("s", "long", std::string(300, 'L').c_str(), path.c_str()));
    EXPECT_EQ(value("s", "quoted"), "x");
    EXPECT_EQ(value("s", "semi"), "a=b;c");
    EXPECT_EQ(value("s", "high"), "\xE9\xFF");
    EXPECT_NE(text().find("long=" + std::string(300, 'L') + "\n"), std::string::npos);
}

TEST_F(ProfileStore, LineBreakInAValueStartsNewLines) {
    ASSERT_TRUE(profile_write_string("s", "nl", "a\r\nb=c", path.c_str()));
    EXPECT_EQ(text(), "[s]\nnl=a\r\nb=c\n");
    EXPECT_EQ(value("s", "nl"), "a");
    EXPECT_EQ(value("s", "b"), "c");
    // A header inside a value makes a real section.
    ASSERT_TRUE(profile_write_string("s", "x", "1\n[t]\ny=2", path.c_str()));
    EXPECT_EQ(value("t", "y"), "2");
    ASSERT_TRUE(profile_write_string("t", "z", "3", path.c_str()));
    ASSERT_TRUE(profile_write_string("s", "w", "4", path.c_str()));
    EXPECT_EQ(text(), "[s]\nnl=a\r\nb=c\nx=1\nw=4\n[t]\ny=2\nz=3\n");
}

TEST_F(ProfileStore, SectionNamedEmptyIsTheNamelessPart) {
    put("top=1\n\n[a]\nk=1\n");
    ASSERT_TRUE(profile_write_string("", "top2", "2", path.c_str()));
    EXPECT_EQ(text(), "top=1\ntop2=2\n\n[a]\nk=1\n");
    put("[a]\nk=1\n");
    ASSERT_TRUE(profile_write_string("", "top", "1", path.c_str()));
    EXPECT_EQ(text(), "top=1\n[a]\nk=1\n");
    EXPECT_EQ(value("", "top"), "1");
}

// ---- Deletes -------------------------------------------------------------------------------

TEST_F(ProfileStore, DeletingAKeyRemovesItsLine) {
    put("[App1]\r\nk = 2\r\nkeep=1\r\n[App3]\r\nkey5=string5\r\n");
    ASSERT_TRUE(profile_write_string("app1", "K", nullptr, path.c_str()));
    ASSERT_TRUE(profile_write_string("App3", "key5", nullptr, path.c_str()));
    EXPECT_EQ(text(), "[App1]\r\nkeep=1\r\n[App3]\r\n");
    ASSERT_TRUE(profile_write_string("App1", "absent", nullptr, path.c_str()));
    ASSERT_TRUE(profile_write_string("Absent", "keep", nullptr, path.c_str()));
    EXPECT_EQ(text(), "[App1]\r\nkeep=1\r\n[App3]\r\n");
}

TEST_F(ProfileStore, DeletingTheLastLineWithoutBreakKeepsTheRest) {
    put("[s]\na=1\nb=2");
    ASSERT_TRUE(profile_write_string("s", "b", nullptr, path.c_str()));
    EXPECT_EQ(text(), "[s]\na=1\n");
}

TEST_F(ProfileStore, DeletingASectionRemovesEverythingUpToTheNextHeader) {
    put("top\n[App1]\nkey1=string1\n; c\n\nodd\n[App2]\nkey4=string4\n");
    ASSERT_TRUE(profile_write_string("app1", nullptr, "ignored", path.c_str()));
    EXPECT_EQ(text(), "top\n[App2]\nkey4=string4\n");
    EXPECT_EQ(value("App1", "key1"), "?");
    ASSERT_TRUE(profile_write_string("App2", nullptr, nullptr, path.c_str()));
    EXPECT_EQ(text(), "top\n");
    ASSERT_TRUE(profile_write_string("App2", nullptr, nullptr, path.c_str()));
}

TEST_F(ProfileStore, EachSectionDeleteRemovesTheFirstDuplicateOnly) {
    put("[a]\nk=1\n[b]\nx=1\n[A]\nk=2\n");
    ASSERT_TRUE(profile_write_string(" a ", nullptr, nullptr, path.c_str()));
    EXPECT_EQ(text(), "[b]\nx=1\n[A]\nk=2\n");
    EXPECT_EQ(value("a", "k"), "2");
    ASSERT_TRUE(profile_write_string("a", "k3", "3", path.c_str()));
    EXPECT_EQ(text(), "[b]\nx=1\n[A]\nk=2\nk3=3\n");
    ASSERT_TRUE(profile_write_string("a", nullptr, nullptr, path.c_str()));
    EXPECT_EQ(text(), "[b]\nx=1\n");
    ASSERT_TRUE(profile_write_string("a", "k", "new", path.c_str()));
    EXPECT_EQ(text(), "[b]\nx=1\n[a]\nk=new\n");
}

TEST_F(ProfileStore, KeyDeleteLooksInTheFirstSectionOnly) {
    put("[a]\nk1=1\n[a]\nk2=2\n");
    ASSERT_TRUE(profile_write_string("a", "k2", nullptr, path.c_str()));
    EXPECT_EQ(text(), "[a]\nk1=1\n[a]\nk2=2\n");
}

TEST_F(ProfileStore, WrittenValuesReadBackWhateverTheFile) {
    // Round trip over awkward starting files: a write is read back, others are unchanged.
    for (const char* file : {"", "\n\n", "k=0", "[s]", "[s]\r\n", "[S]\rk=1\r", "[t]\n[s]\n",
                             "[s\n", "[]\nk=1\n", "\x1A", "=v\n[s]\n=w\n"}) {
        SCOPED_TRACE(file);
        put(file);
        ASSERT_TRUE(profile_write_string("s", "k", "v1", path.c_str()));
        ASSERT_TRUE(profile_write_string("s", "k2", "v2", path.c_str()));
        ASSERT_TRUE(profile_write_string("n", "k", "v3", path.c_str()));
        EXPECT_EQ(value("s", "k"), "v1");
        EXPECT_EQ(value("s", "k2"), "v2");
        EXPECT_EQ(value("n", "k"), "v3");
        ASSERT_TRUE(profile_write_string("s", "k", nullptr, path.c_str()));
        EXPECT_EQ(value("s", "k"), "?");
        EXPECT_EQ(value("s", "k2"), "v2");
        ASSERT_TRUE(profile_write_string("s", nullptr, nullptr, path.c_str()));
        EXPECT_EQ(value("s", "k2"), "?");
        EXPECT_EQ(value("n", "k"), "v3");
    }
}

// A write that runs out of memory at any one of its allocations leaves the file as it was, no
// trace in the cached copy and no lock held: the next write writes its own change only.
TEST_F(ProfileStore, WriteOutOfMemoryLeavesNoTrace) {
    qdl::platform::set_lock_wait_limit_for_tests(std::chrono::milliseconds(200));
    const std::string start = "[s]\nk=1\n";
    long n = 1;
    for (;; ++n) {
        put(start);
        const timespec old[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);  // a copy read now is trusted
        ASSERT_EQ(value("s", "k"), "1");
        bool threw = false;
        t_fail_allocation = n;
        try {
            profile_write_string("s", "new", "v", path.c_str());
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        t_fail_allocation = 0;
        if (!threw) break;  // every allocation of the write has failed once
        ASSERT_EQ(text(), start) << "allocation " << n;
        ASSERT_TRUE(profile_write_string("s", "z", "9", path.c_str())) << "allocation " << n;
        ASSERT_EQ(text(), "[s]\nk=1\nz=9\n") << "allocation " << n;
    }
    EXPECT_GT(n, 5);  // the write allocates: the loop above has failed some of them
}

// The cached copy after edits, each applied to its section alone, must be what reading its text
// afresh gives: same sections, same entries at the same offsets, also for sections whose lines
// are first read after the edits. Seeded random files and writes, line breaks and brackets in
// names and values included.
TEST(IniEdits, EditedDocumentReadsAsItsTextReadAfresh) {
    namespace ini = qdl::platform::ini;
    const char* lines[] = {"[s]", "[S ]", " [t] ", "k=1", " K = v ", "x", "[b", "=", "",
                           ";c", "a]b", "k2=\"q\""};
    const char* breaks[] = {"\n", "\r\n", "\r"};
    const char* sections[] = {"s", "T", "u", ""};
    const char* keys[] = {"k", "K ", "x", "new", "[b", "k2"};
    const char* values[] = {"1", "v v", "", " lead", "a\nb", "[h]", "x]", "=", "c\r", nullptr};
    std::mt19937 rng(20240611u);
    const auto pick = [&](const auto& table) {
        return table[std::uniform_int_distribution<std::size_t>(0, std::size(table) - 1)(rng)];
    };
    const auto view = [](const ini::Document& doc) {
        std::string out;
        for (std::uint32_t s = 0; s < doc.sections.size(); ++s) {
            if (doc.sections[s].dead) continue;
            const ini::Block b = ini::block(doc, s);
            out.append("{").append(b.name).append(b.has_header ? "|h|" : "|").append(b.text);
            out.append("|");
            for (const ini::Line& l : b.entries) {
                out += std::to_string(l.begin) + "," + std::to_string(l.end) + "," +
                       std::to_string(l.equals) + ";";
            }
            out += "}";
        }
        for (const char* name : {"s", "t", "u", "b"}) {
            const auto b = ini::find_section(doc, name);
            out.append(name).append("=").append(b ? b->text : "-").append(";");
        }
        return out;
    };
    for (int file = 0; file < 400; ++file) {
        std::string text;
        for (int n = std::uniform_int_distribution<int>(0, 6)(rng); n > 0; --n) {
            text += std::string(pick(lines)) + pick(breaks);
        }
        if (rng() % 4 == 0 && !text.empty()) text.pop_back();  // no final line break
        ini::Document doc = ini::parse(text);
        // The same writes to a copy that nothing else reads: its sections are first read after
        // all the edits elsewhere, from the text as loaded.
        ini::Document untouched = ini::parse(text);
        for (int w = 0; w < 8; ++w) {
            const char* key = rng() % 8 == 0 ? nullptr : pick(keys);
            const ini::Write write{pick(sections), key, pick(values)};
            ini::apply(doc, ini::plan(doc, write));
            ini::apply(untouched, ini::plan(untouched, write));
            const std::string written = ini::serialise(doc);
            ASSERT_EQ(view(doc), view(ini::parse(written))) << "file " << file << ": " << written;
        }
        ASSERT_EQ(view(untouched), view(doc)) << "file " << file;
    }
}

}  // namespace
