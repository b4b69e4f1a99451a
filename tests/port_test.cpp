// port_test.cpp - port records (kind 1): the round trip of each port type, the add's checks in
// their order and the bytes it changes in the caller's record, the reader's words, limits and
// untouched bytes, delete, the MODEM_RECORDNAME extension, and texts that are not terminated.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/config_file.h"
#include "support/ini_text.h"
#include "testing/hooks.h"
#include "tskqdl32.h"

using qdltest::Entries;

namespace {

constexpr unsigned char kFill = 0xCC;

// A port with every optional field unset; the unused bytes hold 0xCC.
PortRecord unset_port(const char* name, std::uint16_t type) {
    PortRecord r;
    std::memset(&r, kFill, sizeof r);
    std::memcpy(r.name, name, std::strlen(name) + 1);
    r.port_type = type;
    r.connect_timeout = r.request_timeout = QDL_UNSET32;
    r.port[0] = '\0';
    r.modem_dial[0] = '\0';
    r.stopbits = r.parity = r.baudrate = QDL_UNSET16;
    r.modem_turn = r.kwt_t1 = r.kwt_t2 = r.kwt_t3 = r.kwt_t3p = r.kwt_t3pp = QDL_UNSET32;
    r.kwt_t4 = r.kwt_t5 = r.kwt_t5p = r.kwt_t5pp = QDL_UNSET32;
    r.multisess = r.bxln_channel = QDL_UNSET16;
    r.bxln_pn[0] = '\0';
    std::memset(r.bxln_control, 0xFF, 2);
    std::memset(r.bxln_port, 0xFF, 2);
    std::memset(r.bxln_addr, 0xFF, 4);
    return r;
}

PortRecord filled() {
    PortRecord r;
    std::memset(&r, kFill, sizeof r);
    return r;
}

// Offsets at which two records differ.
std::vector<std::size_t> changed_bytes(const void* a, const void* b, std::size_t size) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < size; ++i) {
        if (static_cast<const unsigned char*>(a)[i] != static_cast<const unsigned char*>(b)[i]) {
            at.push_back(i);
        }
    }
    return at;
}

bool all_fill(const void* record, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        if (static_cast<const unsigned char*>(record)[i] != kFill) return false;
    }
    return true;
}

class PortFixture : public qdltest::ConfigTest {
protected:
    void TearDown() override { qdl::platform::set_code_page_for_tests(1252); }
};

// ---- Round trips ------------------------------------------------------------------------

using PortRoundTrip = PortFixture;

TEST_F(PortRoundTrip, SerialPortStoresEverySetFieldAndReadsItBack) {
    PortRecord in = unset_port("Line1", PORT_KWT_SERIAL);
    std::strcpy(in.port, "COM2");
    in.stopbits = 2;
    in.parity = QDL_PARITY_EVEN;
    in.baudrate = 9600;
    in.modem_turn = 100;
    in.kwt_t1 = 11, in.kwt_t2 = 12, in.kwt_t3 = 13, in.kwt_t3p = 14, in.kwt_t3pp = 15;
    in.kwt_t4 = 16, in.kwt_t5 = 17, in.kwt_t5p = 18, in.kwt_t5pp = 4000000000u;
    in.multisess = 1;
    in.connect_timeout = 3000;
    in.request_timeout = 5000;
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);

    const Entries expected = {
        {"PORT", "COM2"},       {"TYPE", "KWT_SERIAL"},     {"STOPBITS", "2"},
        {"PARITY", "EVEN"},     {"BAUDRATE", "9600"},       {"MODEM_TURN", "100"},
        {"KWT_T1", "11"},       {"KWT_T2", "12"},           {"KWT_T3", "13"},
        {"KWT_T3P", "14"},      {"KWT_T3PP", "15"},         {"KWT_T4", "16"},
        {"KWT_T5", "17"},       {"KWT_T5P", "18"},          {"KWT_T5PP", "4000000000"},
        {"MULTISESS", "YES"},   {"CONNECT_TIMEOUT", "3000"}, {"REQUEST_TIMEOUT", "5000"}};
    EXPECT_EQ(entries("Line1"), expected);

    PortRecord out = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Line1", &out), QDL_OK);
    EXPECT_STREQ(out.name, "Line1");
    EXPECT_EQ(out.port_type, PORT_KWT_SERIAL);
    EXPECT_EQ(out.connect_timeout, 3000u);
    EXPECT_EQ(out.request_timeout, 5000u);
    EXPECT_STREQ(out.port, "COM2");
    EXPECT_STREQ(out.modem_dial, "");
    EXPECT_EQ(out.stopbits, 2);
    EXPECT_EQ(out.parity, QDL_PARITY_EVEN);
    EXPECT_EQ(out.baudrate, 9600);
    EXPECT_EQ(out.modem_turn, 100u);
    EXPECT_EQ(out.kwt_t1, 11u);
    EXPECT_EQ(out.kwt_t3pp, 15u);
    EXPECT_EQ(out.kwt_t5p, 18u);
    EXPECT_EQ(out.kwt_t5pp, 4000000000u);
    EXPECT_EQ(out.multisess, 1);
    // The serial reader stops at MULTISESS: the bus fields and the unused bytes stay.
    EXPECT_TRUE(all_fill(&out, offsetof(PortRecord, reserved0), offsetof(PortRecord, port)));
    EXPECT_TRUE(all_fill(&out, offsetof(PortRecord, bxln_channel), sizeof out));
}

