// device_test.cpp - device records: adds by address kind, gets with their bounded copies,
// deletes with the section-removal rule, and the extension keys.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/config_file.h"
#include "support/records.h"
#include "tskqdl32.h"

namespace {

using namespace qdltest;  // support/config_file.h, support/records.h

DeviceRecord device(const char* name, std::uint16_t address_kind) {
    DeviceRecord r;
    std::memset(&r, 0, sizeof r);
    set(r.name, name);
    r.address_kind = address_kind;
    r.bxln_busadr = 0xFFFF;
    std::memset(r.dest_addr, 0xFF, sizeof r.dest_addr);
    return r;
}

DeviceRecordEx device_ex(const char* name, std::uint16_t address_kind) {
    DeviceRecordEx r;
    std::memset(&r, 0, sizeof r);
    r.base = device(name, address_kind);
    return r;
}

}  // namespace

// ---- Adding, one address kind at a time ---------------------------------------------------

TEST(DeviceAdd, KwtIdRoundTrips) {
    qdltest::Machine m;
    DeviceRecord r = device("Press1", ADDRESS_KWT_ID);
    set(r.kwt_id, "K17");
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Press1]\nKWT_ID=K17\n");

    DeviceRecord got = device("", 0);
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Press1", &got), QDL_OK);
    EXPECT_STREQ(got.name, "Press1");
    EXPECT_STREQ(got.kwt_id, "K17");
    EXPECT_EQ(got.bxln_busadr, 0xFFFF);
    for (std::uint8_t b : got.dest_addr) EXPECT_EQ(b, 0xFF);
    EXPECT_STREQ(got.ip_addr, "");
    EXPECT_STREQ(got.default_port, "");
    EXPECT_STREQ(got.device_model, "");
}

TEST(DeviceAdd, IpAddrOfEthernetAndSlipShareOneKey) {
    qdltest::Machine m;
    DeviceRecord eth = device("Eth", ADDRESS_TCPIP_ETH);
    set(eth.ip_addr, "10.0.0.7");
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &eth), QDL_OK);
    DeviceRecord slip = device("Slip", ADDRESS_TCPIP_SLIP);  // empty: written as an empty value
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &slip), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Eth]\nIP_ADDR=10.0.0.7\n[Slip]\nIP_ADDR=\n");

    DeviceRecord got = device("", 0);
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Eth", &got), QDL_OK);
    EXPECT_STREQ(got.ip_addr, "10.0.0.7");
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Slip", &got), QDL_OK);
    EXPECT_STREQ(got.ip_addr, "");

    // The SLIP add made the key; an Ethernet add to the same device finds it.
    DeviceRecord again = device("Slip", ADDRESS_TCPIP_ETH);
    set(again.ip_addr, "10.0.0.8");
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &again), QDL_ERR_EXISTS);
}

TEST(DeviceAdd, DestAddrIsWrittenHighestByteFirstAndReadBack) {
    qdltest::Machine m;
    DeviceRecord r = device("Vme", ADDRESS_VME);
    const std::uint8_t bytes[4] = {0x01, 0x02, 0x03, 0x04};
    std::memcpy(r.dest_addr, bytes, 4);
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Vme]\nDEST_ADDR=04030201\n");

    DeviceRecord got = device("", 0);
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Vme", &got), QDL_OK);
    EXPECT_EQ(std::memcmp(got.dest_addr, bytes, 4), 0);
}

TEST(DeviceAdd, UnsetDestAddrIsWrittenByItsOwnKindOnly) {
    qdltest::Machine m;
    DeviceRecord own = device("Vme", ADDRESS_VME);
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &own), QDL_OK);
    DeviceRecord all = device("All", ADDRESS_ALL);
    set(all.kwt_id, "K1");
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &all), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Vme]\nDEST_ADDR=FFFFFFFF\n[All]\nKWT_ID=K1\n");
}

