#include <gtest/gtest.h>

extern "C" {
#include <pci/pci.h>
}

#include "discovery/pci_enum.h"

namespace {

pci_filter any_position()
{
    pci_filter f {};
    f.domain = f.bus = f.slot = f.func = -1;
    f.vendor = f.device = -1;
    return f;
}

} // namespace

TEST(PciFilterParse, ReadsAFullAddress)
{
    pci_filter f = any_position();
    EXPECT_EQ(pci_filter_parse_pciid(&f, "0000:05:00.1"), nullptr);
    EXPECT_EQ(f.domain, 0);
    EXPECT_EQ(f.bus, 5);
    EXPECT_EQ(f.slot, 0);
    EXPECT_EQ(f.func, 1);
    EXPECT_EQ(f.vendor, -1);
    EXPECT_EQ(f.device, -1);
}

TEST(PciFilterParse, ReadsHexadecimalFieldsInEitherCase)
{
    pci_filter f = any_position();
    EXPECT_EQ(pci_filter_parse_pciid(&f, "00aB:Fe:1f.7"), nullptr);
    EXPECT_EQ(f.domain, 0xab);
    EXPECT_EQ(f.bus, 0xfe);
    EXPECT_EQ(f.slot, 0x1f);
    EXPECT_EQ(f.func, 7);
}

TEST(PciFilterParse, AcceptsEverySixteenBitDomain)
{
    pci_filter f = any_position();
    EXPECT_EQ(pci_filter_parse_pciid(&f, "0100:05:00.0"), nullptr);
    EXPECT_EQ(f.domain, 0x100);
    EXPECT_EQ(pci_filter_parse_pciid(&f, "ffff:05:00.0"), nullptr);
    EXPECT_EQ(f.domain, 0xffff);
}

TEST(PciFilterParse, StarOrEmptyFieldLeavesItAsItWas)
{
    pci_filter f = any_position();
    f.func = 3;
    EXPECT_EQ(pci_filter_parse_pciid(&f, "0000:05:00.*"), nullptr);
    EXPECT_EQ(f.func, 3);
    EXPECT_EQ(f.bus, 5);
    f.domain = 9;
    f.slot = 4;
    EXPECT_EQ(pci_filter_parse_pciid(&f, "*:06:*.2"), nullptr);
    EXPECT_EQ(f.domain, 9);
    EXPECT_EQ(f.bus, 6);
    EXPECT_EQ(f.slot, 4);
    EXPECT_EQ(f.func, 2);
}

TEST(PciFilterParse, NamesTheFieldThatIsOutOfRange)
{
    pci_filter f = any_position();
    EXPECT_STREQ(pci_filter_parse_pciid(&f, "0000:05:00.8"), "Invalid function number");
    EXPECT_STREQ(pci_filter_parse_pciid(&f, "0000:05:20.0"), "Invalid slot number");
    EXPECT_STREQ(pci_filter_parse_pciid(&f, "0000:zz:00.0"), "Invalid bus number");
    EXPECT_STREQ(pci_filter_parse_pciid(&f, "00g0:05:00.0"), "Invalid domain number");
    EXPECT_STREQ(pci_filter_parse_pciid(&f, "0000:05:00.1x"), "Invalid function number");
}

TEST(PciFilterParse, NeedsBothColonAndDot)
{
    pci_filter f = any_position();
    EXPECT_STREQ(pci_filter_parse_pciid(&f, "0000:05:00"), "Invalid input. Either colon or dot missing!");
    EXPECT_STREQ(pci_filter_parse_pciid(&f, "0000"), "Invalid input. Either colon or dot missing!");
}

TEST(PciAddressText, WritesTheFixedWidthForm)
{
    EXPECT_EQ(pci_address_text(0, 5, 0, 1), "0000:05:00.1");
    EXPECT_EQ(pci_address_text(0x100, 0x81, 0x1f, 7), "0100:81:1f.7");
}

TEST(CmpPciIdNums, OrdersAddressesWithoutRegardToCase)
{
    EXPECT_EQ(cmp_pci_id_nums("0000:0A:00.0", "0000:0a:00.0"), 0);
    EXPECT_LT(cmp_pci_id_nums("0000:05:00.0", "0000:0a:00.0"), 0);
    EXPECT_GT(cmp_pci_id_nums("0000:81:00.0", "0000:0A:00.0"), 0);
    EXPECT_LT(cmp_pci_id_nums("0000:ff:1f.7", "0100:00:00.0"), 0);
}
