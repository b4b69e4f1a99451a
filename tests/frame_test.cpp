// frame_test.cpp - the exported functions' argument checks in their order (including which path
// copy each resolves before a later check fails), the 16-bit kind argument, where the
// configuration file is found and how each path copy keeps its first value, the record-exists
// probe and the hexadecimal digit pairs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frame/frame.h"
#include "support/ini_text.h"
#include "support/test_env.h"
#include "testing/hooks.h"
#include "tskqdl32.h"

using qdl::PathBuffer;

namespace {

PortRecord port(const char* name, std::uint16_t type = PORT_TCPIP_ETH) {
    PortRecord r;
    std::memset(&r, 0xFF, sizeof r);
    std::memset(r.name, 0, sizeof r.name);
    std::memcpy(r.name, name, std::strlen(name));
    r.port_type = type;
    r.port[0] = r.modem_dial[0] = r.bxln_pn[0] = '\0';
    return r;
}

PortRecordEx port_ex(const char* name, const char* modem = "") {
    PortRecordEx r;
    r.base = port(name);
    std::memset(r.modem_recordname, 0, sizeof r.modem_recordname);
    std::memcpy(r.modem_recordname, modem, std::strlen(modem));
    return r;
}

GlobalParameters globals() {
    GlobalParameters g;
    std::memset(&g, 0, sizeof g);
    g.connect_timeout = 100;
    g.request_timeout = -1;
    return g;
}

// Two registered paths, A before the call under test and B after it: a path copy that holds A
// afterwards was resolved by the call, one that holds B was still empty.
class CheckOrder : public ::testing::Test {
protected:
    qdltest::Machine machine;
    std::string path_a = machine.scratch_dir() + "/a.ini";
    std::string path_b = machine.scratch_dir() + "/b.ini";

    void SetUp() override { machine.set_registry_path(path_a); }

    // Call once per test, after the calls under test.
    bool resolved_by_call(PathBuffer which) {
        machine.set_registry_path(path_b);
        const std::string held = qdl::config_path(which);
        EXPECT_TRUE(held == path_a || held == path_b) << held;
        return held == path_a;
    }
};

// ---- Order of the checks ----------------------------------------------------------------

TEST_F(CheckOrder, AddRecordResolvesItsOwnPathBeforeRefusingANullRecord) {
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Add_Record(0, nullptr), QDL_ERR_NULL_ARG) << "null record before kind";
    EXPECT_TRUE(resolved_by_call(PathBuffer::Add));
    EXPECT_FALSE(qdl::config_path(PathBuffer::Shared) == path_a);
    EXPECT_FALSE(qdl::config_path(PathBuffer::AddEx) == path_a);
}

TEST_F(CheckOrder, AddRecordRefusesUnknownKindsBeforeLookingAtTheRecord) {
    PortRecord r = port("Name");
    const PortRecord before = r;
    for (const int kind : {0, 5, 6, 0x10000, 0xFFFF}) {
        EXPECT_EQ(QDL_Add_Record(kind, &r), QDL_ERR_BAD_TYPE) << kind;
    }
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
    EXPECT_FALSE(qdltest::file_exists(path_a));
}

