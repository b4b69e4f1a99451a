// legacy_test.cpp - the legacy library: kinds 1 to 3, the fixed file in the Windows directory,
// LegacyPortRecord, MODEM_DIAL written with a serial port, time-outs of 0 stored as 50, PORT read
// as four characters, "kbRT_KWT_SERIAL" refused, version 1.01.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "support/config_file.h"
#include "tskqdl32.h"

namespace {

class Legacy : public ::testing::Test {
protected:
    qdltest::Machine machine;

    std::string file() const { return qdltest::config_text_lf(machine); }

    static LegacyPortRecord serial(const char* name) {
        LegacyPortRecord p;
        std::memset(&p, 0xFF, sizeof p);
        std::strcpy(p.name, name);
        p.port_type = PORT_KWT_SERIAL;
        std::strcpy(p.port, "COM3");
        p.modem_dial[0] = '\0';
        p.bxln_pn[0] = '\0';
        return p;
    }
};

bool has_line(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos ||
           ("\n" + text).find("\n" + line + "\r\n") != std::string::npos;
}

TEST_F(Legacy, AnswersItsOwnVersion) {
    char buffer[40];
    std::memset(buffer, 0x33, sizeof buffer);
    ASSERT_EQ(QDL_Get_Version(buffer), QDL_OK);
    EXPECT_STREQ(buffer, "QDL Version 1.01 (03a1)");
    EXPECT_EQ(buffer[24], 0x33);
    EXPECT_EQ(QDL_Get_Version(nullptr), QDL_ERR_NULL_ARG);
}

TEST_F(Legacy, KnowsNoModemKindButChecksPointersFirst) {
    ModemRecord m{};
    std::strcpy(m.name, "Dialer");
    EXPECT_EQ(QDL_Add_Record(RECORD_MODEM, &m), QDL_ERR_BAD_TYPE);
    EXPECT_EQ(QDL_Get_Record(RECORD_MODEM, "Dialer", &m), QDL_ERR_BAD_TYPE);
    EXPECT_EQ(QDL_Delete_Record(RECORD_MODEM, 0, "Dialer"), QDL_ERR_BAD_TYPE);
    EXPECT_EQ(QDL_Add_Record(RECORD_MODEM, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_Record(RECORD_MODEM, nullptr, &m), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_Record(RECORD_MODEM, "Dialer", nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Delete_Record(RECORD_MODEM, 0, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_FALSE(qdltest::file_exists(machine.default_file()));
}

TEST_F(Legacy, SerialPortRoundTripsInTheOlderLayoutWithItsDialString) {
    LegacyPortRecord p = serial("LineA");
    std::strcpy(p.modem_dial, "ATDT0123");
    p.stopbits = 2;
    p.parity = QDL_PARITY_ODD;
    p.baudrate = 19200;
    p.kwt_t3pp = 77;
    p.multisess = 0;
    p.connect_timeout = 0;     // stored as 50 in this library
    p.request_timeout = 63001; // limited to 63000
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    EXPECT_EQ(p.connect_timeout, 50u);
    EXPECT_EQ(p.request_timeout, 63000u);

    const std::string text = file();
    EXPECT_TRUE(has_line(text, "MODEM_DIAL=ATDT0123")) << text;
    EXPECT_TRUE(has_line(text, "CONNECT_TIMEOUT=50")) << text;
    EXPECT_TRUE(has_line(text, "KWT_T3PP=77")) << text;
    // MODEM_DIAL comes right after TYPE.
    EXPECT_NE(text.find("TYPE=KWT_SERIAL\nMODEM_DIAL=ATDT0123\nSTOPBITS=2"), std::string::npos)
        << text;

    LegacyPortRecord back;
    std::memset(&back, 0xCC, sizeof back);
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "LineA", &back), QDL_OK);
    EXPECT_STREQ(back.name, "LineA");
    EXPECT_EQ(back.port_type, PORT_KWT_SERIAL);
    EXPECT_STREQ(back.port, "COM3");
    EXPECT_STREQ(back.modem_dial, "ATDT0123");
    EXPECT_EQ(back.stopbits, 2);
    EXPECT_EQ(back.parity, QDL_PARITY_ODD);
    EXPECT_EQ(back.baudrate, 19200);
    EXPECT_EQ(back.kwt_t3pp, 77u);
    EXPECT_EQ(back.kwt_t1, QDL_UNSET32);
    EXPECT_EQ(back.multisess, 0);
    EXPECT_EQ(back.connect_timeout, 50u);
    EXPECT_EQ(back.request_timeout, 63000u);
}

TEST_F(Legacy, TimeoutsBelowFiftyIncludingZeroBecomeFifty) {
    const std::uint32_t cases[][2] = {{0, 50}, {49, 50}, {10, 50}, {50, 50}, {63000, 63000},
                                      {63001, 63000}, {0xFFFFFFFEu, 63000}};
    int n = 0;
    for (const auto& c : cases) {
        LegacyPortRecord p = serial(("Line" + std::string(1, static_cast<char>('A' + n++))).c_str());
        p.port_type = PORT_TCPIP_ETH;
        p.connect_timeout = c[0];
        p.request_timeout = 10;
        ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
        EXPECT_EQ(p.connect_timeout, c[1]) << c[0];
        EXPECT_EQ(p.request_timeout, 50u);
    }
    LegacyPortRecord p = serial("Unset");
    p.port_type = PORT_VME;
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    const std::string text = file();
    EXPECT_EQ(text.find("CONNECT_TIMEOUT", text.find("[Unset]")), std::string::npos) << text;
}

TEST_F(Legacy, UnterminatedDialStringIsStoredAsItsFirst64Bytes) {
    LegacyPortRecord p = serial("LineB");
    std::memset(p.modem_dial, 'D', sizeof p.modem_dial);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&p);
    EXPECT_EQ(bytes[164], 0);
    EXPECT_EQ(bytes[165], 'D');
    EXPECT_TRUE(has_line(file(), "MODEM_DIAL=" + std::string(64, 'D'))) << file();

    LegacyPortRecord q = serial("LineC");
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &q), QDL_OK);
    const std::string text = file();
    EXPECT_EQ(text.find("MODEM_DIAL", text.find("[LineC]")), std::string::npos) << text;
}

