#include <gtest/gtest.h>

#include "flash/flash_exec.h"

TEST(FormatMac, RemovesColonSeparators)
{
    EXPECT_EQ(format_mac("00:02:c9:12:34:56"), "0002c9123456");
}

TEST(FormatMac, RemovesDashAndDotSeparators)
{
    EXPECT_EQ(format_mac("00-02-C9-12-34-56"), "0002C9123456");
    EXPECT_EQ(format_mac("0002.c912.3456"), "0002c9123456");
}

TEST(FormatMac, LeavesTheFlashToolsFormUnchanged)
{
    EXPECT_EQ(format_mac("b8cef6000510"), "b8cef6000510");
}

TEST(FormatMac, EmptyTextStaysEmpty)
{
    EXPECT_EQ(format_mac(""), "");
}

TEST(FormatMac, ShortAndOddShapesKeepEverythingButSeparators)
{
    EXPECT_EQ(format_mac("00:02"), "0002");
    EXPECT_EQ(format_mac("N/A"), "N/A");
    EXPECT_EQ(format_mac(":"), "");
}

TEST(FormatMac, EachCallReturnsItsOwnResult)
{
    const std::string first = format_mac("00:02:c9:12:34:56");
    const std::string second = format_mac("11:22:33:44:55:66");
    EXPECT_EQ(first, "0002c9123456");
    EXPECT_EQ(second, "112233445566");
}
