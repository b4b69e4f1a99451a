// modem_test.cpp - modem records: add, get and delete, the break flag of the extended forms, and
// the section a modem may share with a port.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/config_file.h"
#include "support/records.h"
#include "tskqdl32.h"

namespace {

using namespace qdltest;  // support/config_file.h, support/records.h

ModemRecordEx modem(const char* name) {
    ModemRecordEx r;
    std::memset(&r, 0, sizeof r);
    set(r.base.name, name);
    r.base.modem_deviceid = 0xFFFF;
    return r;
}

// The seven texts of a record, in the order in which they are written.
char* text(ModemRecord& r, int i) {
    char* fields[] = {r.modem_dial,    r.modem_disp,     r.modem_countryname, r.modem_areacode,
                      r.modem_phoneno, r.modem_location, r.modem_tapiline};
    return fields[i];
}
constexpr const char* kTextKeys[] = {"MODEM_DIAL",    "MODEM_DISP",     "MODEM_COUNTRYNAME",
                                     "MODEM_AREACODE", "MODEM_PHONENO", "MODEM_LOCATION",
                                     "MODEM_TAPILINE"};

// A record name and the value a read should give for it.
struct Expect {
    const char* name;
    unsigned value;
};

}  // namespace

// ---- Add and get -----------------------------------------------------------------------------

TEST(ModemRecord, RoundTripsFieldForField) {
    qdltest::Machine m;
    ModemRecordEx r = modem("Office");
    set(r.base.modem_dial, "ATDT");
    set(r.base.modem_disp, "Office line");
    set(r.base.modem_countryname, "Norway");
    set(r.base.modem_areacode, "22");
    set(r.base.modem_phoneno, "123 45 678");
    set(r.base.modem_location, "Oslo");
    set(r.base.modem_tapiline, "Standard Modem");
    r.base.modem_usedcanda = 1;
    r.base.modem_deviceid = 3;
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &r.base), QDL_OK);
    EXPECT_EQ(ini_text(m),
              "[Office]\nMODEM_DIAL=ATDT\nMODEM_DISP=Office line\nMODEM_COUNTRYNAME=Norway\n"
              "MODEM_AREACODE=22\nMODEM_PHONENO=123 45 678\nMODEM_LOCATION=Oslo\n"
              "MODEM_TAPILINE=Standard Modem\nMODEM_USEDCANDA=YES\nMODEM_DEVICEID=3\n");

    Guarded<ModemRecord> g;
    ASSERT_EQ(QDL_Get_Record(RECORD_MODEM, "Office", &g.record), QDL_OK);
    EXPECT_TRUE(g.intact());
    EXPECT_STREQ(g.record.name, "Office");
    for (int i = 0; i < 7; ++i) EXPECT_STREQ(text(g.record, i), text(r.base, i)) << kTextKeys[i];
    EXPECT_EQ(g.record.modem_usedcanda, 1);
    EXPECT_EQ(g.record.modem_deviceid, 3);
}

TEST(ModemRecord, EmptyTextsAreWrittenAsEmptyValues) {
    qdltest::Machine m;
    ModemRecordEx r = modem("Blank");
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &r.base), QDL_OK);
    EXPECT_EQ(ini_text(m),
              "[Blank]\nMODEM_DIAL=\nMODEM_DISP=\nMODEM_COUNTRYNAME=\nMODEM_AREACODE=\n"
              "MODEM_PHONENO=\nMODEM_LOCATION=\nMODEM_TAPILINE=\nMODEM_USEDCANDA=NO\n");
    // An empty dial string still makes the section a modem record.
    EXPECT_EQ(QDL_Add_Record(RECORD_MODEM, &r.base), QDL_ERR_EXISTS);
    ModemRecord got;
    std::memset(&got, 0x5A, sizeof got);
    ASSERT_EQ(QDL_Get_Record(RECORD_MODEM, "Blank", &got), QDL_OK);
    for (int i = 0; i < 7; ++i) EXPECT_STREQ(text(got, i), "") << kTextKeys[i];
    EXPECT_EQ(got.modem_deviceid, 0xFFFF);
}