TEST_F(PortRoundTrip, SerialPortWithNothingSetReadsBackUnset) {
    PortRecord in = unset_port("Bare", PORT_KWT_SERIAL);
    in.parity = QDL_PARITY_NONE;
    in.multisess = 0;
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);
    const Entries expected = {{"TYPE", "KWT_SERIAL"}, {"PARITY", "NONE"}, {"MULTISESS", "NO"}};
    EXPECT_EQ(entries("Bare"), expected);

    PortRecord out = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Bare", &out), QDL_OK);
    EXPECT_EQ(out.connect_timeout, QDL_UNSET32);
    EXPECT_EQ(out.request_timeout, QDL_UNSET32);
    EXPECT_STREQ(out.port, "");
    EXPECT_EQ(out.stopbits, QDL_UNSET16);
    EXPECT_EQ(out.parity, QDL_PARITY_NONE);
    EXPECT_EQ(out.baudrate, QDL_UNSET16);
    EXPECT_EQ(out.modem_turn, QDL_UNSET32);
    EXPECT_EQ(out.kwt_t5pp, QDL_UNSET32);
    EXPECT_EQ(out.multisess, 0);
}

struct PlainType {
    std::uint16_t type;
    const char* word;
};

class PlainPortRoundTrip : public PortFixture, public ::testing::WithParamInterface<PlainType> {};

TEST_P(PlainPortRoundTrip, StoresTypeAndTimeoutsOnlyAndLeavesTheRestOfTheRecord) {
    PortRecord in = unset_port("Net", GetParam().type);
    std::strcpy(in.port, "COM1");  // serial fields are not written for these types
    in.stopbits = 1;
    in.connect_timeout = 700;
    in.request_timeout = 800;
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);
    const Entries expected = {
        {"TYPE", GetParam().word}, {"CONNECT_TIMEOUT", "700"}, {"REQUEST_TIMEOUT", "800"}};
    EXPECT_EQ(entries("Net"), expected);

    PortRecord out = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Net", &out), QDL_OK);
    EXPECT_STREQ(out.name, "Net");
    EXPECT_EQ(out.port_type, GetParam().type);
    EXPECT_EQ(out.connect_timeout, 700u);
    EXPECT_EQ(out.request_timeout, 800u);
    EXPECT_TRUE(all_fill(&out, offsetof(PortRecord, reserved0), sizeof out));
}

INSTANTIATE_TEST_SUITE_P(Types, PlainPortRoundTrip,
                         ::testing::Values(PlainType{PORT_TCPIP_ETH, "TCPIP_ETH"},
                                           PlainType{PORT_VME, "VME_PORT"},
                                           PlainType{PORT_TCPIP_SLIP, "TCPIP_SLIP"}));

