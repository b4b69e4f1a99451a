// version_test.cpp - the version text and the layout seen from C++.
#include <gtest/gtest.h>

#include <cstring>

#include "tskqdl32.h"

TEST(Version, WritesExactlyTwentyFourBytes) {
    char buffer[32];
    std::memset(buffer, 0x5A, sizeof buffer);
    ASSERT_EQ(QDL_Get_Version(buffer), QDL_OK);
    EXPECT_STREQ(buffer, "QDL Version 3.00 (44a1)");
    EXPECT_EQ(buffer[23], '\0');
    for (std::size_t i = 24; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0x5A) << i;
}

TEST(Version, NullBufferIsRefused) { EXPECT_EQ(QDL_Get_Version(nullptr), QDL_ERR_NULL_ARG); }
