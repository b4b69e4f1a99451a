// header_test.cpp - the public header means the same to C and C++ callers.
#include <gtest/gtest.h>

#include <cstring>

#include "tskqdl32.h"

extern "C" std::size_t qdl_c_layout(int which);
extern "C" int qdl_c_version(char* buffer);

TEST(Header, CAndCppSeeTheSameLayout) {
    const std::size_t cpp[] = {
        sizeof(PortRecord), sizeof(PortRecordEx), sizeof(DeviceRecord), sizeof(DeviceRecordEx),
        sizeof(GlobalParameters), sizeof(ModemRecord), sizeof(ModemRecordEx),
        sizeof(LegacyPortRecord), offsetof(PortRecord, kwt_t3pp),
        offsetof(DeviceRecordEx, assoc_device), offsetof(ModemRecordEx, modem_break),
        offsetof(LegacyPortRecord, bxln_addr),
    };
    for (int i = 0; i < static_cast<int>(std::size(cpp)); ++i) {
        EXPECT_EQ(qdl_c_layout(i), cpp[i]) << "item " << i;
    }
    EXPECT_EQ(qdl_c_layout(0), 248u);
    EXPECT_EQ(qdl_c_layout(7), 244u);
}

TEST(Header, CCallerGetsTheVersion) {
    char buffer[QDL_VERSION_SIZE];
    ASSERT_EQ(qdl_c_version(buffer), QDL_OK);
    EXPECT_STREQ(buffer, "QDL Version 3.00 (44a1)");
}

TEST(Version, WritesExactlyTwentyFourBytes) {
    char buffer[32];
    std::memset(buffer, 0x5A, sizeof buffer);
    ASSERT_EQ(QDL_Get_Version(buffer), QDL_OK);
    EXPECT_STREQ(buffer, "QDL Version 3.00 (44a1)");
    for (std::size_t i = 24; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0x5A) << i;
}

TEST(Version, NullBufferIsRefused) { EXPECT_EQ(QDL_Get_Version(nullptr), QDL_ERR_NULL_ARG); }