TEST_F(PortRoundTrip, BusPortStoresItsBoardFieldsAndNoTimeouts) {
    PortRecord in = unset_port("Bus7", PORT_BXLN_BUS);
    std::strcpy(in.bxln_pn, "PN-12345");
    in.bxln_channel = 3;
    in.bxln_control[0] = 0xCD, in.bxln_control[1] = 0xAB;
    in.bxln_port[0] = 0x00, in.bxln_port[1] = 0x12;
    in.bxln_addr[0] = 4, in.bxln_addr[1] = 3, in.bxln_addr[2] = 2, in.bxln_addr[3] = 1;
    in.connect_timeout = 10;
    in.request_timeout = 20;
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);
    const Entries expected = {{"TYPE", "BXLN_BUS"},     {"BXLN_P/N", "PN-12345"},
                              {"BXLN_CHANNEL", "3"},    {"BXLN_CONTROL", "ABCD"},
                              {"BXLN_PORT", "1200"},    {"BXLN_ADDR", "01020304"}};
    EXPECT_EQ(entries("Bus7"), expected);
    EXPECT_EQ(in.connect_timeout, 10u) << "a bus port's time-outs are not limited";

    PortRecord out = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Bus7", &out), QDL_OK);
    EXPECT_EQ(out.port_type, PORT_BXLN_BUS);
    EXPECT_STREQ(out.bxln_pn, "PN-12345");
    EXPECT_EQ(out.bxln_pn[14], '\0');
    EXPECT_EQ(out.bxln_channel, 3);
    EXPECT_EQ(out.bxln_control[0], 0xCD);
    EXPECT_EQ(out.bxln_control[1], 0xAB);
    EXPECT_EQ(out.bxln_port[0], 0x00);
    EXPECT_EQ(out.bxln_port[1], 0x12);
    EXPECT_EQ(std::memcmp(out.bxln_addr, in.bxln_addr, 4), 0);
    // Time-outs, serial fields and every unused byte keep what the caller had.
    EXPECT_TRUE(all_fill(&out, offsetof(PortRecord, connect_timeout),
                         offsetof(PortRecord, bxln_channel)));
    EXPECT_EQ(out.reserved1, kFill);
    EXPECT_TRUE(all_fill(&out, offsetof(PortRecord, reserved2), offsetof(PortRecord, bxln_port)));
    EXPECT_TRUE(all_fill(&out, offsetof(PortRecord, reserved3), offsetof(PortRecord, bxln_addr)));
    EXPECT_TRUE(all_fill(&out, offsetof(PortRecord, reserved4), sizeof out));
}

TEST_F(PortRoundTrip, BusPortWithNothingSetReadsBackUnset) {
    PortRecord in = unset_port("Bus0", PORT_BXLN_BUS);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);
    EXPECT_EQ(entries("Bus0"), (Entries{{"TYPE", "BXLN_BUS"}}));
    PortRecord out = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Bus0", &out), QDL_OK);
    EXPECT_STREQ(out.bxln_pn, "");
    EXPECT_EQ(out.bxln_channel, QDL_UNSET16);
    EXPECT_EQ(out.bxln_control[0] & out.bxln_control[1], 0xFF);
    EXPECT_EQ(out.bxln_port[0] & out.bxln_port[1], 0xFF);
    EXPECT_EQ(out.bxln_addr[0] & out.bxln_addr[1] & out.bxln_addr[2] & out.bxln_addr[3], 0xFF);
}

// ---- The add: checks in order, partial writes, changes to the caller's record -----------

using PortAdd = PortFixture;

TEST_F(PortAdd, UnknownPortTypeChangesNeitherRecordNorFile) {
    for (const std::uint16_t type : {0, 6, 0xFFFF}) {
        PortRecord in = unset_port("Port", type);
        std::memset(in.name, 'N', sizeof in.name);  // byte 64 not yet cut
        const PortRecord before = in;
        EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_ERR_BAD_PORT_TYPE) << type;
        EXPECT_EQ(std::memcmp(&in, &before, sizeof in), 0) << type;
    }
    EXPECT_FALSE(qdltest::file_exists(machine.default_file()));
}

TEST_F(PortAdd, ChangesOnlyTheNameCutThePortCutAndLimitedTimeouts) {
    PortRecord in = unset_port("Line", PORT_KWT_SERIAL);
    std::memcpy(in.port, "COM3", 4);  // bytes 98..101 still 0xCC: not terminated
    in.connect_timeout = 10;
    in.request_timeout = 70000;
    const PortRecord before = in;
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);
    const std::vector<std::size_t> expected = {64, 68, 72, 73, 74, 98};  // 70000 -> 63000
    EXPECT_EQ(changed_bytes(&before, &in, sizeof in), expected);
    EXPECT_EQ(in.name[64], '\0');
    EXPECT_EQ(in.port[4], '\0');
    EXPECT_EQ(in.connect_timeout, 50u);
    EXPECT_EQ(in.request_timeout, 63000u);
    EXPECT_EQ(entries("Line").front(), (std::pair<std::string, std::string>{"PORT", "COM3"}));
}