TEST(DeviceAdd, BusAddressRoundTripsAndUnsetWritesNothing) {
    qdltest::Machine m;
    DeviceRecord unset = device("Bus0", ADDRESS_BXLN_BUS);
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &unset), QDL_OK);
    EXPECT_FALSE(qdltest::file_exists(m.default_file()));

    DeviceRecord r = device("Bus1", ADDRESS_BXLN_BUS);
    r.bxln_busadr = 65534;
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Bus1]\nBXLN_BUSADR=65534\n");
    DeviceRecord got = device("", 0);
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Bus1", &got), QDL_OK);
    EXPECT_EQ(got.bxln_busadr, 65534);
}

TEST(DeviceAdd, AllWritesEverySetFieldInOrderAndRoundTrips) {
    qdltest::Machine m;
    DeviceRecord r = device("Robot", ADDRESS_ALL);
    r.bxln_busadr = 12;
    set(r.kwt_id, "7A");
    set(r.ip_addr, "192.168.1.20");
    const std::uint8_t bytes[4] = {0x78, 0x56, 0x34, 0x12};
    std::memcpy(r.dest_addr, bytes, 4);
    set(r.default_port, "Line2");
    set(r.device_model, "RX-90");
    r.reserved0[0] = 0x11;
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_OK);
    EXPECT_EQ(ini_text(m),
              "[Robot]\nBXLN_BUSADR=12\nKWT_ID=7A\nIP_ADDR=192.168.1.20\nDEST_ADDR=12345678\n"
              "DEFAULT_PORT=Line2\nDEVICE_MODEL=RX-90\n");

    DeviceRecord got = device("", 0);
    got.address_kind = 0x4242;
    got.reserved0[0] = 0x5A;
    got.reserved0[1] = 0x5B;
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Robot", &got), QDL_OK);
    EXPECT_STREQ(got.name, "Robot");
    EXPECT_EQ(got.bxln_busadr, 12);
    EXPECT_STREQ(got.kwt_id, "7A");
    EXPECT_STREQ(got.ip_addr, "192.168.1.20");
    EXPECT_EQ(std::memcmp(got.dest_addr, bytes, 4), 0);
    EXPECT_STREQ(got.default_port, "Line2");
    EXPECT_STREQ(got.device_model, "RX-90");
    // Neither stored nor read: the caller's bytes stay.
    EXPECT_EQ(got.address_kind, 0x4242);
    EXPECT_EQ(got.reserved0[0], 0x5A);
    EXPECT_EQ(got.reserved0[1], 0x5B);
}

// ---- KWT id rule -----------------------------------------------------------------------

TEST(DeviceAdd, KwtIdMustBeginWithLetterOrDigitOrBeTheNullWord) {
    qdltest::Machine m;
    DeviceRecord null_word = device("A", ADDRESS_KWT_ID);
    set(null_word.kwt_id, "<NULL>");
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &null_word), QDL_OK);
    DeviceRecord got = device("", 0);
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "A", &got), QDL_OK);
    EXPECT_STREQ(got.kwt_id, "<NULL>");

    for (const char* bad : {"-12", "<null>", "<NULL>x", " K1"}) {
        DeviceRecord r = device("B", ADDRESS_KWT_ID);
        set(r.kwt_id, bad);
        EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_ERR_BAD_KWT_ID) << bad;
    }
    EXPECT_EQ(ini_text(m), "[A]\nKWT_ID=<NULL>\n");
}

TEST(DeviceAdd, EmptyKwtIdWritesNothingYetCutsTheField) {
    qdltest::Machine m;
    DeviceRecord r = device("Quiet", ADDRESS_KWT_ID);
    r.kwt_id[14] = 'Z';
    r.kwt_id[15] = 'Y';
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_OK);
    EXPECT_EQ(r.kwt_id[14], '\0');
    EXPECT_EQ(r.kwt_id[15], 'Y');
    EXPECT_EQ(ini_text(m), "");
    DeviceRecord got = device("", 0);
    EXPECT_EQ(QDL_Get_Record(RECORD_DEVICE, "Quiet", &got), QDL_ERR_NOT_FOUND);
}

