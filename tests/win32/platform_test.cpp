// platform_test.cpp - the Windows platform layer (src/platform/win32) on the real functions:
// the registry read and its NUL rule, the Windows directory and where a bare name lies, the
// lead-byte test, values cut on whole characters, and the call guard.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "frame/frame.h"
#include "platform/platform.h"
#include "support/test_env.h"
#include "testing/hooks.h"

namespace pf = qdl::platform;

namespace {

constexpr char kKey[] = "SOFTWARE\\Brenvik\\Fieldloom\\Configuration";
constexpr char kValue[] = "kbRTTskCfgIni";

// Stores the path value with any type and any bytes, as another program might.
void store_raw(DWORD type, const void* bytes, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, kValue, 0, type, static_cast<const BYTE*>(bytes), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// registry_query into `size` bytes of a larger buffer whose other bytes must stay 0x5A.
struct Query {
    bool ok = false;
    std::string text;
    bool outside_untouched = true;
};

Query query(std::size_t size) {
    std::vector<char> buffer(size + 16, 0x5A);
    Query q;
    q.ok = pf::registry_query(kKey, kValue, buffer.data(), size) == pf::RegistryRead::Read;
    if (q.ok) q.text = buffer.data();
    for (std::size_t i = size; i < buffer.size(); ++i) {
        q.outside_untouched = q.outside_untouched && buffer[i] == 0x5A;
    }
    return q;
}

class CodePage {
public:
    explicit CodePage(unsigned cp) { pf::set_code_page_for_tests(cp); }
    ~CodePage() { pf::set_code_page_for_tests(0); }
};

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

const std::string kHiragana = "\x82\xA0";  // one double-byte character of code page 932

}  // namespace

TEST(Registry, StringValueIsReadWhenItFitsWithItsNul) {
    qdltest::Machine m;
    EXPECT_FALSE(query(260).ok);  // no value
    m.set_registry_path("C:\\cfg\\a.ini");  // 12 bytes and the NUL
    Query q = query(260);
    EXPECT_TRUE(q.ok);
    EXPECT_EQ(q.text, "C:\\cfg\\a.ini");
    EXPECT_TRUE(query(13).ok);
    q = query(12);
    EXPECT_FALSE(q.ok);
    EXPECT_TRUE(q.outside_untouched);
}

TEST(Registry, MissingKeyIsNotAValue) {
    qdltest::Machine m;
    char buffer[16] = "untouched";
    EXPECT_EQ(pf::registry_query("SOFTWARE\\Brenvik\\No Such Key", kValue, buffer, sizeof buffer),
              pf::RegistryRead::Missing);
}

TEST(Registry, BytesWithoutNulAreTerminatedInsideTheBufferOrRefused) {
    qdltest::Machine m;
    store_raw(REG_BINARY, "abcd", 4);
    Query q = query(5);
    EXPECT_TRUE(q.ok);
    EXPECT_EQ(q.text, "abcd");
    EXPECT_TRUE(q.outside_untouched);
    // Four bytes that fill a buffer of four leave no room for the NUL: not a path.
    q = query(4);
    EXPECT_FALSE(q.ok);
    EXPECT_TRUE(q.outside_untouched);

    const DWORD number = 0x00636261;  // "abc" and a zero byte
    store_raw(REG_DWORD, &number, sizeof number);
    q = query(4);
    EXPECT_TRUE(q.ok);
    EXPECT_EQ(q.text, "abc");
}

TEST(Registry, ValueOfNoBytesReadsAsEmptyAndTheDefaultNameIsUsed) {
    qdltest::Machine m;
    store_raw(REG_SZ, "", 0);
    Query q = query(260);
    EXPECT_TRUE(q.ok);
    EXPECT_EQ(q.text, "");
    char path[qdl::kPathSize];
    std::memset(path, 0x5A, sizeof path);
    qdl::resolve_config_path(path, sizeof path);
    EXPECT_STREQ(path, "tsk_cfg.ini");
}

TEST(WindowsDirectory, IsTheSystemsWithoutTrailingSeparatorAndHoldsBareNames) {
    char expected[MAX_PATH];
    const UINT n = GetWindowsDirectoryA(expected, MAX_PATH);
    ASSERT_GT(n, 0u);
    const std::string dir = pf::windows_directory();
    EXPECT_EQ(dir, std::string(expected, n));
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '\\');

    EXPECT_EQ(pf::locate_file("tsk_cfg.ini"), dir + "\\tsk_cfg.ini");
    EXPECT_EQ(pf::locate_file("sub\\x.ini"), "sub\\x.ini");
    EXPECT_EQ(pf::locate_file("sub/x.ini"), "sub/x.ini");
    EXPECT_EQ(pf::locate_file("C:\\a\\b.ini"), "C:\\a\\b.ini");
    EXPECT_EQ(pf::locate_file(""), "");
}