TEST(ModemRecord, AbsentKeysReadAsEmptyNoAndUnset) {
    qdltest::Machine m;
    write_ini(m, "[Sparse]\nMODEM_DIAL=ATDP\nMODEM_DISP=?hidden\n");
    ModemRecord got;
    std::memset(&got, 0x5A, sizeof got);
    ASSERT_EQ(QDL_Get_Record(RECORD_MODEM, "Sparse", &got), QDL_OK);
    EXPECT_STREQ(got.modem_dial, "ATDP");
    for (int i = 1; i < 7; ++i) EXPECT_STREQ(text(got, i), "") << kTextKeys[i];
    EXPECT_EQ(got.modem_usedcanda, 0);
    EXPECT_EQ(got.modem_deviceid, 0xFFFF);
}

TEST(ModemRecord, TextsAreCutTo80BytesInTheCallersRecord) {
    qdltest::Machine m;
    Guarded<ModemRecord> g;
    ModemRecord& r = g.record;
    std::memset(&r, 0, sizeof r);
    set(r.name, "Long");
    for (int i = 0; i < 7; ++i) std::memset(text(r, i), 'a' + i, 82);  // no terminator
    r.modem_deviceid = 0xFFFF;
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &r), QDL_OK);
    EXPECT_TRUE(g.intact());
    std::string expected = "[Long]\n";
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(text(r, i)[80], '\0') << kTextKeys[i];
        EXPECT_EQ(text(r, i)[81], 'a' + i) << kTextKeys[i];
        expected += std::string(kTextKeys[i]) + "=" + std::string(80, 'a' + i) + "\n";
    }
    EXPECT_EQ(ini_text(m), expected + "MODEM_USEDCANDA=NO\n");

    // A read gives back the first 65 bytes of each.
    Guarded<ModemRecord> h;
    ASSERT_EQ(QDL_Get_Record(RECORD_MODEM, "Long", &h.record), QDL_OK);
    EXPECT_TRUE(h.intact());
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(std::string(text(h.record, i)), std::string(65, 'a' + i)) << kTextKeys[i];
    }
}

TEST(ModemRecord, DoubleByteTextsReadBackWhole) {
    qdltest::Machine m;
    CodePage932 cp;
    ModemRecordEx r = modem("Tokyo");
    const std::string dial = repeat(kHiragana, 32) + "9";  // 65 bytes
    set(r.base.modem_dial, dial);
    set(r.base.modem_location, repeat(kHiragana, 40));    // 80 bytes, more than a read gives
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &r.base), QDL_OK);
    Guarded<ModemRecord> g;
    ASSERT_EQ(QDL_Get_Record(RECORD_MODEM, "Tokyo", &g.record), QDL_OK);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(std::string(g.record.modem_dial), dial);
    const std::string location(g.record.modem_location);
    EXPECT_LE(location.size(), 65u);
    EXPECT_EQ(location, repeat(kHiragana, static_cast<int>(location.size() / 2)));
}

TEST(ModemRecord, OnlyExactYesIsYes) {
    qdltest::Machine m;
    ModemRecordEx two = modem("Two");
    two.base.modem_usedcanda = 2;
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &two.base), QDL_OK);
    EXPECT_NE(ini_text(m).find("MODEM_USEDCANDA=NO\n"), std::string::npos);
    ModemRecord got;
    ASSERT_EQ(QDL_Get_Record(RECORD_MODEM, "Two", &got), QDL_OK);
    EXPECT_EQ(got.modem_usedcanda, 0);

    write_ini(m, "[Lower]\nMODEM_DIAL=x\nMODEM_USEDCANDA=yes\n[Upper]\nMODEM_DIAL=x\n"
                 "MODEM_USEDCANDA=YES\n[Longer]\nMODEM_DIAL=x\nMODEM_USEDCANDA=YESS\n");
    for (const Expect& e : {Expect{"Lower", 0}, Expect{"Upper", 1}, Expect{"Longer", 0}}) {
        got.modem_usedcanda = 7;
        ASSERT_EQ(QDL_Get_Record(RECORD_MODEM, e.name, &got), QDL_OK) << e.name;
        EXPECT_EQ(got.modem_usedcanda, e.value) << e.name;
    }
}