// ---- Checks and their order --------------------------------------------------------------

TEST(DeviceAdd, AddressKindOutsideOneToSixLeavesTheRecordUntouched) {
    qdltest::Machine m;
    for (std::uint16_t kind : {0, 7, 0xFFFF}) {
        DeviceRecord r = device("", kind);
        std::memset(r.name, 'N', sizeof r.name);  // byte 64 would be cut by a name check
        set(r.kwt_id, "K1");
        DeviceRecord before = r;
        EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_ERR_BAD_ADDRESS_KIND) << kind;
        EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0) << kind;
    }
    EXPECT_EQ(ini_text(m), "");
}

TEST(DeviceAdd, KindArgumentIsTakenByItsLowSixteenBits) {
    qdltest::Machine m;
    DeviceRecord r = device("Wide", ADDRESS_KWT_ID);
    set(r.kwt_id, "K9");
    ASSERT_EQ(QDL_Add_Record(0x10000 | RECORD_DEVICE, &r), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Wide]\nKWT_ID=K9\n");
    ASSERT_EQ(QDL_Delete_Record(RECORD_DEVICE, 0x30000 | ADDRESS_KWT_ID, "Wide"), QDL_OK);
    EXPECT_EQ(ini_text(m), "");
}

TEST(DeviceAdd, UnterminatedNameIsStoredUnderItsFirst64Letters) {
    qdltest::Machine m;
    DeviceRecord r = device("", ADDRESS_KWT_ID);
    std::memset(r.name, 'D', sizeof r.name);
    set(r.kwt_id, "K1");
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_OK);
    EXPECT_EQ(r.name[64], '\0');
    EXPECT_EQ(r.name[65], 'D');
    EXPECT_EQ(ini_text(m), "[" + std::string(64, 'D') + "]\nKWT_ID=K1\n");
}

TEST(DeviceAdd, NameNotBeginningWithALetterIsRefusedAfterTheProbe) {
    qdltest::Machine m;
    CodePage932 cp;
    for (const std::string& name : {std::string("1st"), std::string(" sp"), kHiragana + "x"}) {
        DeviceRecord r = device("", ADDRESS_KWT_ID);
        std::memset(r.name, 'x', sizeof r.name);
        std::memcpy(r.name, name.data(), name.size());
        set(r.kwt_id, "K1");
        EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_ERR_BAD_NAME) << name;
        EXPECT_EQ(r.name[64], '\0') << name;
    }
    EXPECT_EQ(ini_text(m), "");

    // The probe runs first: an existing KWT_ID under a bad name gives -4, not -8.
    write_ini(m, "[1st]\nKWT_ID=K1\n");
    DeviceRecord r = device("1st", ADDRESS_KWT_ID);
    set(r.kwt_id, "K2");
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_ERR_EXISTS);
}

TEST(DeviceAdd, EachAddressKeyIsAddedOnceAndBusOrAllNeedAnEmptySection) {
    qdltest::Machine m;
    DeviceRecord slip = device("Dev", ADDRESS_TCPIP_SLIP);
    set(slip.ip_addr, "10.1.1.1");
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &slip), QDL_OK);

    DeviceRecord kwt = device("Dev", ADDRESS_KWT_ID);
    set(kwt.kwt_id, "K5");
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &kwt), QDL_OK);
    DeviceRecord vme = device("Dev", ADDRESS_VME);
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &vme), QDL_OK);
    const std::string file = ini_text(m);
    EXPECT_EQ(file, "[Dev]\nIP_ADDR=10.1.1.1\nKWT_ID=K5\nDEST_ADDR=FFFFFFFF\n");

    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &kwt), QDL_ERR_EXISTS);
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &vme), QDL_ERR_EXISTS);
    DeviceRecord bus = device("Dev", ADDRESS_BXLN_BUS);
    bus.bxln_busadr = 3;
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &bus), QDL_ERR_EXISTS);
    DeviceRecord all = device("Dev", ADDRESS_ALL);
    all.bxln_busadr = 3;
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &all), QDL_ERR_EXISTS);
    EXPECT_EQ(ini_text(m), file);

    // Any key at all counts for bus and all, a port's keys included.
    write_ini(m, "[Line]\nTYPE=VME_PORT\n");
    bus = device("Line", ADDRESS_BXLN_BUS);
    bus.bxln_busadr = 3;
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &bus), QDL_ERR_EXISTS);
}

