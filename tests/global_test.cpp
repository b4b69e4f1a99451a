// global_test.cpp - the global parameters (kind 3): time-out limits, the scrambled password and
// its way through the file, the older "VTQ_Timeout" section, and delete.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "support/config_file.h"
#include "support/ini_text.h"
#include "testing/hooks.h"
#include "tskqdl32.h"

using qdltest::Entries;

namespace {

constexpr char kKey[] = "pbzrkdnTpbzrkdnT";

GlobalParameters params(std::int32_t connect, std::int32_t request, const char* password) {
    GlobalParameters g;
    std::memset(&g, 0xCC, sizeof g);
    g.connect_timeout = connect;
    g.request_timeout = request;
    std::memcpy(g.password, password, std::strlen(password) + 1);
    return g;
}

std::string scrambled(const std::string& clear) {
    std::string out = clear;
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) +
                                   static_cast<unsigned char>(kKey[i % 16]));
    }
    return out;
}

class Global : public qdltest::ConfigTest {
protected:
    static GlobalParameters get(int expected_status = QDL_OK) {
        GlobalParameters g;
        std::memset(&g, 0xCC, sizeof g);
        EXPECT_EQ(QDL_Get_Record(RECORD_GLOBAL, "ignored", &g), expected_status);
        return g;
    }
};

// ---- Time-outs ----------------------------------------------------------------------------

TEST_F(Global, TimeoutsAreLimitedEachOnItsOwnValueAndStoredBack) {
    struct Case {
        std::int32_t given, stored;
    };
    const Case cases[] = {{10, 50},        {1, 50},         {49, 50},        {0, 0},
                          {50, 50},        {63000, 63000},  {63001, 63000},  {70000, 63000},
                          {-5, 63000},     {-2, 63000}};
    for (const Case& c : cases) {
        GlobalParameters connect_only = params(c.given, -1, "");
        ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &connect_only), QDL_OK);
        EXPECT_EQ(connect_only.connect_timeout, c.stored) << c.given;
        EXPECT_EQ(connect_only.request_timeout, -1);
        EXPECT_EQ(entries("Global_Parameters"),
                  (Entries{{"CONNECT_TIMEOUT", std::to_string(c.stored)}}));

        GlobalParameters request_only = params(2000, c.given, "secret");
        ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &request_only), QDL_OK);
        EXPECT_EQ(request_only.connect_timeout, 2000);
        EXPECT_EQ(request_only.request_timeout, c.stored) << c.given;
        const GlobalParameters back = get();
        EXPECT_EQ(back.connect_timeout, 2000);
        EXPECT_EQ(back.request_timeout, c.stored) << c.given;
    }
}

TEST_F(Global, UnsetTimeoutsAndNoPasswordWriteNothingAndRemoveBothSections) {
    write_config("[Global_Parameters]\nCONNECT_TIMEOUT=5\nPASSWORD=x\n"
                 "[VTQ_Timeout]\nCONNECT_TIMEOUT=7\n[Port]\nTYPE=VME_PORT\n");
    GlobalParameters g = params(-1, -1, "");
    ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_OK);
    EXPECT_FALSE(qdltest::has_section(file(), "Global_Parameters"));
    EXPECT_FALSE(qdltest::has_section(file(), "VTQ_Timeout"));
    EXPECT_EQ(entries("Port"), (Entries{{"TYPE", "VME_PORT"}}));
    const GlobalParameters out = get(QDL_ERR_NOT_FOUND);
    EXPECT_EQ(out.connect_timeout, static_cast<std::int32_t>(0xCCCCCCCC)) << "untouched";
}

// ---- Password -----------------------------------------------------------------------------

TEST_F(Global, PasswordIsStoredScrambledAndReadBackInClear) {
    std::string controls;  // every byte below the space, at every key position
    for (char c = 1; c < ' '; ++c) controls += c;
    for (const std::string& clear :
         {std::string("a"), std::string("Secret12"), std::string("0123456789abcdef"),
          std::string("seventeen-bytes!!"), std::string(65, '~'), std::string(" ? \"'= "),
          controls, controls.substr(1) + "\x7F"}) {
        GlobalParameters g = params(-1, -1, clear.c_str());
        ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_OK) << clear;
        EXPECT_EQ(std::string(g.password), clear) << "the caller keeps its clear password";
        const Entries stored = entries("Global_Parameters");
        ASSERT_EQ(stored.size(), 1u);
        EXPECT_EQ(stored[0].first, "PASSWORD");
        EXPECT_EQ(stored[0].second, scrambled(clear)) << "key byte i % 16 for byte i";
        EXPECT_NE(stored[0].second, clear);
        EXPECT_EQ(std::string(get().password), clear);
    }
}