TEST_F(Legacy, ReadsFourCharactersOfPortAndThirtyTwoOfTheDialString) {
    qdltest::write_file(machine.default_file(),
                        "[P1]\nTYPE=KWT_SERIAL\nPORT=COM10\nMODEM_DIAL=" + std::string(40, 'x') +
                            "\n[P2]\nTYPE=KWT_SERIAL\nPORT=COMPORT1\n");
    LegacyPortRecord p;
    std::memset(&p, 0xCC, sizeof p);
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "P1", &p), QDL_OK);
    EXPECT_STREQ(p.port, "COM1");
    EXPECT_EQ(std::string(p.modem_dial), std::string(32, 'x'));
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "P2", &p), QDL_OK);
    EXPECT_STREQ(p.port, "COMP");
    EXPECT_EQ(p.modem_dial[0], '\0');
}

TEST_F(Legacy, OlderTypeWordIsRefusedAfterTheNameIsFilled) {
    qdltest::write_file(machine.default_file(), "[Old]\nTYPE=kbRT_KWT_SERIAL\n");
    LegacyPortRecord p;
    std::memset(&p, 0xCC, sizeof p);
    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "Old", &p), QDL_ERR_BAD_PORT_TYPE);
    EXPECT_STREQ(p.name, "Old");
    EXPECT_EQ(p.port_type, 0xCCCC);
}

TEST_F(Legacy, BusFieldsLieAtTheOlderOffsets) {
    LegacyPortRecord p = serial("Bus1");
    p.port_type = PORT_BXLN_BUS;
    std::strcpy(p.bxln_pn, "PN-77");
    p.bxln_channel = 4;
    p.bxln_control[0] = 0xCD;
    p.bxln_control[1] = 0xAB;
    p.bxln_port[0] = 0x34;
    p.bxln_port[1] = 0x12;
    const std::uint8_t addr[4] = {4, 3, 2, 1};
    std::memcpy(p.bxln_addr, addr, 4);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    const std::string text = file();
    EXPECT_TRUE(has_line(text, "BXLN_CONTROL=ABCD")) << text;
    EXPECT_TRUE(has_line(text, "BXLN_PORT=1234")) << text;
    EXPECT_TRUE(has_line(text, "BXLN_ADDR=01020304")) << text;
    EXPECT_TRUE(has_line(text, "BXLN_P/N=PN-77")) << text;

    LegacyPortRecord back;
    std::memset(&back, 0xCC, sizeof back);
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Bus1", &back), QDL_OK);
    EXPECT_STREQ(back.bxln_pn, "PN-77");
    EXPECT_EQ(back.bxln_channel, 4);
    EXPECT_EQ(std::memcmp(back.bxln_control, p.bxln_control, 2), 0);
    EXPECT_EQ(std::memcmp(back.bxln_port, p.bxln_port, 2), 0);
    EXPECT_EQ(std::memcmp(back.bxln_addr, addr, 4), 0);
}