TEST(DeviceAdd, AllStopsAtABadKwtIdWithTheBusAddressAlreadyStored) {
    qdltest::Machine m;
    DeviceRecord r = device("Half", ADDRESS_ALL);
    r.bxln_busadr = 4;
    set(r.kwt_id, "#4");
    set(r.ip_addr, "10.0.0.1");
    set(r.device_model, "M");
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_ERR_BAD_KWT_ID);
    EXPECT_EQ(ini_text(m), "[Half]\nBXLN_BUSADR=4\n");
}

TEST(DeviceAdd, AllStopsAtABadDefaultPortWithTheAddressesAlreadyStored) {
    qdltest::Machine m;
    DeviceRecord r = device("Half", ADDRESS_ALL);
    r.bxln_busadr = 4;
    set(r.kwt_id, "K4");
    set(r.ip_addr, "10.0.0.1");
    r.dest_addr[0] = 0x10;
    std::memset(r.default_port, '9', sizeof r.default_port);
    std::memset(r.device_model, 'M', sizeof r.device_model);
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_ERR_BAD_DEFAULT_PORT);
    EXPECT_EQ(ini_text(m),
              "[Half]\nBXLN_BUSADR=4\nKWT_ID=K4\nIP_ADDR=10.0.0.1\nDEST_ADDR=FFFFFF10\n");
    EXPECT_EQ(r.default_port[64], '\0');
    EXPECT_EQ(r.device_model[32], 'M');  // the model was never reached
}

TEST(DeviceAdd, AllCutsUnterminatedTextsInsideTheirFields) {
    qdltest::Machine m;
    Guarded<DeviceRecord> g;
    DeviceRecord& r = g.record;
    r = device("Full", ADDRESS_ALL);
    std::memset(r.kwt_id, 'k', sizeof r.kwt_id);
    std::memset(r.ip_addr, '1', sizeof r.ip_addr);
    std::memset(r.default_port, 'p', sizeof r.default_port);
    std::memset(r.device_model, 'm', sizeof r.device_model);
    ASSERT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_OK);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(ini_text(m), "[Full]\nKWT_ID=" + std::string(14, 'k') + "\nIP_ADDR=" +
                               std::string(32, '1') + "\nDEFAULT_PORT=" + std::string(64, 'p') +
                               "\nDEVICE_MODEL=" + std::string(32, 'm') + "\n");
    EXPECT_EQ(r.kwt_id[14], '\0');
    EXPECT_EQ(r.ip_addr[32], '\0');
    EXPECT_EQ(r.default_port[64], '\0');
    EXPECT_EQ(r.device_model[32], '\0');
    EXPECT_EQ(r.kwt_id[15], 'k');
    EXPECT_EQ(r.ip_addr[33], '1');
    EXPECT_EQ(r.default_port[65], 'p');
    EXPECT_EQ(r.device_model[33], 'm');
}

TEST(DeviceAdd, AFailedWriteIsReportedAsAFileError) {
    qdltest::Machine m;
    const std::string blocker = m.scratch_dir() + "/plain-file";
    qdltest::write_file(blocker, "x");
    m.set_registry_path(blocker + "/cfg.ini");  // its directory can never exist
    DeviceRecord r = device("Dev", ADDRESS_KWT_ID);
    set(r.kwt_id, "K1");
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &r), QDL_ERR_FILE);
    DeviceRecordEx ex = device_ex("Dev", ADDRESS_BXLN_BUS);  // the add writes nothing
    set(ex.modem_recordname, "Modem1");
    EXPECT_EQ(QDL_Add_Record_Ex(RECORD_DEVICE, &ex), QDL_ERR_FILE);
}

