#include <gtest/gtest.h>

#include "discovery/flash_query.h"

namespace {

struct cut {
    std::optional<std::string> value;
    bool had_text = false;
};

cut cut_of(const std::string &line, const std::string &label)
{
    cut c;
    c.value = cut_labelled_value(line, label, &c.had_text);
    return c;
}

} // namespace

TEST(CutLabelledValue, TakesTheValueAfterThePadding)
{
    cut c = cut_of("FW Version:            2.42.5000\n", "FW Version");
    EXPECT_EQ(c.value, "2.42.5000");
    EXPECT_TRUE(c.had_text);
    EXPECT_EQ(cut_of("PSID:                  VTX0000000016\n", "PSID").value, "VTX0000000016");
}

TEST(CutLabelledValue, ValueEndsAtTheFirstBlank)
{
    EXPECT_EQ(cut_of("Base MAC:       b8cef6000510        4\n", "Base MAC").value, "b8cef6000510");
    EXPECT_EQ(cut_of("Base MAC:\tb8cef6000510\t4\n", "Base MAC").value, "b8cef6000510");
}

TEST(CutLabelledValue, ValueEndsAtTheLineEnd)
{
    EXPECT_EQ(cut_of("PSID: MT_0000000080\r\n", "PSID").value, "MT_0000000080");
    EXPECT_EQ(cut_of("PSID: MT_0000000080", "PSID").value, "MT_0000000080");
}

TEST(CutLabelledValue, FindsTheLabelInAnyLetterCase)
{
    EXPECT_EQ(cut_of("psid:  MT_1\n", "PSID").value, "MT_1");
    EXPECT_EQ(cut_of("fw version: 1.2.3\n", "FW Version").value, "1.2.3");
}

TEST(CutLabelledValue, CutsFromTheStartOfTheLineWhereverTheLabelStands)
{
    // "Dev FW Vers" is eleven characters: the cut falls inside the label.
    EXPECT_EQ(cut_of("Dev FW Version: 1.2.3\n", "FW Version").value, "ion:");
    EXPECT_EQ(cut_of("Security PSID: abc\n", "PSID").value, "ity");
}

TEST(CutLabelledValue, NothingAfterTheSeparatorGivesAnEmptyValue)
{
    cut with_end = cut_of("PSID:\n", "PSID");
    EXPECT_EQ(with_end.value, "");
    EXPECT_TRUE(with_end.had_text);

    cut blanks = cut_of("PSID:     \n", "PSID");
    EXPECT_EQ(blanks.value, "");
    EXPECT_TRUE(blanks.had_text);

    cut bare = cut_of("PSID:", "PSID");
    EXPECT_EQ(bare.value, "");
    EXPECT_FALSE(bare.had_text);

    cut short_line = cut_of("PSID", "PSID");
    EXPECT_EQ(short_line.value, "");
    EXPECT_FALSE(short_line.had_text);

    cut spaces_only = cut_of("PSID:   ", "PSID");
    EXPECT_EQ(spaces_only.value, "");
    EXPECT_FALSE(spaces_only.had_text);
}

TEST(CutLabelledValue, LineWithoutTheLabelGivesNothing)
{
    cut c = cut_of("Image type:            FS4\n", "PSID");
    EXPECT_FALSE(c.value.has_value());
    EXPECT_FALSE(c.had_text);
    EXPECT_FALSE(cut_of("-E- Cannot open Device: 0000:05:00.0. No such file or directory\n", "Base MAC").value);
}