TEST(ModemRecord, DeviceIdIsWrittenUnlessUnset) {
    qdltest::Machine m;
    ModemRecordEx zero = modem("Zero");
    zero.base.modem_deviceid = 0;
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &zero.base), QDL_OK);
    ModemRecordEx top = modem("Top");
    top.base.modem_deviceid = 65534;
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &top.base), QDL_OK);
    ModemRecordEx unset = modem("Unset");
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &unset.base), QDL_OK);

    const std::string file = ini_text(m);
    EXPECT_NE(file.find("MODEM_DEVICEID=0\n"), std::string::npos);
    EXPECT_NE(file.find("MODEM_DEVICEID=65534\n"), std::string::npos);
    EXPECT_EQ(file.find("MODEM_DEVICEID", file.find("[Unset]")), std::string::npos);

    for (const Expect& e : {Expect{"Zero", 0}, Expect{"Top", 65534}, Expect{"Unset", 0xFFFF}}) {
        ModemRecord got;
        got.modem_deviceid = 1234;
        ASSERT_EQ(QDL_Get_Record(RECORD_MODEM, e.name, &got), QDL_OK) << e.name;
        EXPECT_EQ(got.modem_deviceid, e.value) << e.name;
    }
}

// ---- Checks ------------------------------------------------------------------------------

TEST(ModemRecord, PresentOrBadNameWritesNothingButCutsTheName) {
    qdltest::Machine m;
    CodePage932 cp;
    for (const std::string& name : {std::string("9lives"), std::string("_x"), kHiragana}) {
        ModemRecordEx r = modem("");
        std::memset(r.base.name, 'n', sizeof r.base.name);
        std::memcpy(r.base.name, name.data(), name.size());
        set(r.base.modem_dial, "ATDT");
        EXPECT_EQ(QDL_Add_Record(RECORD_MODEM, &r.base), QDL_ERR_BAD_NAME) << name;
        EXPECT_EQ(r.base.name[64], '\0') << name;
        EXPECT_EQ(r.base.name[65], 'n') << name;
    }
    EXPECT_EQ(ini_text(m), "");

    write_ini(m, "[Here]\nMODEM_DIAL=ATDT\n");
    ModemRecordEx again = modem("Here");
    set(again.base.modem_dial, "ATDP");
    EXPECT_EQ(QDL_Add_Record(RECORD_MODEM, &again.base), QDL_ERR_EXISTS);
    EXPECT_EQ(ini_text(m), "[Here]\nMODEM_DIAL=ATDT\n");
}

TEST(ModemRecord, UnterminatedNameIsStoredUnderItsFirst64Letters) {
    qdltest::Machine m;
    ModemRecordEx r = modem("");
    std::memset(r.base.name, 'M', sizeof r.base.name);
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &r.base), QDL_OK);
    EXPECT_EQ(r.base.name[64], '\0');
    EXPECT_EQ(ini_text(m).rfind("[" + std::string(64, 'M') + "]\nMODEM_DIAL=\n", 0), 0u);
}

TEST(ModemRecord, ADialStringBeginningWithAQuestionMarkIsNoRecord) {
    qdltest::Machine m;
    ModemRecordEx r = modem("Ghost");
    set(r.base.modem_dial, "?ATDT");
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &r.base), QDL_OK);
    EXPECT_EQ(ini_text(m).rfind("[Ghost]\nMODEM_DIAL=?ATDT\n", 0), 0u);

    ModemRecord got;
    std::memset(&got, 0x5A, sizeof got);
    EXPECT_EQ(QDL_Get_Record(RECORD_MODEM, "Ghost", &got), QDL_ERR_NOT_FOUND);
    EXPECT_EQ(static_cast<unsigned char>(got.name[0]), 0x5A);
    EXPECT_EQ(QDL_Delete_Record(RECORD_MODEM, 0, "Ghost"), QDL_ERR_NOT_FOUND);
    set(r.base.modem_dial, "ATDT");
    EXPECT_EQ(QDL_Add_Record(RECORD_MODEM, &r.base), QDL_OK);
    ASSERT_EQ(QDL_Get_Record(RECORD_MODEM, "Ghost", &got), QDL_OK);
    EXPECT_STREQ(got.modem_dial, "ATDT");
}

TEST(ModemRecord, AFailedWriteIsReportedAsAFileError) {
    qdltest::Machine m;
    const std::string blocker = m.scratch_dir() + "/plain-file";
    qdltest::write_file(blocker, "x");
    m.set_registry_path(blocker + "/cfg.ini");  // its directory can never exist
    ModemRecordEx r = modem("Office");
    EXPECT_EQ(QDL_Add_Record(RECORD_MODEM, &r.base), QDL_ERR_FILE);
    EXPECT_EQ(QDL_Add_Record_Ex(RECORD_MODEM, &r), QDL_ERR_FILE);
}

