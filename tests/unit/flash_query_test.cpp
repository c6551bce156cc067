// Cutting a labelled value from a line of the flash tool's query output.
#include <gtest/gtest.h>

#include "core/flash_query.h"

TEST(CutLabelledValue, CutsAtTheLabelsLengthPlusOneAndEndsAtTheFirstBlank)
{
    const std::vector<std::tuple<std::string, std::string, std::optional<std::string>, bool>> cases = {
        {"Base MAC:       b8cef6000510        4\n", "Base MAC", "b8cef6000510", true},
        {"Base MAC:\tb8cef6000510\t4\n", "Base MAC", "b8cef6000510", true},
        {"psid:  MT_1\r\n", "PSID", "MT_1", true},
        {"PSID: MT_2", "PSID", "MT_2", true},
        // Counted from the start of the line, wherever the label stands.
        {"Dev FW Version: 1.2.3\n", "FW Version", "ion:", true},
        // Nothing after the separator gives an empty value; a line end alone counts as text.
        {"PSID:\n", "PSID", "", true},
        {"PSID:     \n", "PSID", "", true},
        {"PSID:   ", "PSID", "", false},
        {"PSID:", "PSID", "", false},
        {"Image type:            FS4\n", "PSID", std::nullopt, false}};
    for (const auto &[line, label, value, text] : cases) {
        bool had_text = !text;
        EXPECT_EQ(cut_labelled_value(line, label, &had_text), value) << line;
        EXPECT_EQ(had_text, text) << line;
    }
}

TEST(QueryTimeLimit, WholeSecondsOfAtLeastOneElseTheDefault)
{
    const std::vector<std::pair<const char *, int>> cases = {
        {"1", 1}, {"90", 90}, {nullptr, 60}, {"", 60}, {"0", 60}, {"-5", 60}, {"1.5", 60}, {"12s", 60},
        {" 7", 60}, {"99999999999", 60}};
    for (const auto &[text, seconds] : cases)
        EXPECT_EQ(query_time_limit(text), seconds) << (text ? text : "(unset)");
}
