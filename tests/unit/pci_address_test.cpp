// Parsing PCI address texts into a libpci filter.
#include <gtest/gtest.h>

extern "C" {
#include <pci/pci.h>
}

#include "discovery/pci_enum.h"

TEST(PciFilterParse, ReadsEachFieldOrNamesTheOneOutOfRange)
{
    const std::string missing = "Invalid input. Either colon or dot missing!";
    // Each case starts from 0009:08:04.3; "*" or an empty field keeps what was there.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0000:05:00.1", "0000:05:00.1"}, {"00aB:Fe:1f.7", "00ab:fe:1f.7"},
        {"0100:05:00.0", "0100:05:00.0"}, {"ffff:05:00.0", "ffff:05:00.0"},
        {"*:06:*.2", "0009:06:04.2"},     {"0000:05:00.*", "0000:05:00.3"},
        {"0000:05:00.8", "Invalid function number"}, {"0000:05:00.1x", "Invalid function number"},
        {"0000:05:20.0", "Invalid slot number"},     {"0000:zz:00.0", "Invalid bus number"},
        {"00g0:05:00.0", "Invalid domain number"},   {"0000:05:00", missing}, {"0000", missing}};
    for (const auto &[text, expected] : cases) {
        pci_filter f {};
        f.domain = 9, f.bus = 8, f.slot = 4, f.func = 3;
        const char *error = pci_filter_parse_pciid(&f, text);
        EXPECT_EQ(error ? error : pci_address_text(f.domain, f.bus, f.slot, f.func), expected) << text;
    }
}