TEST_F(PortAdd, SecondAddOfTheSameNameIsRefusedWhateverTheCase) {
    PortRecord a = unset_port("Alpha", PORT_VME);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &a), QDL_OK);
    PortRecord b = unset_port("ALPHA", PORT_TCPIP_ETH);
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &b), QDL_ERR_EXISTS);
    EXPECT_EQ(entries("Alpha"), (Entries{{"TYPE", "VME_PORT"}}));
}

TEST_F(PortAdd, SectionWithoutTypeIsNoPortAndTakesTheAdd) {
    write_config("[Shared]\nKWT_ID=abc\n");
    PortRecord in = unset_port("Shared", PORT_TCPIP_SLIP);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);
    EXPECT_EQ(entries("Shared"), (Entries{{"KWT_ID", "abc"}, {"TYPE", "TCPIP_SLIP"}}));
}

TEST_F(PortAdd, NameMustBeginWithALetterAndNothingIsWritten) {
    for (const char* name : {"1port", " port", "_port", ""}) {
        PortRecord in = unset_port(name, PORT_TCPIP_ETH);
        EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_ERR_BAD_NAME) << name;
    }
    qdl::platform::set_code_page_for_tests(932);
    PortRecord in = unset_port("\x82\xA0port", PORT_TCPIP_ETH);
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_ERR_BAD_NAME);
    EXPECT_EQ(file().find("TYPE"), std::string::npos);
}

TEST_F(PortAdd, ExistingPortIsReportedBeforeABadName) {
    write_config("[9lives]\nTYPE=VME_PORT\n");
    PortRecord in = unset_port("9lives", PORT_VME);
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_ERR_EXISTS);
}

TEST_F(PortAdd, NameOfSixtyFiveLettersIsStoredUnderItsFirstSixtyFour) {
    PortRecord in = unset_port("x", PORT_VME);
    std::memset(in.name, 'L', sizeof in.name);  // 66 letters, no terminator at all
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);
    EXPECT_EQ(in.name[64], '\0');
    EXPECT_EQ(in.name[65], 'L');
    EXPECT_TRUE(qdltest::has_section(file(), std::string(64, 'L')));
    EXPECT_FALSE(qdltest::has_section(file(), std::string(65, 'L')));
}

TEST_F(PortAdd, SerialDeviceMustBeComOneToFourInUpperCase) {
    for (const char* port : {"COM5", "com1", "LPT1", "COM0", "COM", "C"}) {
        PortRecord in = unset_port("Serial", PORT_KWT_SERIAL);
        std::strcpy(in.port, port);
        EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_ERR_BAD_PORT_NAME) << port;
    }
    EXPECT_FALSE(qdltest::has_section(file(), "Serial"));
}

TEST_F(PortAdd, SerialDeviceIsCutAfterItsDigitAndEmptyWritesNoKey) {
    PortRecord in = unset_port("Cut", PORT_KWT_SERIAL);
    std::strcpy(in.port, "COM1X");
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);
    EXPECT_STREQ(in.port, "COM1");
    EXPECT_EQ(entries("Cut"), (Entries{{"PORT", "COM1"}, {"TYPE", "KWT_SERIAL"}}));

    PortRecord none = unset_port("NoDevice", PORT_KWT_SERIAL);
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &none), QDL_OK);
    EXPECT_EQ(entries("NoDevice"), (Entries{{"TYPE", "KWT_SERIAL"}}));
}

TEST_F(PortAdd, CurrentLibraryNeverWritesModemDial) {
    PortRecord in = unset_port("Dialer", PORT_KWT_SERIAL);
    std::strcpy(in.modem_dial, "ATDT123");
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);
    EXPECT_EQ(entries("Dialer"), (Entries{{"TYPE", "KWT_SERIAL"}}));
}

