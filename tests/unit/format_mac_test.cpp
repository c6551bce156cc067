#include <gtest/gtest.h>

#include "flash/flash_exec.h"

// Separators go, everything else stays: the flash tool reports MACs without them.
TEST(FormatMac, RemovesOnlySeparators)
{
    const std::vector<std::pair<std::string, std::string>> cases {
        {"00:02:c9:12:34:56", "0002c9123456"}, {"00-02-C9-12-34-56", "0002C9123456"},
        {"0002.c912.3456", "0002c9123456"},    {"b8cef6000510", "b8cef6000510"},
        {"00:02", "0002"},                     {"N/A", "N/A"},
        {":", ""},                             {"", ""},
    };
    for (const auto &[mac, expected] : cases)
        EXPECT_EQ(format_mac(mac), expected) << mac;
}