TEST_F(Legacy, GlobalParametersLimitZeroAndGiveTheClearPasswordBack) {
    GlobalParameters g{};
    g.connect_timeout = 0;
    g.request_timeout = 10;
    std::strcpy(g.password, "secret");
    ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_OK);
    EXPECT_EQ(g.connect_timeout, 50);
    EXPECT_EQ(g.request_timeout, 50);
    EXPECT_STREQ(g.password, "secret");
    EXPECT_EQ(file().find("secret"), std::string::npos);

    // A second add of the same record must not store a twice-scrambled password.
    ASSERT_EQ(QDL_Add_Record(RECORD_GLOBAL, &g), QDL_OK);
    GlobalParameters back{};
    ASSERT_EQ(QDL_Get_Record(RECORD_GLOBAL, "", &back), QDL_OK);
    EXPECT_STREQ(back.password, "secret");
    EXPECT_EQ(back.connect_timeout, 50);
}

TEST_F(Legacy, ReadsTheWindowsDirectoryFileWhateverTheRegistrySays) {
    const std::string elsewhere = machine.scratch_dir() + "/other.ini";
    machine.set_registry_path(elsewhere);
    LegacyPortRecord p = serial("LineR");
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_OK);
    EXPECT_FALSE(qdltest::file_exists(elsewhere));
    EXPECT_TRUE(has_line(file(), "[LineR]"));

    // The listing reads the same file, not one in the current directory.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(machine.scratch_dir());
    qdltest::write_file("tsk_cfg.ini", "[Decoy]\nTYPE=KWT_SERIAL\n");
    ListFilter f{};
    std::strcpy(f.key, "TYPE");
    char names[66 * 4];
    unsigned short count = 4;
    const int n = QDL_Get_List(&f, nullptr, names, &count);
    std::filesystem::current_path(cwd);
    ASSERT_EQ(n, 1);
    EXPECT_STREQ(names, "LineR");
}

// No record is named "": the keys before the first header are never read or deleted as one.
TEST_F(Legacy, EmptyNameIsNoRecordOfAnyKind) {
    qdltest::write_ini(machine, "; site file, keep\nTYPE=KWT_SERIAL\nPORT=COM1\n[Kept]\nKWT_ID=K\n");
    const std::string before = qdltest::config_text(machine);
    LegacyPortRecord p;
    std::memset(&p, 0xA5, sizeof p);
    DeviceRecord d;
    std::memset(&d, 0xA5, sizeof d);
    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "", &p), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(QDL_Get_Record(RECORD_DEVICE, "", &d), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(static_cast<unsigned char>(p.name[0]), 0xA5);
    EXPECT_EQ(static_cast<unsigned char>(d.name[0]), 0xA5);
    EXPECT_EQ(QDL_Delete_Record(RECORD_PORT, 0, ""), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_ALL, ""), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(qdltest::config_text(machine), before);
}

TEST_F(Legacy, DevicesWorkAsInTheCurrentLibrary) {
    DeviceRecord d;
    std::memset(&d, 0xFF, sizeof d);
    std::strcpy(d.name, "Meter7");
    d.address_kind = ADDRESS_KWT_ID;
    std::strcpy(d.kwt_id, "K17");
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &d), QDL_OK);
    DeviceRecord back;
    std::memset(&back, 0xCC, sizeof back);
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Meter7", &back), QDL_OK);
    EXPECT_STREQ(back.kwt_id, "K17");
    EXPECT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_KWT_ID, "Meter7"), QDL_OK);
    EXPECT_EQ(QDL_Get_Record(RECORD_DEVICE, "Meter7", &back), QDL_ERR_NOT_FOUND);
}

}  // namespace