TEST_F(PortAdd, BadParityStopsAfterStopbitsAndLeavesAPartialPort) {
    PortRecord in = unset_port("Half", PORT_KWT_SERIAL);
    std::strcpy(in.port, "COM4");
    in.stopbits = 1;
    in.parity = 4;
    in.baudrate = 1200;
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_ERR_BAD_VALUE);
    EXPECT_EQ(entries("Half"),
              (Entries{{"PORT", "COM4"}, {"TYPE", "KWT_SERIAL"}, {"STOPBITS", "1"}}));
    in.parity = QDL_PARITY_ODD;
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_ERR_EXISTS);
}

TEST_F(PortAdd, BadMultisessStopsAfterTheTimersBeforeTheTimeouts) {
    PortRecord in = unset_port("Multi", PORT_KWT_SERIAL);
    in.kwt_t5pp = 9;
    in.multisess = 2;
    in.connect_timeout = 10;
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_ERR_BAD_VALUE);
    EXPECT_EQ(entries("Multi"), (Entries{{"TYPE", "KWT_SERIAL"}, {"KWT_T5PP", "9"}}));
    EXPECT_EQ(in.connect_timeout, 10u) << "the time-outs were not reached";
}

TEST_F(PortAdd, TimeoutsAreLimitedEachOnItsOwnValue) {
    struct Case {
        std::uint32_t given, stored;
    };
    const Case cases[] = {{10, 50},       {1, 50},         {49, 50},     {50, 50},
                          {0, 0},         {63000, 63000},  {63001, 63000}, {70000, 63000},
                          {0xFFFFFFFEu, 63000}};
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = 'T' + std::to_string(n++);
        PortRecord in = unset_port(name.c_str(), PORT_TCPIP_ETH);
        in.connect_timeout = 1000;
        in.request_timeout = c.given;
        ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);
        EXPECT_EQ(in.connect_timeout, 1000u);
        EXPECT_EQ(in.request_timeout, c.stored) << c.given;
        EXPECT_EQ(entries(name).back().second, std::to_string(c.stored)) << c.given;

        PortRecord swapped = unset_port(("S" + name).c_str(), PORT_TCPIP_ETH);
        swapped.connect_timeout = c.given;
        ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &swapped), QDL_OK);
        EXPECT_EQ(swapped.connect_timeout, c.stored) << c.given;
        EXPECT_EQ(swapped.request_timeout, QDL_UNSET32);
        EXPECT_EQ(entries("S" + name),
                  (Entries{{"TYPE", "TCPIP_ETH"}, {"CONNECT_TIMEOUT", std::to_string(c.stored)}}));
    }
}

TEST_F(PortAdd, BusPartNumberIsCutAtFourteenBytes) {
    PortRecord in = unset_port("Board", PORT_BXLN_BUS);
    std::memset(in.bxln_pn, 'P', sizeof in.bxln_pn);  // 15 bytes, no terminator
    const PortRecord before = in;
    ASSERT_EQ(QDL_Add_Record(RECORD_PORT, &in), QDL_OK);
    EXPECT_EQ(entries("Board"),
              (Entries{{"TYPE", "BXLN_BUS"}, {"BXLN_P/N", std::string(14, 'P')}}));
    EXPECT_EQ(changed_bytes(&before, &in, sizeof in), (std::vector<std::size_t>{64, 232}));
}

// ---- The reader ---------------------------------------------------------------------------

using PortGet = PortFixture;

// Neither read nor deleted: a missing section, one without TYPE, one whose TYPE reads as
// absent, and "" (no record has that name: the lines before the first header are no port).
TEST_F(PortGet, MissingPortLeavesTheRecordAndTheFileUntouched) {
    write_config("; site file, keep\nTYPE=KWT_SERIAL\nPORT=COM1\n"
                 "[Other]\nTYPE=VME_PORT\n[NoType]\nPORT=COM1\n[Marked]\nTYPE=?abc\n");
    const std::string before = file();
    for (const char* name : {"Missing", "NoType", "Marked", ""}) {
        PortRecordEx out;
        std::memset(&out, kFill, sizeof out);
        EXPECT_EQ(QDL_Get_Record(RECORD_PORT, name, &out.base), QDL_ERR_NOT_FOUND) << name;
        EXPECT_EQ(QDL_Get_Record_Ex(RECORD_PORT, name, &out), QDL_ERR_NOT_FOUND) << name;
        EXPECT_TRUE(all_fill(&out, 0, sizeof out)) << name;
        EXPECT_EQ(QDL_Delete_Record(RECORD_PORT, 0, name), QDL_ERR_NOT_FOUND) << name;
        EXPECT_EQ(file(), before) << name;
    }
}