// ---- Delete and the section shared with a port ---------------------------------------------

TEST(ModemSection, DeleteRemovesTheWholeSectionAndIgnoresTheAddressKind) {
    qdltest::Machine m;
    write_ini(m, "[Keep]\nMODEM_DIAL=1\n[Gone]\nMODEM_DIAL=2\nMODEM_BREAK=0\nOTHER=x\n");
    ASSERT_EQ(QDL_Delete_Record(RECORD_MODEM, 0x7FFF, "Gone"), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Keep]\nMODEM_DIAL=1\n");
    EXPECT_EQ(QDL_Delete_Record(RECORD_MODEM, 0, "Gone"), QDL_ERR_NOT_FOUND);
}

TEST(ModemSection, AModemAddedUnderAPortsNameJoinsItsSection) {
    qdltest::Machine m;
    write_ini(m, "[Line1]\nTYPE=KWT_SERIAL\nPORT=COM1\n[Other]\nTYPE=VME_PORT\n");
    ModemRecordEx r = modem("Line1");
    set(r.base.modem_dial, "ATDT");
    r.base.modem_deviceid = 1;
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &r.base), QDL_OK);
    EXPECT_EQ(ini_text(m),
              "[Line1]\nTYPE=KWT_SERIAL\nPORT=COM1\nMODEM_DIAL=ATDT\nMODEM_DISP=\n"
              "MODEM_COUNTRYNAME=\nMODEM_AREACODE=\nMODEM_PHONENO=\nMODEM_LOCATION=\n"
              "MODEM_TAPILINE=\nMODEM_USEDCANDA=NO\nMODEM_DEVICEID=1\n[Other]\nTYPE=VME_PORT\n");

    // The modem's delete takes the port with it.
    ASSERT_EQ(QDL_Delete_Record(RECORD_MODEM, 0, "Line1"), QDL_OK);
    EXPECT_EQ(ini_text(m), "[Other]\nTYPE=VME_PORT\n");
}

TEST(ModemSection, APortSectionHoldingADialStringIsAModem) {
    qdltest::Machine m;
    write_ini(m, "[Line1]\nTYPE=KWT_SERIAL\nPORT=COM2\nMODEM_DIAL=ATDT5551234\n");
    ModemRecordEx r = modem("Line1");
    set(r.base.modem_dial, "ATDP");
    EXPECT_EQ(QDL_Add_Record(RECORD_MODEM, &r.base), QDL_ERR_EXISTS);

    ModemRecordEx got;
    std::memset(&got, 0x5A, sizeof got);
    ASSERT_EQ(QDL_Get_Modem_Record_Ex(RECORD_MODEM, "Line1", &got), QDL_OK);
    EXPECT_STREQ(got.base.modem_dial, "ATDT5551234");
    EXPECT_STREQ(got.base.modem_disp, "");
    EXPECT_EQ(got.base.modem_usedcanda, 0);
    EXPECT_EQ(got.base.modem_deviceid, 0xFFFF);
    EXPECT_EQ(got.modem_break, 1);
}

// ---- The break flag ------------------------------------------------------------------------

TEST(ModemBreak, IsStoredAsTheLeadingDecimalDigit) {
    qdltest::Machine m;
    struct Row {
        const char* name;
        std::uint16_t value;
        const char* stored;
        std::uint16_t read;
    } rows[] = {
        {"Zero", 0, "0", 0}, {"One", 1, "1", 1}, {"Twelve", 12, "1", 1},
        {"Nine", 9, "9", 1}, {"Max", 65535, "6", 1},
    };
    for (const Row& row : rows) {
        ModemRecordEx r = modem(row.name);
        r.modem_break = row.value;
        ASSERT_EQ(QDL_Add_Record_Ex(RECORD_MODEM, &r), QDL_OK) << row.name;
    }
    const std::string file = ini_text(m);
    for (const Row& row : rows) {
        const std::size_t section = file.find(std::string("[") + row.name + "]");
        ASSERT_NE(section, std::string::npos) << row.name;
        const std::size_t next = file.find('[', section + 1);
        const std::string body = file.substr(section, next - section);
        EXPECT_NE(body.find(std::string("\nMODEM_BREAK=") + row.stored + "\n"), std::string::npos)
            << row.name << ": " << body;

        ModemRecordEx got;
        std::memset(&got, 0x5A, sizeof got);
        ASSERT_EQ(QDL_Get_Modem_Record_Ex(RECORD_MODEM, row.name, &got), QDL_OK) << row.name;
        EXPECT_EQ(got.modem_break, row.read) << row.name;
    }
}