// ---- Reading -------------------------------------------------------------------------------

// "" names no device: the keys before the first header are never read or deleted as one.
TEST(DeviceGet, MissingDeviceLeavesTheRecordAndTheFileUntouched) {
    qdltest::Machine m;
    write_ini(m, "; site file, keep\nTYPE=KWT_SERIAL\nPORT=COM1\n[Other]\nKWT_ID=K1\n[Empty]\n");
    const std::string before = config_text(m);
    for (const char* name : {"Nobody", "Empty", ""}) {
        DeviceRecordEx r;
        std::memset(&r, 0xA5, sizeof r);
        EXPECT_EQ(QDL_Get_Record(RECORD_DEVICE, name, &r.base), QDL_ERR_NOT_FOUND) << name;
        EXPECT_EQ(QDL_Get_Record_Ex(RECORD_DEVICE, name, &r), QDL_ERR_NOT_FOUND) << name;
        for (std::size_t i = 0; i < sizeof r; ++i) {
            ASSERT_EQ(reinterpret_cast<unsigned char*>(&r)[i], 0xA5) << name << " byte " << i;
        }
        for (const int kind : {ADDRESS_KWT_ID, ADDRESS_BXLN_BUS, ADDRESS_ALL}) {
            EXPECT_EQ(QDL_Delete_Record(RECORD_DEVICE, kind, name), QDL_ERR_NOT_FOUND) << name;
        }
        EXPECT_EQ(config_text(m), before) << name;
    }
}

TEST(DeviceGet, ASectionWithOnlyPortKeysReadsAsAnEmptyDevice) {
    qdltest::Machine m;
    write_ini(m, "[Line1]\nTYPE=KWT_SERIAL\nPORT=COM1\nBAUDRATE=9600\n");
    DeviceRecord r;
    std::memset(&r, 0xA5, sizeof r);
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Line1", &r), QDL_OK);
    EXPECT_STREQ(r.name, "Line1");
    EXPECT_EQ(r.bxln_busadr, 0xFFFF);
    for (std::uint8_t b : r.dest_addr) EXPECT_EQ(b, 0xFF);
    EXPECT_STREQ(r.ip_addr, "");
    EXPECT_STREQ(r.kwt_id, "");
    EXPECT_STREQ(r.default_port, "");
    EXPECT_STREQ(r.device_model, "");
}

TEST(DeviceGet, EachAddressKeyMakesADeviceWhateverTheKeyList) {
    qdltest::Machine m;
    // The key list begins with '?', which the any-key probe reads as absent; KWT_ID still counts.
    write_ini(m, "[Odd]\n?x=1\nKWT_ID=K3\n[Marked]\nKWT_ID=?k\n");
    DeviceRecord r = device("", 0);
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Odd", &r), QDL_OK);
    EXPECT_STREQ(r.kwt_id, "K3");
    // A value beginning with '?' is absent, but the section has a key: a device with no id.
    set(r.kwt_id, "stale");
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Marked", &r), QDL_OK);
    EXPECT_STREQ(r.kwt_id, "");
}

TEST(DeviceGet, DestAddrDigitsFillTheBytesFromTheHighestDown) {
    qdltest::Machine m;
    write_ini(m,
              "[Lower]\nDEST_ADDR=0a0b0c0d\n[Junk]\nDEST_ADDR=zz01020399\n"
              "[Short]\nDEST_ADDR=123\n[Empty]\nDEST_ADDR=\n");
    struct Row {
        const char* name;
        std::uint8_t bytes[4];  // bytes 70 to 73
    } rows[] = {
        {"Lower", {0x0D, 0x0C, 0x0B, 0x0A}},
        {"Junk", {0x03, 0x02, 0x01, 0x00}},   // a non-hex pair is 0; digits past 8 ignored
        {"Short", {0x00, 0x00, 0x30, 0x12}},  // missing digits count as 0
        {"Empty", {0x00, 0x00, 0x00, 0x00}},  // present, so not unset
    };
    for (const Row& row : rows) {
        DeviceRecord r = device("", 0);
        std::memset(r.dest_addr, 0x77, 4);
        ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, row.name, &r), QDL_OK) << row.name;
        EXPECT_EQ(std::memcmp(r.dest_addr, row.bytes, 4), 0) << row.name;
    }
}