TEST_F(PortGet, TypeWordsCompareWithCaseAndOldSerialWordIsAccepted) {
    write_config("[Old]\nTYPE=kbRT_KWT_SERIAL\n[Lower]\nTYPE=tcpip_eth\n[Spaced]\nTYPE=VME\n");
    PortRecord out = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Old", &out), QDL_OK);
    EXPECT_EQ(out.port_type, PORT_KWT_SERIAL);

    for (const char* name : {"Lower", "Spaced"}) {
        PortRecord bad = filled();
        EXPECT_EQ(QDL_Get_Record(RECORD_PORT, name, &bad), QDL_ERR_BAD_PORT_TYPE) << name;
        EXPECT_STREQ(bad.name, name);
        EXPECT_TRUE(all_fill(&bad, offsetof(PortRecord, port_type), sizeof bad)) << name;
    }
}

TEST_F(PortGet, SerialTextsAreCutToTheirCharacterLimits) {
    write_config("[A]\nTYPE=KWT_SERIAL\nPORT=COM10\nMODEM_DIAL=" + std::string(40, 'd') +
                 "\n[B]\nTYPE=KWT_SERIAL\nPORT=COMPORT1\n");
    PortRecord a = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "A", &a), QDL_OK);
    EXPECT_STREQ(a.port, "COM10");
    EXPECT_EQ(std::string(a.modem_dial), std::string(32, 'd'));
    PortRecord b = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "B", &b), QDL_OK);
    EXPECT_STREQ(b.port, "COMPOR");
}

TEST_F(PortGet, UnexpectedTextsReadAsUnsetOrAsNumbers) {
    write_config(
        "[Junk]\nTYPE=KWT_SERIAL\nPARITY=odd\nMULTISESS=yes\nSTOPBITS=abc\nBAUDRATE=\n"
        "KWT_T1=12abc\nKWT_T2=\nKWT_T3=-2\nKWT_T4=?7\nCONNECT_TIMEOUT= 42\n"
        "\x01\x02\xFE\xFF junk line\n=\n[\n");
    PortRecord out = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Junk", &out), QDL_OK);
    EXPECT_EQ(out.parity, QDL_UNSET16);
    EXPECT_EQ(out.multisess, QDL_UNSET16);
    EXPECT_EQ(out.stopbits, 0);
    EXPECT_EQ(out.baudrate, QDL_UNSET16);
    EXPECT_EQ(out.kwt_t1, 12u);
    EXPECT_EQ(out.kwt_t2, 0u) << "a present empty value is not absent";
    EXPECT_EQ(out.kwt_t3, 0xFFFFFFFEu);
    EXPECT_EQ(out.kwt_t4, QDL_UNSET32) << "a value beginning with ? reads as absent";
    EXPECT_EQ(out.connect_timeout, 42u);
}

TEST_F(PortGet, HexFieldsReadDigitPairsOfEitherCaseAndJunkAsZero) {
    write_config(
        "[Hex]\nTYPE=BXLN_BUS\nBXLN_CONTROL=abcd\nBXLN_PORT=ZZ12\nBXLN_ADDR=0102\n"
        "[Short]\nTYPE=BXLN_BUS\nBXLN_CONTROL=1\nBXLN_PORT=\nBXLN_ADDR=FFFFFFFFFF\n");
    PortRecord out = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Hex", &out), QDL_OK);
    EXPECT_EQ(out.bxln_control[1], 0xAB);
    EXPECT_EQ(out.bxln_control[0], 0xCD);
    EXPECT_EQ(out.bxln_port[1], 0x00);
    EXPECT_EQ(out.bxln_port[0], 0x12);
    // A value shorter than its digits reads the missing positions as 0.
    const std::uint8_t addr[4] = {0x00, 0x00, 0x02, 0x01};
    EXPECT_EQ(std::memcmp(out.bxln_addr, addr, 4), 0);

    PortRecord s = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Short", &s), QDL_OK);
    EXPECT_EQ(s.bxln_control[1], 0x10);
    EXPECT_EQ(s.bxln_control[0], 0x00);
    EXPECT_EQ(s.bxln_port[0] | s.bxln_port[1], 0x00);
    EXPECT_EQ(s.bxln_addr[0] & s.bxln_addr[1] & s.bxln_addr[2] & s.bxln_addr[3], 0xFF);
}