TEST_F(Global, EmptyAndReservedPasswordsAreNotStored) {
    for (const char* password : {"", "vantrel"}) {
        GlobalParameters g = params(100, -1, password);
        ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_OK);
        EXPECT_STREQ(g.password, password);
        EXPECT_EQ(entries("Global_Parameters"), (Entries{{"CONNECT_TIMEOUT", "100"}}));
        EXPECT_STREQ(get().password, "");
    }
    // Only the exact text is reserved.
    GlobalParameters near = params(-1, -1, "Vantrel");
    ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &near), QDL_OK);
    EXPECT_STREQ(get().password, "Vantrel");
}

TEST_F(Global, PasswordThatWouldScrambleToAZeroByteIsRefusedBeforeAnythingChanges) {
    write_config("[Global_Parameters]\nCONNECT_TIMEOUT=77\n");
    const std::string before = file();
    GlobalParameters g = params(10, 70000, "abX");
    g.password[2] = static_cast<char>(0x100 - 'z');  // plus key byte 2 ('z') is 0x100
    const GlobalParameters given = g;
    EXPECT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_ERR_BAD_VALUE);
    EXPECT_EQ(file(), before);
    EXPECT_EQ(std::memcmp(&g, &given, sizeof g), 0);
}

// Every password either reads back exactly as it was given, or is refused and changes nothing:
// a scrambled byte that the file cannot hold as it is (NUL, CR, LF, white space at either end,
// a leading '?', a pair of quotes) must never be stored cut or changed.
TEST_F(Global, EveryPasswordByteEitherRoundTripsOrIsRefused) {
    int refused = 0;
    for (int b = 0x80; b < 256; ++b) {  // an ASCII byte plus an ASCII letter stays below 0x100
        const char c = static_cast<char>(b);
        for (const std::string& clear :
             {std::string(1, c), std::string("A") + c, std::string(1, c) + "A"}) {
            GlobalParameters g = params(-1, -1, clear.c_str());
            const int status = QDL_Add_Record(RECORD_GLOBAL, &g);
            EXPECT_EQ(std::string(g.password), clear);
            if (status == QDL_ERR_BAD_VALUE) {
                ++refused;
                continue;
            }
            ASSERT_EQ(status, QDL_OK) << b;
            EXPECT_EQ(std::string(get().password), clear) << "byte " << b;
        }
    }
    EXPECT_GT(refused, 0);
    // 0xB2 and 0xC0 scramble to a pair of double quotes, which a read would strip.
    GlobalParameters quoted = params(-1, -1, "\xB2\xC0");
    EXPECT_EQ(QDL_Add_Record(RECORD_GLOBAL, &quoted), QDL_ERR_BAD_VALUE);
}

TEST_F(Global, UnterminatedPasswordUsesItsFirstSixtyFiveBytes) {
    struct {
        GlobalParameters record;
        char after[8];
    } buffer;
    buffer.record = params(-1, -1, "");
    std::memset(buffer.record.password, 'q', sizeof buffer.record.password);
    std::memset(buffer.after, 'Z', sizeof buffer.after);
    ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &buffer.record), QDL_OK);
    EXPECT_EQ(std::string(get().password), std::string(65, 'q'));
    EXPECT_EQ(buffer.record.password[65], 'q');
}

TEST_F(Global, FailedPasswordWriteReportsFileErrorAndLeavesTheClearPassword) {
    // A directory that cannot exist: its parent is a plain file.
    qdltest::write_file(machine.scratch_dir() + "/plain", "x");
    machine.set_registry_path(machine.scratch_dir() + "/plain/cfg.ini");
    GlobalParameters g = params(-1, -1, "Secret");
    EXPECT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_ERR_FILE);
    EXPECT_STREQ(g.password, "Secret");

    GlobalParameters t = params(10, 20, "Secret");
    EXPECT_EQ(QDL_Add_Record(RECORD_GLOBAL, &t), QDL_ERR_FILE);
    EXPECT_EQ(t.connect_timeout, 50) << "a limited value stays limited after a failure";
    EXPECT_STREQ(t.password, "Secret");
}

// ---- Reading ------------------------------------------------------------------------------