TEST(DeviceGet, LongValuesAreCutToTheirFieldLimits) {
    qdltest::Machine m;
    write_ini(m, "[Long]\nKWT_ID=ABCDEFGHIJ\nIP_ADDR=" + std::string(40, '9') +
                     "\nDEFAULT_PORT=" + std::string(40, 'P') + "\nDEVICE_MODEL=" +
                     std::string(20, 'M') + "\nBXLN_BUSADR=70000\n");
    Guarded<DeviceRecord> g;
    DeviceRecord& r = g.record;
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Long", &r), QDL_OK);
    EXPECT_TRUE(g.intact());
    EXPECT_STREQ(r.kwt_id, "ABCDEFG");
    EXPECT_EQ(std::string(r.ip_addr), std::string(32, '9'));
    EXPECT_EQ(std::string(r.default_port), std::string(32, 'P'));
    EXPECT_EQ(std::string(r.device_model), std::string(16, 'M'));
    EXPECT_EQ(r.bxln_busadr, 70000 & 0xFFFF);
}

TEST(DeviceGet, DoubleByteTextsAreCopiedAsWholeCharacters) {
    qdltest::Machine m;
    CodePage932 cp;
    write_ini(m, "[Dbcs]\nKWT_ID=A" + repeat(kHiragana, 9) + "\nDEVICE_MODEL=" +
                     repeat(kHiragana, 20) + "\nDEFAULT_PORT=P" + repeat(kHiragana, 32) +
                     "\nIP_ADDR=" + std::string(31, '1') + kHiragana + "\n");
    Guarded<DeviceRecord> g;
    DeviceRecord& r = g.record;
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, "Dbcs", &r), QDL_OK);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(std::string(r.kwt_id), 'A' + repeat(kHiragana, 6));             // 7 characters
    EXPECT_EQ(std::string(r.device_model), repeat(kHiragana, 16));            // 16 characters
    EXPECT_EQ(std::string(r.default_port), 'P' + repeat(kHiragana, 31));      // 32 characters
    // IP_ADDR is cut byte by byte: the lead byte of the last character stays alone.
    EXPECT_EQ(std::string(r.ip_addr), std::string(31, '1') + "\x82");
}

TEST(DeviceGet, ALongNameArgumentIsCutToTheNameField) {
    qdltest::Machine m;
    const std::string longname(70, 'L');
    write_ini(m, "[" + longname + "]\nKWT_ID=K1\n");
    Guarded<DeviceRecord> g;
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, longname.c_str(), &g.record), QDL_OK);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(std::string(g.record.name), std::string(65, 'L'));
    EXPECT_STREQ(g.record.kwt_id, "K1");

    // A double-byte character that would reach byte 65 is left out whole.
    CodePage932 cp;
    const std::string dbname = std::string(64, 'A') + kHiragana;
    write_ini(m, "[" + dbname + "]\nKWT_ID=K2\n");
    Guarded<DeviceRecord> h;
    ASSERT_EQ(QDL_Get_Record(RECORD_DEVICE, dbname.c_str(), &h.record), QDL_OK);
    EXPECT_TRUE(h.intact());
    EXPECT_EQ(std::string(h.record.name), std::string(64, 'A'));
}

// ---- Deleting ------------------------------------------------------------------------------