TEST_F(CheckOrder, AddRecordExResolvesItsOwnPathAndRefusesOtherKindsAsBadValue) {
    GlobalParameters g = globals();
    EXPECT_EQ(QDL_Add_Record_Ex(RECORD_PORT, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Add_Record_Ex(0, nullptr), QDL_ERR_NULL_ARG);
    for (const int kind : {0, 3, 5, 0x10003}) {
        EXPECT_EQ(QDL_Add_Record_Ex(kind, &g), QDL_ERR_BAD_VALUE) << kind;
    }
    EXPECT_FALSE(qdltest::file_exists(path_a));
    EXPECT_TRUE(resolved_by_call(PathBuffer::AddEx));
    EXPECT_FALSE(qdl::config_path(PathBuffer::Add) == path_a) << "the plain add was not reached";
}

TEST_F(CheckOrder, AddRecordExRunsThePlainAddAndReturnsItsStatusUnchanged) {
    PortRecordEx bad = port_ex("Bad", "Modem");
    bad.base.port_type = 0;
    EXPECT_EQ(QDL_Add_Record_Ex(RECORD_PORT, &bad), QDL_ERR_BAD_PORT_TYPE);
    PortRecordEx good = port_ex("Good", "Modem");
    EXPECT_EQ(QDL_Add_Record_Ex(RECORD_PORT, &good), QDL_OK);
    EXPECT_EQ(QDL_Add_Record_Ex(RECORD_PORT, &good), QDL_ERR_EXISTS);
    EXPECT_EQ(qdltest::section_entries(qdltest::read_file(path_a), "Good"),
              (qdltest::Entries{{"TYPE", "TCPIP_ETH"}, {"MODEM_RECORDNAME", "Modem"}}));
    EXPECT_FALSE(qdltest::has_section(qdltest::read_file(path_a), "Bad"));
    EXPECT_TRUE(resolved_by_call(PathBuffer::Add)) << "the plain add resolved its own copy";
}

TEST_F(CheckOrder, DeleteRecordResolvesTheSharedPathBeforeRefusingANullName) {
    EXPECT_EQ(QDL_Delete_Record(RECORD_PORT, 0, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Delete_Record(0, 0, nullptr), QDL_ERR_NULL_ARG) << "null name before kind";
    EXPECT_EQ(QDL_Delete_Record(RECORD_GLOBAL, 0, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Delete_Record(0, 0, "x"), QDL_ERR_BAD_TYPE);
    EXPECT_EQ(QDL_Delete_Record(5, 0, "x"), QDL_ERR_BAD_TYPE);
    EXPECT_EQ(QDL_Delete_Record(RECORD_GLOBAL, 0, "x"), QDL_OK) << "nothing to delete is fine";
    EXPECT_TRUE(resolved_by_call(PathBuffer::Shared));
}

TEST_F(CheckOrder, GetRecordRefusesNullArgumentsBeforeResolvingAnything) {
    PortRecord r = port("R");
    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, nullptr, &r), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "R", nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_Record(0, nullptr, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_FALSE(resolved_by_call(PathBuffer::Shared));
}

TEST_F(CheckOrder, GetRecordResolvesTheSharedPathBeforeRefusingAnUnknownKind) {
    PortRecord r = port("R");
    const PortRecord before = r;
    EXPECT_EQ(QDL_Get_Record(0, "R", &r), QDL_ERR_BAD_TYPE);
    EXPECT_EQ(QDL_Get_Record(5, "R", &r), QDL_ERR_BAD_TYPE);
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
    EXPECT_TRUE(resolved_by_call(PathBuffer::Shared));
}

TEST_F(CheckOrder, GetRecordExResolvesBeforeRefusingANullRecordAndTakesKindsOneAndTwo) {
    EXPECT_EQ(QDL_Get_Record_Ex(RECORD_PORT, "R", nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_Record_Ex(RECORD_MODEM, nullptr, nullptr), QDL_ERR_NULL_ARG);
    PortRecordEx r = port_ex("R");
    for (const int kind : {0, 3, 4, 5, 0x10004}) {
        EXPECT_EQ(QDL_Get_Record_Ex(kind, "R", &r), QDL_ERR_BAD_VALUE) << kind;
    }
    EXPECT_EQ(QDL_Get_Record_Ex(RECORD_MODEM, nullptr, &r), QDL_ERR_BAD_VALUE)
        << "the kind is checked before the plain get looks at the name";
    EXPECT_EQ(QDL_Get_Record_Ex(RECORD_PORT, nullptr, &r), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_Record_Ex(RECORD_PORT, "Missing", &r), QDL_ERR_NOT_FOUND);
    EXPECT_TRUE(resolved_by_call(PathBuffer::Shared));
}

TEST_F(CheckOrder, GetModemRecordExRefusesNullArgumentsBeforeResolvingAnything) {
    ModemRecordEx m;
    EXPECT_EQ(QDL_Get_Modem_Record_Ex(RECORD_MODEM, "M", nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_Modem_Record_Ex(RECORD_MODEM, nullptr, &m), QDL_ERR_NULL_ARG);
    EXPECT_FALSE(resolved_by_call(PathBuffer::Shared));
}

TEST_F(CheckOrder, GetModemRecordExProbesForAModemBeforeTouchingTheRecord) {
    PortRecord p = port("Link");
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    ModemRecordEx m;
    std::memset(&m, 0xCC, sizeof m);
    EXPECT_EQ(QDL_Get_Modem_Record_Ex(RECORD_MODEM, "Link", &m), QDL_ERR_NOT_FOUND)
        << "a port of that name is no modem";
    EXPECT_EQ(m.modem_break, 0xCCCC);

    // A modem section: modem_break is preset before the plain get, which fails on the kind.
    qdltest::write_file(path_a, "[Dial]\nMODEM_DIAL=ATDT1\n");
    EXPECT_EQ(QDL_Get_Modem_Record_Ex(0x10005, "Dial", &m), QDL_ERR_BAD_TYPE);
    EXPECT_EQ(m.modem_break, 1);
    EXPECT_EQ(static_cast<unsigned char>(m.base.name[0]), 0xCC);
}

TEST_F(CheckOrder, GetListChecksFiltersThenCountThenBuffer) {
    ListFilter good{};
    std::strcpy(good.key, "TYPE");
    ListFilter empty{};
    unsigned short count = 3;
    EXPECT_EQ(QDL_Get_List(nullptr, nullptr, nullptr, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_List(&empty, nullptr, nullptr, nullptr), QDL_ERR_EMPTY_FILTER);
    EXPECT_EQ(QDL_Get_List(&good, &empty, nullptr, nullptr), QDL_ERR_EMPTY_FILTER);
    EXPECT_EQ(QDL_Get_List(&good, nullptr, nullptr, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_List(&good, nullptr, nullptr, &count), QDL_ERR_NULL_ARG);
    EXPECT_EQ(count, 0) << "the count is cleared before the buffer is checked";

    PortRecord a = port("A"), b = port("B");
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &a), QDL_OK);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &b), QDL_OK);
    count = 0;
    EXPECT_EQ(QDL_Get_List(&good, nullptr, nullptr, &count), 2) << "counting needs no buffer";
}

// ---- The 16-bit kind argument -------------------------------------------------------------

TEST_F(CheckOrder, OnlyTheLowSixteenBitsOfAKindCount) {
    PortRecord p = port("Wide");
    ASSERT_EQ(QDL_Add_Record(0x10001, &p), QDL_OK);
    PortRecord out = port("");
    ASSERT_EQ(QDL_Get_Record(0x20001, "Wide", &out), QDL_OK);
    EXPECT_EQ(out.port_type, PORT_TCPIP_ETH);
    PortRecordEx ex = port_ex("");
    EXPECT_EQ(QDL_Get_Record_Ex(-65535, "Wide", &ex), QDL_OK);  // 0xFFFF0001
    GlobalParameters g = globals();
    EXPECT_EQ(QDL_Add_Record(0x70003, &g), QDL_OK);
    EXPECT_EQ(QDL_Delete_Record(0x10001, 0x10007, "Wide"), QDL_OK);
    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "Wide", &out), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(QDL_Add_Record(0x10000, &p), QDL_ERR_BAD_TYPE);
    PortRecordEx wide = port_ex("WideEx");
    EXPECT_EQ(QDL_Add_Record_Ex(0x10001, &wide), QDL_OK);
}

// ---- Where the configuration file is ------------------------------------------------------

class ConfigPath : public ::testing::Test {
protected:
    qdltest::Machine machine;

    static int add(const char* name) {
        PortRecord p = port(name);
        return QDL_Add_Record(RECORD_PORT, &p);
    }
    static int get(const char* name) {
        PortRecord p = port("");
        return QDL_Get_Record(RECORD_PORT, name, &p);
    }
    static bool holds(const std::string& file, const char* name) {
        return qdltest::has_section(qdltest::read_file(file), name);
    }
};

TEST_F(ConfigPath, WithoutARegistryValueTheDefaultFileInTheWindowsDirectoryIsUsed) {
    ASSERT_EQ(add("P"), QDL_OK);
    EXPECT_TRUE(holds(machine.windows_dir() + "/tsk_cfg.ini", "P"));
    EXPECT_EQ(get("P"), QDL_OK);
    EXPECT_EQ(std::string(qdl::config_path(PathBuffer::Add)), "tsk_cfg.ini");
}

TEST_F(ConfigPath, RegisteredPathIsUsedByReadersAndWriters) {
    const std::string file = machine.scratch_dir() + "/site.ini";
    machine.set_registry_path(file);
    ASSERT_EQ(add("P"), QDL_OK);
    EXPECT_TRUE(holds(file, "P"));
    EXPECT_FALSE(qdltest::file_exists(machine.default_file()));
    EXPECT_EQ(get("P"), QDL_OK);
    EXPECT_EQ(QDL_Delete_Record(RECORD_PORT, 0, "P"), QDL_OK);
    EXPECT_FALSE(holds(file, "P"));
}

TEST_F(ConfigPath, ValueOf259BytesIsUsedAndOneByteMoreFallsBackToTheDefault) {
    const std::string dir = machine.scratch_dir() + "/";
    ASSERT_LT(dir.size(), 259u - 8);
    const std::string fits = dir + std::string(259 - dir.size(), 'f');
    ASSERT_EQ(fits.size(), 259u);
    machine.set_registry_path(fits);
    ASSERT_EQ(add("Fits"), QDL_OK);
    EXPECT_TRUE(holds(fits, "Fits"));

    qdl::reset_config_paths_for_tests();
    const std::string too_long = dir + std::string(260 - dir.size(), 'g');
    machine.set_registry_path(too_long);
    ASSERT_EQ(add("Long"), QDL_OK);
    EXPECT_TRUE(holds(machine.default_file(), "Long"));
    EXPECT_FALSE(qdltest::file_exists(too_long));
    EXPECT_EQ(get("Long"), QDL_OK);
}

TEST_F(ConfigPath, EmptyValueCountsAsNone) {
    machine.set_registry_path("");
    ASSERT_EQ(add("P"), QDL_OK);
    EXPECT_TRUE(holds(machine.default_file(), "P"));
    EXPECT_EQ(std::string(qdl::config_path(PathBuffer::Shared)), "tsk_cfg.ini");
}

TEST_F(ConfigPath, EachCopyKeepsThePathOfItsFirstUse) {
    const std::string first = machine.scratch_dir() + "/first.ini";
    const std::string second = machine.scratch_dir() + "/second.ini";
    machine.set_registry_path(first);
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, nullptr), QDL_ERR_NULL_ARG);  // fills the add copy
    machine.set_registry_path(second);

    // The add keeps writing to the first file; its exists probe and the get, whose copy was
    // still empty, see the second.
    ASSERT_EQ(add("P"), QDL_OK);
    EXPECT_TRUE(holds(first, "P"));
    EXPECT_EQ(get("P"), QDL_ERR_NOT_FOUND);
    ASSERT_EQ(add("P"), QDL_OK) << "the probe looks in the second file";

    // The extended add's copy was empty too: the plain add inside it writes the port to the
    // first file, the extension key lands in the second.
    PortRecordEx ex = port_ex("Q", "Hayes");
    ASSERT_EQ(QDL_Add_Record_Ex(RECORD_PORT, &ex), QDL_OK);
    EXPECT_EQ(qdltest::section_entries(qdltest::read_file(first), "Q"),
              (qdltest::Entries{{"TYPE", "TCPIP_ETH"}}));
    EXPECT_EQ(qdltest::section_entries(qdltest::read_file(second), "Q"),
              (qdltest::Entries{{"MODEM_RECORDNAME", "Hayes"}}));
    EXPECT_EQ(get("Q"), QDL_ERR_NOT_FOUND);
    machine.clear_registry_path();
    EXPECT_EQ(std::string(qdl::config_path(PathBuffer::Add)), first);
    EXPECT_EQ(std::string(qdl::config_path(PathBuffer::Shared)), second);
    EXPECT_EQ(std::string(qdl::config_path(PathBuffer::AddEx)), second);
}

