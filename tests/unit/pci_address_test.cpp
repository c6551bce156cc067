// The PCI address: the forms read and the one text written. (Its numeric order and device: Inventory's listing
// and QueryBatch.)
#include <gtest/gtest.h>

#include "core/pci_address.h"

TEST(PciAddress, ReadsOnlyThePciFormAndWritesItOneWay)
{
    // Each text with the address it reads as, "" when refused.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0000:05:00.1", "0000:05:00.1"}, {"00aB:Fe:1F.7", "00ab:fe:1f.7"}, {"0:5:0.1", "0000:05:00.1"},
        {"05:00.0", "0000:05:00.0"}, {"10000:02:00.0", "10000:02:00.0"}, {"7fffffff:05:20.0", "7fffffff:05:20.0"},
        {"80000000:05:00.0", ""}, {"100000000:05:00.0", ""}, {":05:00.0", ""}, {"0000:005:00.0", ""},
        {"5:05:00:00.0", ""}, {"0000:05:000.0", ""}, {"0000:05:00.00", ""}, {"0000:05:00.8", ""},
        {"0000:05:00.a", ""}, {"", ""}, {"0000:05:00", ""}, {"0000:05:00.", ""}, {"0000::00.0", ""},
        {"*:06:*.2", ""}, {"0000:05:00.0;reboot", ""}, {" 0000:05:00.0", ""}, {"0000:05:00.0\n", ""},
        {"0000:0g:00.0", ""}, {std::string("0000:05:00.0\0;x", 15), ""}};
    for (const auto &[text, read] : cases) {
        const std::optional<pci_address> address = pci_address::parse(text);
        EXPECT_EQ(address ? address->text() : "", read) << '"' << text << '"';
    }
}