TEST(DeviceDelete, TheSectionGoesWithTheLastAddressKey) {
    qdltest::Machine m;
    write_ini(m,
              "[Dev]\nKWT_ID=K1\nIP_ADDR=10.0.0.1\nDEFAULT_PORT=Line\nDEVICE_MODEL=M\n"
              "BXLN_BUSADR=5\nMODEM_RECORDNAME=Mo\n[Keep]\nKWT_ID=K2\n");
    ASSERT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_KWT_ID, "Dev"), QDL_OK);
    EXPECT_EQ(ini_text(m),
              "[Dev]\nIP_ADDR=10.0.0.1\nDEFAULT_PORT=Line\nDEVICE_MODEL=M\nBXLN_BUSADR=5\n"
              "MODEM_RECORDNAME=Mo\n[Keep]\nKWT_ID=K2\n");
    EXPECT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_KWT_ID, "Dev"), QDL_ERR_NOT_FOUND);
    ASSERT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_TCPIP_SLIP, "Dev"), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Keep]\nKWT_ID=K2\n");
}

TEST(DeviceDelete, DestAddrAloneKeepsTheSection) {
    qdltest::Machine m;
    write_ini(m, "[Dev]\nIP_ADDR=1.2.3.4\nDEST_ADDR=00000001\n");
    ASSERT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_TCPIP_ETH, "Dev"), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Dev]\nDEST_ADDR=00000001\n");
    ASSERT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_VME, "Dev"), QDL_OK);
    EXPECT_EQ(ini_text(m), "");
}

TEST(DeviceDelete, BusAddressKindDeletesNoKeyButAppliesTheRemovalRule) {
    qdltest::Machine m;
    write_ini(m, "[WithId]\nKWT_ID=K1\nBXLN_BUSADR=5\n[BusOnly]\nBXLN_BUSADR=6\nASSOC_DEVICE=X\n");
    ASSERT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_BXLN_BUS, "WithId"), QDL_OK);
    EXPECT_EQ(ini_text(m),
              "[WithId]\nKWT_ID=K1\nBXLN_BUSADR=5\n[BusOnly]\nBXLN_BUSADR=6\nASSOC_DEVICE=X\n");
    ASSERT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_BXLN_BUS, "BusOnly"), QDL_OK);
    EXPECT_EQ(ini_text(m), "[WithId]\nKWT_ID=K1\nBXLN_BUSADR=5\n");
}

TEST(DeviceDelete, AllRemovesTheWholeSectionAtOnce) {
    qdltest::Machine m;
    write_ini(m, "[Dev]\nKWT_ID=K1\nIP_ADDR=1.2.3.4\nDEST_ADDR=00000001\n[Keep]\nKWT_ID=K2\n");
    ASSERT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_ALL, "Dev"), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Keep]\nKWT_ID=K2\n");
}

TEST(DeviceDelete, AnAbsentKeyIsNotFound) {
    qdltest::Machine m;
    EXPECT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_KWT_ID, "Nobody"), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_ALL, "Nobody"), QDL_ERR_NOT_FOUND);
    write_ini(m, "[Dev]\nKWT_ID=K1\n");
    const std::string file = ini_text(m);
    EXPECT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_VME, "Dev"), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(QDL_Delete_Record(RECORD_DEVICE, ADDRESS_TCPIP_ETH, "Dev"), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(ini_text(m), file);
}

// ---- Extension keys ------------------------------------------------------------------------

TEST(DeviceExtension, RoundTripsBesideTheAddresses) {
    qdltest::Machine m;
    DeviceRecordEx r = device_ex("Dev", ADDRESS_KWT_ID);
    set(r.base.kwt_id, "K1");
    set(r.modem_recordname, "Modem7");
    set(r.assoc_device, "Twin");
    ASSERT_EQ(QDL_Add_Record_Ex(RECORD_DEVICE, &r), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Dev]\nKWT_ID=K1\nMODEM_RECORDNAME=Modem7\nASSOC_DEVICE=Twin\n");

    Guarded<DeviceRecordEx> g;
    ASSERT_EQ(QDL_Get_Record_Ex(RECORD_DEVICE, "Dev", &g.record), QDL_OK);
    EXPECT_TRUE(g.intact());
    EXPECT_STREQ(g.record.base.kwt_id, "K1");
    EXPECT_STREQ(g.record.modem_recordname, "Modem7");
    EXPECT_STREQ(g.record.assoc_device, "Twin");

    // Absent keys read as empty texts.
    write_ini(m, "[Bare]\nKWT_ID=K2\n");
    ASSERT_EQ(QDL_Get_Record_Ex(RECORD_DEVICE, "Bare", &g.record), QDL_OK);
    EXPECT_STREQ(g.record.modem_recordname, "");
    EXPECT_STREQ(g.record.assoc_device, "");
}

