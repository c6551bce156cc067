#include <gtest/gtest.h>

#include "flash/versions.h"
#include "globals.h"

namespace {

using triple = std::array<uint32_t, 3>;
using Rows = std::vector<std::string>;

triple parsed(const std::string &text)
{
    triple t {99, 99, 99};
    EXPECT_EQ(parseversions(text, &t[0], &t[1], &t[2]), 0);
    return t;
}

} // namespace

TEST(ParseVersions, ReadsEachFieldAsAtoiDoesAndNothingPastTheThird)
{
    const std::vector<std::pair<std::string, triple>> cases = {
        {"16.35.2000\n", {16, 35, 2000}}, {"3.1", {3, 1, 0}}, {"n/a", {0, 0, 0}}, {"1.2.3.4", {1, 2, 3}},
        {" 2.42.5000", {2, 42, 5000}}, {"x2.4b.1c", {0, 4, 1}}, {"1234.56789.1234567", {1234, 56789, 1234567}},
        {"4294967295.0.0", {4294967295u, 0, 0}}, {"99999999999.1.2", {4294967295u, 1, 2}}};
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(parsed(text), expected) << text;
}

TEST(VersionOrder, MajorThenMinorThenReleaseAsUnsignedNumbers)
{
    const std::vector<std::pair<triple, triple>> lower_higher = {
        {{2, 9, 1000}, {2, 10, 500}}, {{2, 42, 5000}, {16, 35, 2000}}, {{2, 40, 7000}, {2, 42, 5000}},
        {{2, 42, 5000}, {2, 42, 5100}}, {{1, 23, 4}, {12, 3, 4}}, {{2147483647, 0, 0}, {2147483648u, 0, 0}}};
    for (const auto &[lo, hi] : lower_higher) {
        SCOPED_TRACE(version_text(lo[0], lo[1], lo[2]) + " < " + version_text(hi[0], hi[1], hi[2]));
        EXPECT_LT(fw_sort_key(lo[0], lo[1], lo[2]), fw_sort_key(hi[0], hi[1], hi[2]));
        EXPECT_TRUE(version_newer(hi[0], hi[1], hi[2], lo[0], lo[1], lo[2]));
        EXPECT_FALSE(version_newer(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]));
    }
    EXPECT_FALSE(version_newer(2, 42, 5000, 2, 42, 5000));
}

TEST(SortFw, SortsThePortsCountStablyWithTheKeysAlongside)
{
    // "5.0", "5.0.0" and "05.0.0" are one version: catalog order decides among them.
    const std::vector<std::tuple<Rows, int, Rows>> cases = {
        {{"2.42.5000", "2.9.1000", "2.10.700", "16.35.2000"}, 4, {"2.9.1000", "2.10.700", "2.42.5000", "16.35.2000"}},
        {{"5.0", "5.0.0", "1.0.0", "05.0.0"}, 4, {"1.0.0", "5.0", "5.0.0", "05.0.0"}},
        {{"3.0.0", "2.0.0", "1.0.0"}, 2, {"2.0.0", "3.0.0", "1.0.0"}},
        {{"2.0.0", "1.0.0"}, 5, {"1.0.0", "2.0.0"}},
        {Rows {}, 0, Rows {}}};
    auto key_of = [](const std::string &row) { const triple t = parsed(row); return fw_sort_key(t[0], t[1], t[2]); };
    for (auto [rows, fw_count, expected] : cases) {
        SCOPED_TRACE(::testing::PrintToString(rows));
        g_ninfo.assign(1, nic_info{});
        g_ninfo[0].fw_count = fw_count;
        std::vector<fw_key> keys;
        for (const auto &row : rows)
            keys.push_back(key_of(row));
        sort_fw(0, rows, keys);
        EXPECT_EQ(rows, expected);
        for (size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(keys[i], key_of(rows[i])) << "key left its row at " << i;
    }
}