TEST_F(PortGet, LongPartNumberIsCutToFourteenBytes) {
    write_config("[Board]\nTYPE=BXLN_BUS\nBXLN_P/N=" + std::string(30, 'p') + "\n");
    PortRecord out = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, "Board", &out), QDL_OK);
    EXPECT_EQ(std::string(out.bxln_pn), std::string(14, 'p'));
    EXPECT_EQ(out.reserved1, kFill);
}

TEST_F(PortGet, NameArgumentMayBeTheRecordsOwnNameField) {
    write_config("[Line]\nTYPE=TCPIP_SLIP\n");
    PortRecord out = filled();
    std::strcpy(out.name, "Line");
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, out.name, &out), QDL_OK);
    EXPECT_STREQ(out.name, "Line");
    EXPECT_EQ(out.port_type, PORT_TCPIP_SLIP);
}

TEST_F(PortGet, LongNameArgumentIsCutToSixtyFiveBytesInTheRecord) {
    const std::string name(70, 'n');
    write_config("[" + name + "]\nTYPE=VME_PORT\n");
    PortRecord out = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, name.c_str(), &out), QDL_OK);
    EXPECT_EQ(std::string(out.name), std::string(65, 'n'));
    EXPECT_EQ(out.port_type, PORT_VME);
}

TEST_F(PortGet, DoubleByteTextsAreCutAtCharacterBoundariesWithinTheirFields) {
    qdl::platform::set_code_page_for_tests(932);
    std::string wide;
    for (int i = 0; i < 40; ++i) wide += "\x82\xA0";
    const std::string name = "A" + wide;  // 81 bytes
    write_config("[" + name + "]\nTYPE=KWT_SERIAL\nPORT=" + wide.substr(0, 12) + "\n");
    PortRecord out = filled();
    ASSERT_EQ(QDL_Get_Record(RECORD_PORT, name.c_str(), &out), QDL_OK);
    EXPECT_EQ(std::string(out.name), name.substr(0, 65));  // 'A' and 32 whole characters
    EXPECT_EQ(out.port_type, PORT_KWT_SERIAL);
    // Six double-byte characters do not fit the 8-byte field: three do, with the NUL.
    EXPECT_EQ(std::string(out.port), wide.substr(0, 6));
    EXPECT_EQ(out.port[7], static_cast<char>(kFill));
}

// ---- Delete -------------------------------------------------------------------------------

using PortDelete = PortFixture;

