#include <gtest/gtest.h>

#include "report/report_update.h"

TEST(Axtoi, ReadsUpperAndLowerCaseAlike)
{
    EXPECT_EQ(axtoi("15B3"), 0x15B3);
    EXPECT_EQ(axtoi("15b3"), 0x15B3);
    EXPECT_EQ(axtoi("ffff"), 0xFFFF);
    EXPECT_EQ(axtoi("AbCd"), 0xABCD);
}

TEST(Axtoi, ReadsAtMostFourCharacters)
{
    EXPECT_EQ(axtoi("15B3F"), 0x15B3);
    EXPECT_EQ(axtoi("123456789"), 0x1234);
}

TEST(Axtoi, ShortTextsGiveTheirDigits)
{
    EXPECT_EQ(axtoi("7"), 0x7);
    EXPECT_EQ(axtoi("100"), 0x100);
    EXPECT_EQ(axtoi(""), 0);
}

TEST(Axtoi, StopsAtTheFirstCharacterOutsideTheDigitSet)
{
    EXPECT_EQ(axtoi("0x10"), 0);
    EXPECT_EQ(axtoi("0X15B3"), 0);
    EXPECT_EQ(axtoi("1g23"), 1);
    EXPECT_EQ(axtoi(" 15B3"), 0);
    EXPECT_EQ(axtoi("15 B3"), 0x15);
}

// The punctuation from 0x2A to 0x3F counts as digits worth their low four bits.
TEST(Axtoi, PunctuationBesideTheDigitsIsWorthItsLowBits)
{
    EXPECT_EQ(axtoi("*"), 0xA);
    EXPECT_EQ(axtoi("/"), 0xF);
    EXPECT_EQ(axtoi(":"), 0xA);
    EXPECT_EQ(axtoi("?"), 0xF);
    EXPECT_EQ(axtoi("1-2."), 0x1D2E);
}

TEST(Axtoi, LettersPastFAreNotDigits)
{
    EXPECT_EQ(axtoi("g"), 0);
    EXPECT_EQ(axtoi("G"), 0);
    EXPECT_EQ(axtoi("a`"), 0xA);
    EXPECT_EQ(axtoi("A@"), 0xA);
}