// ---- Record-exists probe and digit pairs --------------------------------------------------

TEST_F(ConfigPath, RecordExistsLooksForTheKeyOfEachKind) {
    qdltest::write_file(machine.default_file(),
                        "[Port]\nTYPE=VME_PORT\n[Marked]\nTYPE=?x\n[Dev]\nIP_ADDR=1.2.3.4\n"
                        "[Modem]\nMODEM_DIAL=ATDT\n[VTQ_Timeout]\nCONNECT_TIMEOUT=1\n");
    EXPECT_TRUE(qdl::record_exists("port", RECORD_PORT, 0));
    EXPECT_FALSE(qdl::record_exists("Marked", RECORD_PORT, 0));
    EXPECT_FALSE(qdl::record_exists("Dev", RECORD_PORT, 0));
    EXPECT_TRUE(qdl::record_exists("Dev", RECORD_DEVICE, ADDRESS_TCPIP_SLIP));
    EXPECT_FALSE(qdl::record_exists("Dev", RECORD_DEVICE, ADDRESS_KWT_ID));
    EXPECT_TRUE(qdl::record_exists("Port", RECORD_DEVICE, ADDRESS_ALL)) << "any key will do";
    EXPECT_TRUE(qdl::record_exists("Port", RECORD_DEVICE, ADDRESS_BXLN_BUS));
    EXPECT_TRUE(qdl::record_exists("Modem", RECORD_MODEM, 0));
    EXPECT_FALSE(qdl::record_exists("Port", RECORD_MODEM, 0));
    EXPECT_TRUE(qdl::record_exists("no matter", RECORD_GLOBAL, 0));
    EXPECT_FALSE(qdl::record_exists("Port", 0, 0));
    EXPECT_FALSE(qdl::record_exists("Port", 5, 0));
}

TEST(HexPair, DigitsOfEitherCaseAndAnythingElseAsZero) {
    EXPECT_EQ(qdl::parse_hex_pair("ff"), 0xFF);
    EXPECT_EQ(qdl::parse_hex_pair("FF"), 0xFF);
    EXPECT_EQ(qdl::parse_hex_pair("G1"), 0x01);
    EXPECT_EQ(qdl::parse_hex_pair("1G"), 0x10);
    EXPECT_EQ(qdl::parse_hex_pair("9a"), 0x9A);
    EXPECT_EQ(qdl::parse_hex_pair("1"), 0x10) << "the NUL counts as 0 and is not stepped over";
    EXPECT_EQ(qdl::parse_hex_pair(""), 0x00);
}

}  // namespace
