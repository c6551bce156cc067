#include <gtest/gtest.h>

#include "report/bus_address.h"

TEST(BusAddress, JoinsTheThreeReportItems)
{
    EXPECT_EQ(join_bus_address("0000:05", "00", "0"), "0000:05:00.0");
    EXPECT_EQ(join_bus_address("", "", ""), ":.");
}

TEST(BusAddress, AcceptsPciAddresses)
{
    EXPECT_TRUE(is_pci_address("0000:05:00.0"));
    EXPECT_TRUE(is_pci_address("0000:af:1f.7"));
    EXPECT_TRUE(is_pci_address("ABCD:EF:1F.3"));
    EXPECT_TRUE(is_pci_address("0:5:0.1"));
}

TEST(BusAddress, RequiresTheDomain)
{
    EXPECT_FALSE(is_pci_address("05:00.0"));
    EXPECT_FALSE(is_pci_address(":05:00.0"));
}

TEST(BusAddress, RefusesFieldsTooLong)
{
    EXPECT_FALSE(is_pci_address("00000:05:00.0"));
    EXPECT_FALSE(is_pci_address("0000:005:00.0"));
    EXPECT_FALSE(is_pci_address("0000:05:000.0"));
    EXPECT_FALSE(is_pci_address("0000:05:00.00"));
}

TEST(BusAddress, RefusesFunctionsAboveSeven)
{
    EXPECT_FALSE(is_pci_address("0000:05:00.8"));
    EXPECT_FALSE(is_pci_address("0000:05:00.a"));
}

TEST(BusAddress, RefusesMissingParts)
{
    EXPECT_FALSE(is_pci_address(""));
    EXPECT_FALSE(is_pci_address("0000:05:00"));
    EXPECT_FALSE(is_pci_address("0000:05:00."));
    EXPECT_FALSE(is_pci_address("0000::00.0"));
    EXPECT_FALSE(is_pci_address(":."));
}

TEST(BusAddress, RefusesShellSyntaxAndWhiteSpace)
{
    EXPECT_FALSE(is_pci_address("0000:05;touch pwned:00.0"));
    EXPECT_FALSE(is_pci_address("0000:05:00.0;reboot"));
    EXPECT_FALSE(is_pci_address("0000:05:00.0 "));
    EXPECT_FALSE(is_pci_address(" 0000:05:00.0"));
    EXPECT_FALSE(is_pci_address("0000:05:00.0\n"));
    EXPECT_FALSE(is_pci_address("$(id):05:00.0"));
    EXPECT_FALSE(is_pci_address("0000:0g:00.0"));
}

TEST(BusAddress, RefusesAnEmbeddedNul)
{
    EXPECT_FALSE(is_pci_address(std::string("0000:05:00.0\0;x", 15)));
}
