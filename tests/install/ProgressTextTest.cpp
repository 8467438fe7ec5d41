#include "install/DlgDownload.h"

#include <gtest/gtest.h>

TEST(ByteCounter, SwitchesToKilobytesAtATotalOf1024)
{
    ByteCounterText small = FormatByteCounter(1023, 1023);
    EXPECT_EQ("( ", small.open);
    EXPECT_EQ("1023Bytes", small.position);
    EXPECT_EQ(" / 1023Bytes )", small.rest);

    ByteCounterText kb = FormatByteCounter(1023, 1024);
    EXPECT_EQ("0KB", kb.position) << "the unit follows the total alone";
    EXPECT_EQ(" / 1KB )", kb.rest);
    EXPECT_EQ("709KB", FormatByteCounter(726016, 1443840).position);
}