TEST(DeviceExtension, KeysAreWrittenEvenWhenTheAddWroteNothing) {
    qdltest::Machine m;
    DeviceRecordEx r = device_ex("Dialled", ADDRESS_KWT_ID);  // empty kwt_id
    set(r.modem_recordname, "Modem1");
    ASSERT_EQ(QDL_Add_Record_Ex(RECORD_DEVICE, &r), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Dialled]\nMODEM_RECORDNAME=Modem1\n");
    DeviceRecordEx got = device_ex("", 0);
    ASSERT_EQ(QDL_Get_Record_Ex(RECORD_DEVICE, "Dialled", &got), QDL_OK);
    EXPECT_STREQ(got.modem_recordname, "Modem1");
}

TEST(DeviceExtension, AFailedAddWritesNoExtensionKey) {
    qdltest::Machine m;
    DeviceRecordEx r = device_ex("Dev", ADDRESS_KWT_ID);
    set(r.base.kwt_id, "-1");
    set(r.modem_recordname, "Modem1");
    EXPECT_EQ(QDL_Add_Record_Ex(RECORD_DEVICE, &r), QDL_ERR_BAD_KWT_ID);
    EXPECT_EQ(ini_text(m), "");
}

TEST(DeviceExtension, UnterminatedFieldsAreTakenAsTheirFirst65Bytes) {
    qdltest::Machine m;
    Guarded<DeviceRecordEx> g;
    DeviceRecordEx& r = g.record;
    r = device_ex("Dev", ADDRESS_KWT_ID);
    set(r.base.kwt_id, "K1");
    std::memset(r.modem_recordname, 'm', sizeof r.modem_recordname);
    std::memset(r.assoc_device, 'a', sizeof r.assoc_device);
    ASSERT_EQ(QDL_Add_Record_Ex(RECORD_DEVICE, &r), QDL_OK);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(ini_text(m), "[Dev]\nKWT_ID=K1\nMODEM_RECORDNAME=" + std::string(65, 'm') +
                               "\nASSOC_DEVICE=" + std::string(65, 'a') + "\n");
    // The add changes no byte of the two fields.
    for (char c : r.modem_recordname) EXPECT_EQ(c, 'm');
    for (char c : r.assoc_device) EXPECT_EQ(c, 'a');

    Guarded<DeviceRecordEx> h;
    ASSERT_EQ(QDL_Get_Record_Ex(RECORD_DEVICE, "Dev", &h.record), QDL_OK);
    EXPECT_TRUE(h.intact());
    EXPECT_EQ(std::string(h.record.modem_recordname), std::string(65, 'm'));
    EXPECT_EQ(std::string(h.record.assoc_device), std::string(65, 'a'));
}

TEST(DeviceExtension, DoubleByteValuesStayWithinTheirFields) {
    qdltest::Machine m;
    CodePage932 cp;
    // 66 bytes each; the profile read keeps whole characters of the first 65 bytes.
    write_ini(m, "[Dev]\nKWT_ID=K1\nMODEM_RECORDNAME=" + repeat(kHiragana, 33) +
                     "\nASSOC_DEVICE=x" + repeat(kHiragana, 32) + "x\n");
    Guarded<DeviceRecordEx> g;
    ASSERT_EQ(QDL_Get_Record_Ex(RECORD_DEVICE, "Dev", &g.record), QDL_OK);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(std::string(g.record.modem_recordname), repeat(kHiragana, 32));
    EXPECT_EQ(std::string(g.record.assoc_device), 'x' + repeat(kHiragana, 32));
    EXPECT_EQ(g.record.assoc_device[65], '\0');
}
