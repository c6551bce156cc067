// The pure parts of reading a report: hexadecimal IDs and bus addresses.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/bus_address.h"
#include "report/report_update.h"

// Up to four characters; the punctuation from 0x2A to 0x3F counts as digits worth their low four bits.
TEST(Axtoi, FollowsItsCharacterRule)
{
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"15B3", 0x15B3}, {"15b3", 0x15B3}, {"AbCd", 0xABCD}, {"15B3F", 0x15B3}, {"7", 0x7},  {"", 0},
        {"0x10", 0},      {"1g23", 1},      {" 15B3", 0},     {"15 B3", 0x15},   {"*", 0xA},  {"?", 0xF},
        {"1-2.", 0x1D2E}, {"G", 0},         {"a`", 0xA},      {"A@", 0xA}};
    for (const auto &[text, value] : cases)
        EXPECT_EQ(axtoi(text), value) << '"' << text << '"';
}

TEST(BusAddress, AcceptsOnlyThePciForm)
{
    for (const std::string good : {"0000:05:00.0", "0000:af:1f.7", "ABCD:EF:1F.3", "0:5:0.1"})
        EXPECT_TRUE(is_pci_address(good)) << good;
    for (const std::string bad :
         {"05:00.0", ":05:00.0", "00000:05:00.0", "0000:005:00.0", "0000:05:000.0", "0000:05:00.00", "0000:05:00.8",
          "0000:05:00.a", "", "0000:05:00", "0000:05:00.", "0000::00.0", ":.", "0000:05:00.0;reboot",
          "0000:05:00.0 ", " 0000:05:00.0", "0000:05:00.0\n", "$(id):05:00.0", "0000:0g:00.0"})
        EXPECT_FALSE(is_pci_address(bad)) << '"' << bad << '"';
    EXPECT_FALSE(is_pci_address(std::string("0000:05:00.0\0;x", 15)));
}