TEST_F(Global, OlderSectionIsReadWhenTheCurrentOneHasNoKey) {
    write_config("[Global_Parameters]\n[VTQ_Timeout]\nCONNECT_TIMEOUT=1234\nREQUEST_TIMEOUT=99\n"
                 "PASSWORD=ignored\n");
    const GlobalParameters g = get();
    EXPECT_EQ(g.connect_timeout, 1234);
    EXPECT_EQ(g.request_timeout, 99);
    EXPECT_STREQ(g.password, "");

    GlobalParameters add = params(300, -1, "");
    ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &add), QDL_OK);
    EXPECT_FALSE(qdltest::has_section(file(), "VTQ_Timeout"));
    EXPECT_EQ(get().request_timeout, -1);
}

TEST_F(Global, CurrentSectionAloneIsReadWhenItHasAnyKey) {
    write_config("[VTQ_Timeout]\nCONNECT_TIMEOUT=1\nREQUEST_TIMEOUT=2\n"
                 "[Global_Parameters]\nPASSWORD=" + scrambled("pw") + "\n");
    const GlobalParameters g = get();
    EXPECT_EQ(g.connect_timeout, -1);
    EXPECT_EQ(g.request_timeout, -1);
    EXPECT_STREQ(g.password, "pw");
}

TEST_F(Global, StoredTextsReadAsNumbersOrAbsent) {
    write_config("[Global_Parameters]\nCONNECT_TIMEOUT=12abc\nREQUEST_TIMEOUT=-7\nPASSWORD=\n");
    GlobalParameters g = get();
    EXPECT_EQ(g.connect_timeout, 12);
    EXPECT_EQ(g.request_timeout, -7) << "reading does not limit";
    EXPECT_STREQ(g.password, "");

    write_config("[Global_Parameters]\nCONNECT_TIMEOUT=\nREQUEST_TIMEOUT=?5\nPASSWORD=?x\n"
                 "\x01\xFF junk\n");
    g = get();
    EXPECT_EQ(g.connect_timeout, 0) << "present but empty";
    EXPECT_EQ(g.request_timeout, -1) << "a leading ? reads as absent";
    EXPECT_STREQ(g.password, "");
}

TEST_F(Global, LongStoredPasswordReadsAsItsFirstSixtyFiveBytes) {
    write_config("[Global_Parameters]\nPASSWORD=" + scrambled(std::string(80, 'k')) + "\n");
    EXPECT_EQ(std::string(get().password), std::string(65, 'k'));
}

// ---- Delete -------------------------------------------------------------------------------

TEST_F(Global, DeleteRemovesBothSectionsEvenWithoutKeys) {
    write_config("[vtq_timeout]\n; no key\n[Global_Parameters]\nCONNECT_TIMEOUT=2\n"
                 "[Keep]\nTYPE=VME_PORT\n");
    EXPECT_EQ(QDL_Delete_Record(RECORD_GLOBAL, 0, ""), QDL_OK);
    EXPECT_FALSE(qdltest::has_section(file(), "vtq_timeout"));
    EXPECT_FALSE(qdltest::has_section(file(), "Global_Parameters"));
    EXPECT_TRUE(qdltest::has_section(file(), "Keep"));
    get(QDL_ERR_NOT_FOUND);
}

// Neither section there is nothing to remove: QDL_OK and no file made, whatever the path names
// and whatever ran before (a read, a write that failed).
TEST_F(Global, DeleteWithNothingStoredSucceedsWhateverThePathNames) {
    const std::string dir = machine.scratch_dir() + "/dir.ini";
    std::filesystem::create_directory(dir);
    qdltest::write_file(machine.scratch_dir() + "/plain", "x");
    for (const std::string& path :
         {dir, machine.scratch_dir() + "/plain/cfg.ini", std::string("tsk_cfg.ini")}) {
        machine.set_registry_path(path);
        qdl::reset_config_paths_for_tests();
        EXPECT_EQ(QDL_Delete_Record(RECORD_GLOBAL, 0, "any"), QDL_OK) << path;
        EXPECT_FALSE(qdltest::file_exists(machine.default_file())) << path;
        get(QDL_ERR_NOT_FOUND);
        EXPECT_EQ(QDL_Delete_Record(RECORD_GLOBAL, 0, "any"), QDL_OK) << path << ", after a read";
        GlobalParameters g = params(100, -1, "");
        const int added = QDL_Add_Record(RECORD_GLOBAL, &g);
        EXPECT_EQ(added, path == dir || path.find("/plain/") != std::string::npos
                             ? QDL_ERR_FILE : QDL_OK) << path;
        EXPECT_EQ(QDL_Delete_Record(RECORD_GLOBAL, 0, "any"), QDL_OK) << path << ", after an add";
        EXPECT_TRUE(std::filesystem::is_directory(dir));
    }
}

}  // namespace
