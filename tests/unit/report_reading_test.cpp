// Bus addresses from a report: only the PCI form may reach a command line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/bus_address.h"

TEST(BusAddress, AcceptsOnlyThePciForm)
{
    for (const std::string good :
         {"0000:05:00.0", "0000:af:1f.7", "ABCD:EF:1F.3", "0:5:0.1", "05:00.0", "5:0.7", "1000abcd:05:00.0"})
        EXPECT_TRUE(is_pci_address(good)) << good;
    for (const std::string bad :
         {":05:00.0", "100000000:05:00.0", "0000:005:00.0", "005:00.0", "5:05:00:00.0", "0000:05:000.0",
          "0000:05:00.00", "0000:05:00.8", "0000:05:00.a", "", "0000:05:00", "0000:05:00.", "0000::00.0", ":.",
          "0000:05:00.0;reboot", "0000:05:00.0 ", " 0000:05:00.0", "0000:05:00.0\n", "$(id):05:00.0", "0000:0g:00.0"})
        EXPECT_FALSE(is_pci_address(bad)) << '"' << bad << '"';
    EXPECT_FALSE(is_pci_address(std::string("0000:05:00.0\0;x", 15)));
}
