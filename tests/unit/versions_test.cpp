#include <gtest/gtest.h>

#include <cstdint>

#include "flash/versions.h"
#include "globals.h"

namespace {

struct triple {
    uint32_t maj = 99, min = 99, rel = 99;
};

triple parsed(const std::string &text)
{
    triple t;
    EXPECT_EQ(parseversions(text, &t.maj, &t.min, &t.rel), 0);
    return t;
}

#define EXPECT_TRIPLE(text, a, b, c)                                                                                  \
    do {                                                                                                               \
        triple t_ = parsed(text);                                                                                      \
        EXPECT_EQ(t_.maj, a##u) << (text);                                                                             \
        EXPECT_EQ(t_.min, b##u) << (text);                                                                             \
        EXPECT_EQ(t_.rel, c##u) << (text);                                                                             \
    } while (0)

// Sorts the texts of one port as the callers do and returns them in order.
std::vector<std::string> sorted_versions(const std::vector<std::string> &texts, int fw_count)
{
    g_ninfo.assign(1, nic_info{});
    g_ninfo[0].fw_count = fw_count;
    std::vector<std::string> rows;
    std::vector<fw_key> keys;
    for (const auto &text : texts) {
        triple t = parsed(text);
        rows.push_back(version_text(t.maj, t.min, t.rel));
        keys.push_back(fw_sort_key(t.maj, t.min, t.rel));
    }
    sort_fw(0, rows, keys);
    for (size_t i = 0; i < rows.size(); ++i) {
        triple t = parsed(rows[i]);
        EXPECT_EQ(keys[i], fw_sort_key(t.maj, t.min, t.rel)) << "key left its row at " << i;
    }
    return rows;
}

} // namespace

TEST(ParseVersions, ReadsThreeFields)
{
    EXPECT_TRIPLE("2.42.5000", 2, 42, 5000);
    EXPECT_TRIPLE("16.35.2000\n", 16, 35, 2000);
}

TEST(ParseVersions, MissingFieldsAreZero)
{
    EXPECT_TRIPLE("3.1", 3, 1, 0);
    EXPECT_TRIPLE("", 0, 0, 0);
    EXPECT_TRIPLE("n/a", 0, 0, 0);
}

TEST(ParseVersions, IgnoresTextAfterAThirdDot)
{
    EXPECT_TRIPLE("1.2.3.4", 1, 2, 3);
}

TEST(ParseVersions, ReadsEachFieldAsAtoiDoes)
{
    EXPECT_TRIPLE(" 2.42.5000", 2, 42, 5000);
    EXPECT_TRIPLE("x2.4.1", 0, 4, 1);
    EXPECT_TRIPLE("2a.4b.1c", 2, 4, 1);
}

TEST(ParseVersions, ReadsLongFieldsWhole)
{
    EXPECT_TRIPLE("1234.56789.1234567", 1234, 56789, 1234567);
    EXPECT_TRIPLE("4294967295.0.0", 4294967295, 0, 0);
}

TEST(ParseVersions, HoldsNumbersBeyondTheFieldAtItsLargestValue)
{
    EXPECT_TRIPLE("99999999999.1.2", 4294967295, 1, 2);
}

TEST(FwSortKey, OrdersByNumbersFieldByField)
{
    EXPECT_LT(fw_sort_key(2, 9, 1000), fw_sort_key(2, 10, 500));
    EXPECT_LT(fw_sort_key(2, 42, 5000), fw_sort_key(16, 35, 2000));
    EXPECT_LT(fw_sort_key(2, 40, 7000), fw_sort_key(2, 42, 5000));
    EXPECT_LT(fw_sort_key(2, 42, 5000), fw_sort_key(2, 42, 5100));
    EXPECT_NE(fw_sort_key(1, 23, 4), fw_sort_key(12, 3, 4));
    EXPECT_EQ(fw_sort_key(2, 42, 5000), fw_sort_key(2, 42, 5000));
    EXPECT_LT(fw_sort_key(2147483647, 0, 0), fw_sort_key(2147483648u, 0, 0));
}

TEST(SortFw, OrdersRowsNumerically)
{
    EXPECT_EQ(sorted_versions({"2.42.5000", "2.9.1000", "2.10.700", "16.35.2000"}, 4),
              (std::vector<std::string>{"2.9.1000", "2.10.700", "2.42.5000", "16.35.2000"}));
    EXPECT_EQ(sorted_versions({"2.42.5100", "2.40.7000", "2.42.5000"}, 3),
              (std::vector<std::string>{"2.40.7000", "2.42.5000", "2.42.5100"}));
}

TEST(SortFw, OneRowOrNoneStayAsTheyAre)
{
    EXPECT_EQ(sorted_versions({"2.42.5000"}, 1), (std::vector<std::string>{"2.42.5000"}));
    EXPECT_EQ(sorted_versions({}, 0), (std::vector<std::string>{}));
}

TEST(SortFw, SortsOnlyThePortsCount)
{
    EXPECT_EQ(sorted_versions({"3.0.0", "2.0.0", "1.0.0"}, 2), (std::vector<std::string>{"2.0.0", "3.0.0", "1.0.0"}));
}

TEST(SortFw, KeepsCatalogOrderAmongEqualVersions)
{
    g_ninfo.assign(1, nic_info{});
    g_ninfo[0].fw_count = 3;
    std::vector<std::string> rows = {"A", "B", "C"};
    std::vector<fw_key> keys = {fw_sort_key(5, 0, 0), fw_sort_key(5, 0, 0), fw_sort_key(1, 0, 0)};
    sort_fw(0, rows, keys);
    EXPECT_EQ(rows, (std::vector<std::string>{"C", "A", "B"}));
}

TEST(SortFw, SortsMoreThanFiftyRowsInFull)
{
    std::vector<std::string> texts;
    for (int i = 119; i >= 0; --i)
        texts.push_back("2." + std::to_string(i) + ".0");
    std::vector<std::string> rows = sorted_versions(texts, 120);
    ASSERT_EQ(rows.size(), 120u);
    for (int i = 0; i < 120; ++i)
        EXPECT_EQ(rows[static_cast<size_t>(i)], "2." + std::to_string(i) + ".0");
}

TEST(SortFw, ToleratesACountBeyondTheRowsGiven)
{
    EXPECT_EQ(sorted_versions({"2.0.0", "1.0.0"}, 5), (std::vector<std::string>{"1.0.0", "2.0.0"}));
}

TEST(VersionText, WritesThreeDecimalFields)
{
    EXPECT_EQ(version_text(2, 42, 5000), "2.42.5000");
    EXPECT_EQ(version_text(0, 0, 0), "0.0.0");
    EXPECT_EQ(version_text(2147483647, 1, 2), "2147483647.1.2");
}

TEST(VersionText, WritesLargeFieldsAsTheyReadBack)
{
    EXPECT_EQ(version_text(4294967295u, 3000000000u, 7), "4294967295.3000000000.7");
    EXPECT_TRIPLE(version_text(4294967295u, 3000000000u, 7), 4294967295, 3000000000, 7);
}

TEST(VersionNewer, ComparesFieldByField)
{
    EXPECT_TRUE(version_newer(2, 10, 0, 2, 9, 9999));
    EXPECT_TRUE(version_newer(16, 35, 2000, 2, 42, 5000));
    EXPECT_TRUE(version_newer(2, 42, 5001, 2, 42, 5000));
    EXPECT_FALSE(version_newer(2, 42, 5000, 2, 42, 5000));
    EXPECT_FALSE(version_newer(2, 9, 1000, 2, 10, 500));
}