TEST(WindowsDirectory, BareNameWrittenByTheProfileFunctionsIsTheLocatedFile) {
    qdltest::Machine m;
    const std::string name = "qdl_platform_test.ini";
    ASSERT_TRUE(pf::profile_write_string("S", "k", "v", name.c_str()));
    const std::string located = pf::locate_file(name.c_str());
    EXPECT_NE(qdltest::read_file(located).find("k=v"), std::string::npos);
    qdltest::remove_file(located);
}

TEST(CodePage, LeadBytesFollowTheCodePageSetForTests) {
    {
        CodePage cp(932);
        EXPECT_TRUE(pf::is_lead_byte(0x82));
        EXPECT_TRUE(pf::is_lead_byte(0xE0));
        EXPECT_FALSE(pf::is_lead_byte(0xA0));
        EXPECT_FALSE(pf::is_lead_byte('A'));
        EXPECT_EQ(qdl::char_length(kHiragana.c_str()), 2u);
    }
    CodePage cp(1252);
    EXPECT_FALSE(pf::is_lead_byte(0x82));
    EXPECT_FALSE(pf::is_lead_byte(0xE0));
}

TEST(ProfileRead, ValueCutToTheBufferEndsOnAWholeCharacter) {
    qdltest::Machine m;
    CodePage cp(932);
    const std::string file = m.scratch_dir() + "\\cut.ini";
    qdltest::write_file(file, "[s]\r\nwhole=" + repeat(kHiragana, 33) + "\r\nodd=x" +
                                  repeat(kHiragana, 32) + "x\r\nshort=" + kHiragana + "\r\n");
    char buffer[66];

    // 66 bytes: the 33rd character does not fit, and no half of it is left.
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(pf::profile_get_string("s", "whole", "?", buffer, 66, file.c_str()), 64u);
    EXPECT_EQ(std::string(buffer), repeat(kHiragana, 32));

    // "x" and 32 characters are 65 bytes: all of them fit.
    EXPECT_EQ(pf::profile_get_string("s", "odd", "?", buffer, 66, file.c_str()), 65u);
    EXPECT_EQ(std::string(buffer), "x" + repeat(kHiragana, 32));

    // A buffer of 2 has room for one byte: not for the character.
    EXPECT_EQ(pf::profile_get_string("s", "short", "?", buffer, 2, file.c_str()), 0u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(pf::profile_get_string("s", "short", "?", buffer, 3, file.c_str()), 2u);
    EXPECT_EQ(std::string(buffer), kHiragana);
}

TEST(ProfileRead, SingleByteCodePageCutsByBytes) {
    qdltest::Machine m;
    CodePage cp(1252);
    const std::string file = m.scratch_dir() + "\\bytes.ini";
    qdltest::write_file(file, "[s]\r\nk=" + repeat(kHiragana, 33) + "\r\n");
    char buffer[66];
    EXPECT_EQ(pf::profile_get_string("s", "k", "?", buffer, 66, file.c_str()), 65u);
    EXPECT_EQ(std::string(buffer), repeat(kHiragana, 32) + "\x82");
}

TEST(ProfileRead, AbsentKeyGivesTheDefaultAndKeyListsAreWhole) {
    qdltest::Machine m;
    const std::string file = m.scratch_dir() + "\\list.ini";
    qdltest::write_file(file, "[s]\r\na=1\r\nb=\r\nc\r\n");
    char buffer[66];
    EXPECT_EQ(pf::profile_get_string("s", "zz", "?", buffer, 66, file.c_str()), 1u);
    EXPECT_STREQ(buffer, "?");
    EXPECT_EQ(pf::profile_get_string("s", nullptr, "?", buffer, 66, file.c_str()), 4u);
    EXPECT_EQ(std::string(buffer, 5), std::string("a\0b\0\0", 5));
    EXPECT_EQ(pf::profile_get_int("s", "a", 0xFFFF, file.c_str()), 1u);
    EXPECT_EQ(pf::profile_get_int("s", "zz", 0xFFFF, file.c_str()), 0xFFFFu);
}

TEST(ProfileWrite, FailureIsReportedAsFalse) {
    qdltest::Machine m;
    const std::string missing_dir = m.scratch_dir() + "\\no-such-dir\\x.ini";
    EXPECT_FALSE(pf::profile_write_string("s", "k", "v", missing_dir.c_str()));
    EXPECT_FALSE(pf::profile_write_string("s", "k", "v", ""));
    const std::string file = m.scratch_dir() + "\\w.ini";
    EXPECT_TRUE(pf::profile_write_string("s", "k", "v", file.c_str()));
    EXPECT_TRUE(pf::profile_write_string("s", "k", nullptr, file.c_str()));
    EXPECT_TRUE(pf::profile_write_string("s", nullptr, nullptr, file.c_str()));
}

TEST(CallGuard, OneScopeAtATimeAcrossThreads) {
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                pf::CallScope scope(i % 2 ? pf::Access::Write : pf::Access::Read);
                if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                std::this_thread::yield();
                inside.fetch_sub(1);
                if (!scope.finish()) overlaps.fetch_add(1000);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(overlaps.load(), 0);
}
