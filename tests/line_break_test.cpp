// line_break_test.cpp - a text holding a line break is refused, never written raw: written as it
// is, it would end its line and add keys or sections that belong to no record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/config_file.h"
#include "tskqdl32.h"

namespace {

using LineBreaks = qdltest::ConfigTest;

TEST_F(LineBreaks, ModemTextWithALineBreakIsRefusedAndInjectsNothing) {
    ModemRecord m;
    std::memset(&m, 0, sizeof m);
    std::strcpy(m.name, "Dialer");
    std::strcpy(m.modem_dial, "ATDT1");
    std::strcpy(m.modem_disp, "x\n[Evil]\nTYPE=KWT_SERIAL");
    m.modem_deviceid = 0xFFFF;
    EXPECT_EQ(QDL_Add_Record(RECORD_MODEM, &m), QDL_ERR_BAD_VALUE);
    const std::string text = file();
    EXPECT_EQ(text.find("Evil"), std::string::npos) << text;
    EXPECT_EQ(text.find("TYPE"), std::string::npos) << text;
    // Keys written before the refused one stay, as after any failed add.
    EXPECT_NE(text.find("MODEM_DIAL=ATDT1"), std::string::npos) << text;
}

TEST_F(LineBreaks, DeviceAndPortTextsAndNamesWithCarriageReturnsAreRefused) {
    DeviceRecord d;
    std::memset(&d, 0xFF, sizeof d);
    std::strcpy(d.name, "Meter");
    d.address_kind = ADDRESS_TCPIP_ETH;
    std::strcpy(d.ip_addr, "10.0.0.1\rKWT_ID=X");
    EXPECT_EQ(QDL_Add_Record(RECORD_DEVICE, &d), QDL_ERR_BAD_VALUE);

    PortRecord p;
    std::memset(&p, 0xFF, sizeof p);
    std::strcpy(p.name, "Line\n[Other]");
    p.port_type = PORT_TCPIP_ETH;
    EXPECT_EQ(QDL_Add_Record(RECORD_PORT, &p), QDL_ERR_BAD_VALUE);

    const std::string text = file();
    EXPECT_EQ(text.find("KWT_ID"), std::string::npos) << text;
    EXPECT_EQ(text.find("[Other]"), std::string::npos) << text;
    EXPECT_EQ(text.find("TYPE"), std::string::npos) << text;
}

}  // namespace