TEST(ModemBreak, OnlyAValueBeginningWithZeroReadsAsOff) {
    qdltest::Machine m;
    ModemRecordEx plain = modem("Plain");  // the plain add writes no MODEM_BREAK
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &plain.base), QDL_OK);
    EXPECT_EQ(ini_text(m).find("MODEM_BREAK"), std::string::npos);
    qdltest::write_file(m.default_file(), qdltest::read_file(m.default_file()) +
                                              "[Empty]\nMODEM_DIAL=x\nMODEM_BREAK=\n"
                                              "[Zeroish]\nMODEM_DIAL=x\nMODEM_BREAK=0abc\n"
                                              "[Marked]\nMODEM_DIAL=x\nMODEM_BREAK=?0\n");
    for (const Expect& e :
         {Expect{"Plain", 1}, Expect{"Empty", 1}, Expect{"Zeroish", 0}, Expect{"Marked", 1}}) {
        ModemRecordEx got;
        got.modem_break = 0;
        ASSERT_EQ(QDL_Get_Modem_Record_Ex(RECORD_MODEM, e.name, &got), QDL_OK) << e.name;
        EXPECT_EQ(got.modem_break, e.value) << e.name;
    }
}

TEST(ModemBreak, ThePlainGetLeavesTheBreakFlagAlone) {
    qdltest::Machine m;
    write_ini(m, "[Mo]\nMODEM_DIAL=x\nMODEM_BREAK=0\n");
    ModemRecordEx got;
    got.modem_break = 0x4321;
    ASSERT_EQ(QDL_Get_Record(RECORD_MODEM, "Mo", &got), QDL_OK);
    EXPECT_EQ(got.modem_break, 0x4321);
}

TEST(ModemBreak, ExtendedGetChecksInOrder) {
    qdltest::Machine m;
    write_ini(m, "; site file, keep\nTYPE=KWT_SERIAL\nPORT=COM1\nMODEM_DIAL=ATDT\n"
                 "[Line1]\nTYPE=KWT_SERIAL\nPORT=COM1\n[Mo]\nMODEM_DIAL=x\nMODEM_BREAK=0\n");
    const std::string before = config_text(m);
    ModemRecordEx got;
    std::memset(&got, 0x5A, sizeof got);
    EXPECT_EQ(QDL_Get_Modem_Record_Ex(RECORD_MODEM, nullptr, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_Modem_Record_Ex(RECORD_MODEM, nullptr, &got), QDL_ERR_NULL_ARG);

    // A port of that name is no modem, and "" is no record (the lines before the first header
    // are none): not found, the record untouched, and nothing deleted.
    for (const char* name : {"Line1", "Nobody", ""}) {
        EXPECT_EQ(QDL_Get_Modem_Record_Ex(RECORD_MODEM, name, &got), QDL_ERR_NOT_FOUND) << name;
        EXPECT_EQ(QDL_Get_Record(RECORD_MODEM, name, &got.base), QDL_ERR_NOT_FOUND) << name;
        EXPECT_EQ(QDL_Delete_Record(RECORD_MODEM, 0, name), QDL_ERR_NOT_FOUND) << name;
    }
    EXPECT_EQ(config_text(m), before);
    for (std::size_t i = 0; i < sizeof got; ++i) {
        ASSERT_EQ(reinterpret_cast<unsigned char*>(&got)[i], 0x5A) << "byte " << i;
    }

    // The flag is preset before the plain get, whose failure is returned unchanged.
    EXPECT_EQ(QDL_Get_Modem_Record_Ex(9, "Mo", &got), QDL_ERR_BAD_TYPE);
    EXPECT_EQ(got.modem_break, 1);

    Guarded<ModemRecordEx> g;
    ASSERT_EQ(QDL_Get_Modem_Record_Ex(0x10000 | RECORD_MODEM, "Mo", &g.record), QDL_OK);
    EXPECT_TRUE(g.intact());
    EXPECT_STREQ(g.record.base.modem_dial, "x");
    EXPECT_EQ(g.record.modem_break, 0);
}
