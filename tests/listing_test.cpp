// listing_test.cpp - QDL_Get_List: the argument checks, the capacity/count protocol, the
// filters, and which file is listed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_env.h"
#include "testing/hooks.h"
#include "tskqdl32.h"

namespace {

ListFilter filter(const std::string& key, const std::string& value = "") {
    ListFilter f;
    std::memset(&f, 0, sizeof f);
    std::memcpy(f.key, key.data(), std::min(key.size(), sizeof f.key));
    std::memcpy(f.value, value.data(), std::min(value.size(), sizeof f.value));
    return f;
}

struct Listing {
    int result;
    unsigned short count;
    std::vector<std::string> names;
};

// Lists with room for `capacity` names; the names are read back from the buffer by the count.
Listing list(const ListFilter& first, const ListFilter* second = nullptr,
             unsigned short capacity = 100) {
    std::vector<char> buffer(std::size_t{capacity} * 66 + 1, '\x5A');
    Listing out{0, capacity, {}};
    out.result = QDL_Get_List(&first, second, buffer.data(), &out.count);
    const char* p = buffer.data();
    for (unsigned i = 0; i < out.count; ++i) {
        out.names.emplace_back(p);
        p += out.names.back().size() + 1;
    }
    EXPECT_EQ(*p, '\x5A') << "a byte after the last name was written";
    return out;
}

std::vector<std::string> names(std::initializer_list<const char*> list) {
    return {list.begin(), list.end()};
}

const char kPorts[] =
    "[S1]\nTYPE=KWT_SERIAL\nPORT=COM1\n"
    "[Dev]\nKWT_ID=D1\nDEFAULT_PORT=S1\n"
    "[S2]\nTYPE=TCPIP_ETH\n"
    "[S3]\nTYPE = KWT SERIAL\nPORT=COM2\n";

// ---- Argument checks ------------------------------------------------------------------------

TEST(ListingChecks, RunInOrderBeforeTheFileIsTouched) {
    qdltest::Machine machine;  // no file: a check that read it would give QDL_ERR_FILE
    const ListFilter good = filter("TYPE");
    const ListFilter empty = filter("");
    char buffer[66];
    unsigned short count = 7;
    EXPECT_EQ(QDL_Get_List(nullptr, &empty, nullptr, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_List(&empty, nullptr, nullptr, nullptr), QDL_ERR_EMPTY_FILTER);
    EXPECT_EQ(QDL_Get_List(&good, &empty, nullptr, nullptr), QDL_ERR_EMPTY_FILTER);
    EXPECT_EQ(QDL_Get_List(&good, &empty, buffer, &count), QDL_ERR_EMPTY_FILTER);
    EXPECT_EQ(count, 7) << "checks before the count leave it alone";
    EXPECT_EQ(QDL_Get_List(&good, nullptr, buffer, nullptr), QDL_ERR_NULL_ARG);
    EXPECT_EQ(QDL_Get_List(&good, nullptr, nullptr, &count), QDL_ERR_NULL_ARG);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(QDL_Get_List(&good, nullptr, nullptr, &count), QDL_ERR_FILE);
}

TEST(ListingChecks, MissingFileOrDirectoryIsAFileError) {
    qdltest::Machine machine;
    char buffer[66] = "untouched";
    unsigned short count = 1;
    const ListFilter type = filter("TYPE");
    EXPECT_EQ(QDL_Get_List(&type, nullptr, buffer, &count), QDL_ERR_FILE);
    EXPECT_EQ(count, 0);
    EXPECT_STREQ(buffer, "untouched");
    std::filesystem::create_directory(machine.default_file());
    count = 1;
    EXPECT_EQ(QDL_Get_List(&type, nullptr, buffer, &count), QDL_ERR_FILE);
    EXPECT_EQ(count, 0);
}

// ---- Capacity and count ---------------------------------------------------------------------

TEST(ListingCapacity, NamesComeInListOrderEachWithOneNul) {
    qdltest::Machine machine;
    qdltest::write_file(machine.default_file(), kPorts);
    const Listing all = list(filter("TYPE"));
    EXPECT_EQ(all.result, 3);
    EXPECT_EQ(all.count, 3);
    EXPECT_EQ(all.names, names({"S3", "S2", "S1"}));
}

TEST(ListingCapacity, ZeroWithANullBufferCountsTheMatches) {
    qdltest::Machine machine;
    qdltest::write_file(machine.default_file(), kPorts);
    const ListFilter type = filter("TYPE");
    unsigned short count = 0;
    EXPECT_EQ(QDL_Get_List(&type, nullptr, nullptr, &count), 3);
    EXPECT_EQ(count, 0);
}

TEST(ListingCapacity, MoreMatchesThanRoomFillTheRoomAndCountThemAll) {
    qdltest::Machine machine;
    qdltest::write_file(machine.default_file(), kPorts);
    const Listing two = list(filter("TYPE"), nullptr, 2);  // list() checks the byte after
    EXPECT_EQ(two.result, 3);
    EXPECT_EQ(two.count, 2);
    EXPECT_EQ(two.names, names({"S3", "S2"}));
}

TEST(ListingCapacity, EmptyFileAndFileWithoutSectionsListNothing) {
    qdltest::Machine machine;
    qdltest::write_file(machine.default_file(), "");
    EXPECT_EQ(list(filter("TYPE")).result, 0);
    qdltest::write_file(machine.default_file(), "TYPE=KWT_SERIAL\n;[S1]\n");
    EXPECT_EQ(list(filter("TYPE")).result, 0);
}

// ---- Filters ------------------------------------------------------------------------------

TEST(ListingFilters, ValueMustMatchTheWholeTextWithCase) {
    qdltest::Machine machine;
    qdltest::write_file(machine.default_file(), kPorts);
    EXPECT_EQ(list(filter("TYPE", "KWT_SERIAL")).names, names({"S1"}));
    EXPECT_EQ(list(filter("TYPE", "kwt_serial")).result, 0);
    EXPECT_EQ(list(filter("type")).result, 0);
    EXPECT_EQ(list(filter("TYP")).result, 0);
    EXPECT_EQ(list(filter("TYPE", "KWT")).result, 0);
    EXPECT_EQ(list(filter("TYPE", "TCPIP_ETH")).names, names({"S2"}));
}

TEST(ListingFilters, SpacesOfTheFileAreGone) {
    qdltest::Machine machine;
    qdltest::write_file(machine.default_file(), kPorts);
    EXPECT_EQ(list(filter("TYPE", "KWT SERIAL")).result, 0);
    EXPECT_EQ(list(filter("TYPE", "KWTSERIAL")).names, names({"S3"}));
}

TEST(ListingFilters, TwoFiltersMustBothBeSatisfied) {
    qdltest::Machine machine;
    qdltest::write_file(machine.default_file(), kPorts);
    const ListFilter type = filter("TYPE");
    const ListFilter port = filter("PORT");
    const ListFilter com2 = filter("PORT", "COM2");
    EXPECT_EQ(list(type, &port).names, names({"S3", "S1"}));
    EXPECT_EQ(list(port, &type).names, names({"S3", "S1"}));
    EXPECT_EQ(list(type, &com2).names, names({"S3"}));
    EXPECT_EQ(list(com2, &type).names, names({"S3"}));
    // The same key twice: each section that has it, once.
    EXPECT_EQ(list(type, &type).names, names({"S3", "S2", "S1"}));
    const ListFilter serial = filter("TYPE", "KWT_SERIAL");
    const ListFilter eth = filter("TYPE", "TCPIP_ETH");
    EXPECT_EQ(list(serial, &eth).result, 0);
}

TEST(ListingFilters, DuplicateSectionsAreReportedPerOccurrence) {
    qdltest::Machine machine;
    qdltest::write_file(machine.default_file(),
                        "[A]\nTYPE=VME_PORT\n[B]\nX=1\n[A]\nTYPE=BXLN_BUS\n");
    EXPECT_EQ(list(filter("TYPE")).names, names({"A", "A"}));
    EXPECT_EQ(list(filter("TYPE", "VME_PORT")).names, names({"A"}));
}

TEST(ListingFilters, LongTextsMatchWhole) {
    qdltest::Machine machine;
    const std::string dial(80, 'd');
    const std::string long_name(70, 'N');
    qdltest::write_file(machine.default_file(), "[M]\nMODEM_DIAL=" + dial + "\n[" + long_name +
                                                    "]\nMODEM_DIAL=" + dial + "x\n");
    EXPECT_EQ(list(filter("MODEM_DIAL", dial)).names, names({"M"}));
    // A name of 70 bytes is reported as its first 65, and fits the 66 bytes per name.
    const Listing longer = list(filter("MODEM_DIAL", dial + "x"), nullptr, 1);
    EXPECT_EQ(longer.result, 1);
    EXPECT_EQ(longer.names, std::vector<std::string>{long_name.substr(0, 65)});
}

TEST(ListingFilters, AnUnterminatedValueIsReadWithinItsField) {
    qdltest::Machine machine;
    const std::string value(81, 'v');
    qdltest::write_file(machine.default_file(), "[A]\nK=" + value + "\n[B]\nK=" + value + "v\n");
    ListFilter f = filter("K");
    std::memset(f.value, 'v', sizeof f.value);  // no NUL in its 82 bytes
    EXPECT_EQ(list(f).names, names({"A"}));
}

TEST(ListingFilters, DoubleByteTextMatches) {
    qdltest::Machine machine;
    qdl::platform::set_code_page_for_tests(932);
    qdltest::write_file(machine.default_file(),
                        "[\x83|\x81[\x83g]\nTYPE=\x83|\x81[\x83g\n[Other]\nTYPE=x\n");
    EXPECT_EQ(list(filter("TYPE", "\x83|\x81[\x83g")).names, names({"\x83|\x81[\x83g"}));
}

// ---- Which file ---------------------------------------------------------------------------

TEST(ListingFile, ALongRegisteredPathIsListed) {
    qdltest::Machine machine;
    const std::string dir = machine.scratch_dir() + "/" + std::string(90, 'd');
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/field.ini";
    ASSERT_GT(path.size(), 80u);
    machine.set_registry_path(path);
    qdltest::write_file(path, "[Registered]\nTYPE=VME_PORT\n");
    qdltest::write_file(machine.default_file(), "[Default]\nTYPE=VME_PORT\n");
    EXPECT_EQ(list(filter("TYPE")).names, names({"Registered"}));
}

TEST(ListingFile, TheDefaultNameIsInTheWindowsDirectoryNotTheCurrentOne) {
    qdltest::Machine machine;
    const std::string cwd = machine.scratch_dir() + "/cwd";
    std::filesystem::create_directories(cwd);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(cwd);
    qdltest::write_file("tsk_cfg.ini", "[Here]\nTYPE=VME_PORT\n");
    qdltest::write_file(machine.default_file(), "[Windows]\nTYPE=VME_PORT\n");
    EXPECT_EQ(list(filter("TYPE")).names, names({"Windows"}));
    std::filesystem::current_path(previous);
}

TEST(ListingFile, ListsWhatTheRecordOperationsWrote) {
    qdltest::Machine machine;
    ModemRecord modem;
    std::memset(&modem, 0, sizeof modem);
    modem.modem_deviceid = 0xFFFF;
    std::strcpy(modem.name, "Dialer");
    const std::string dial(80, '7');
    std::memcpy(modem.modem_dial, dial.c_str(), dial.size() + 1);
    ASSERT_EQ(QDL_Add_Record(RECORD_MODEM, &modem), QDL_OK);
    EXPECT_EQ(list(filter("MODEM_DIAL", dial)).names, names({"Dialer"}));
    EXPECT_EQ(list(filter("MODEM_DIAL", dial.substr(0, 64))).result, 0);
}

TEST(ListingFile, CarriageReturnsOfTheFileAreNotPartOfValues) {
    qdltest::Machine machine;
    qdltest::write_file(machine.default_file(), "[S1]\r\nTYPE=KWT_SERIAL\r\n");
    EXPECT_EQ(list(filter("TYPE", "KWT_SERIAL")).names, names({"S1"}));
}

}  // namespace