TEST_F(PortDelete, PortThatWasNeverAddedIsNotFound) {
    write_config("[Dev]\nKWT_ID=x\n");
    EXPECT_EQ(QDL_Delete_Record(RECORD_PORT, 0, "Nothing"), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(QDL_Delete_Record(RECORD_PORT, 0, "Dev"), QDL_ERR_NOT_FOUND);
    EXPECT_TRUE(qdltest::has_section(file(), "Dev"));
}

TEST_F(PortDelete, WholeSectionGoesWithEveryKeyAndOthersStay) {
    write_config("; kept comment\n[Keep]\nTYPE=VME_PORT\n");
    PortRecordEx in;
    in.base = unset_port("Gone", PORT_TCPIP_ETH);
    std::strcpy(in.modem_recordname, "Modem9");
    ASSERT_EQ(QDL_Add_Record_Ex(RECORD_PORT, &in), QDL_OK);
    ASSERT_TRUE(qdltest::has_section(file(), "Gone"));

    EXPECT_EQ(QDL_Delete_Record(RECORD_PORT, 0, "GONE"), QDL_OK);
    EXPECT_FALSE(qdltest::has_section(file(), "Gone"));
    EXPECT_EQ(file().find("Modem9"), std::string::npos);
    EXPECT_EQ(entries("Keep"), (Entries{{"TYPE", "VME_PORT"}}));
    EXPECT_NE(file().find("; kept comment"), std::string::npos);
    PortRecord out = filled();
    EXPECT_EQ(QDL_Get_Record(RECORD_PORT, "Gone", &out), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(QDL_Delete_Record(RECORD_PORT, 0, "Gone"), QDL_ERR_NOT_FOUND);
}

// ---- Extension: MODEM_RECORDNAME ---------------------------------------------------------

using PortExtension = PortFixture;

TEST_F(PortExtension, ModemRecordNameIsStoredForEveryPortType) {
    for (std::uint16_t type = PORT_KWT_SERIAL; type <= PORT_BXLN_BUS; ++type) {
        const std::string name = "Ext" + std::to_string(type);
        PortRecordEx in;
        in.base = unset_port(name.c_str(), type);
        std::strcpy(in.modem_recordname, "Hayes");
        ASSERT_EQ(QDL_Add_Record_Ex(RECORD_PORT, &in), QDL_OK) << type;
        EXPECT_EQ(entries(name).back(),
                  (std::pair<std::string, std::string>{"MODEM_RECORDNAME", "Hayes"}));

        PortRecordEx out;
        std::memset(&out, kFill, sizeof out);
        ASSERT_EQ(QDL_Get_Record_Ex(RECORD_PORT, name.c_str(), &out), QDL_OK) << type;
        EXPECT_EQ(out.base.port_type, type);
        EXPECT_STREQ(out.modem_recordname, "Hayes");
    }
}

TEST_F(PortExtension, EmptyNameWritesNoKeyAndAbsentKeyReadsEmpty) {
    PortRecordEx in;
    in.base = unset_port("Plain", PORT_VME);
    std::memset(in.modem_recordname, kFill, sizeof in.modem_recordname);
    in.modem_recordname[0] = '\0';
    ASSERT_EQ(QDL_Add_Record_Ex(RECORD_PORT, &in), QDL_OK);
    EXPECT_EQ(entries("Plain"), (Entries{{"TYPE", "VME_PORT"}}));

    PortRecordEx out;
    std::memset(&out, kFill, sizeof out);
    ASSERT_EQ(QDL_Get_Record_Ex(RECORD_PORT, "Plain", &out), QDL_OK);
    EXPECT_EQ(out.modem_recordname[0], '\0');
}

TEST_F(PortExtension, FailedPlainAddWritesNoExtension) {
    PortRecordEx in;
    in.base = unset_port("Fails", PORT_KWT_SERIAL);
    in.base.parity = 9;
    std::strcpy(in.modem_recordname, "Hayes");
    EXPECT_EQ(QDL_Add_Record_Ex(RECORD_PORT, &in), QDL_ERR_BAD_VALUE);
    EXPECT_EQ(entries("Fails"), (Entries{{"TYPE", "KWT_SERIAL"}}));
}

TEST_F(PortExtension, UnterminatedNameIsWrittenAsItsFirstSixtyFiveBytes) {
    // The record lies in a larger buffer whose bytes after it must never be read.
    struct {
        PortRecordEx record;
        char after[16];
    } buffer;
    buffer.record.base = unset_port("Long", PORT_TCPIP_ETH);
    std::memset(buffer.record.modem_recordname, 'm', sizeof buffer.record.modem_recordname);
    std::memset(buffer.after, 'Z', sizeof buffer.after);
    ASSERT_EQ(QDL_Add_Record_Ex(RECORD_PORT, &buffer.record), QDL_OK);
    EXPECT_EQ(entries("Long").back().second, std::string(65, 'm'));
    EXPECT_EQ(buffer.record.modem_recordname[65], 'm') << "no NUL is stored into the field";

    PortRecordEx out;
    std::memset(&out, kFill, sizeof out);
    ASSERT_EQ(QDL_Get_Record_Ex(RECORD_PORT, "Long", &out), QDL_OK);
    EXPECT_EQ(std::string(out.modem_recordname), std::string(65, 'm'));
}

TEST_F(PortExtension, LongStoredNameReadsAsSixtyFiveBytes) {
    write_config("[P]\nTYPE=VME_PORT\nMODEM_RECORDNAME=" + std::string(90, 'r') + "\n");
    PortRecordEx out;
    std::memset(&out, kFill, sizeof out);
    ASSERT_EQ(QDL_Get_Record_Ex(RECORD_PORT, "P", &out), QDL_OK);
    EXPECT_EQ(std::string(out.modem_recordname), std::string(65, 'r'));
}

}  // namespace
