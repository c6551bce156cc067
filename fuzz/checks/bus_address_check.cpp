// Bus addresses: what the check lets through to a command line is a PCI address and nothing else.
#include <algorithm>
#include <cctype>

extern "C" {
#include <pci/pci.h>
}

#include "checks.h"
#include "core/bus_address.h"
#include "discovery/pci_enum.h"
#include "support.h"

namespace {

check_result check_accepted(const std::string &text)
{
    if (!is_pci_address(text))
        return std::nullopt;
    if (text.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
        return "is_pci_address accepted " + printable(text) + ", which holds more than hexadecimal digits, ':' and '.'";
    // The form the enumeration writes ("%04x:%02x:%02x.%d" in either case, with a device number a PCI bus can
    // have, which the check itself does not look at) its own parser reads to the same numbers.
    if (text.size() != 12 || text[4] != ':' || text[7] != ':' || std::stoi(text.substr(8, 2), nullptr, 16) > 0x1f)
        return std::nullopt;
    pci_filter f {};
    const char *error = pci_filter_parse_pciid(&f, text);
    std::string lower = text;
    std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (error || pci_address_text(f.domain, f.bus, f.slot, f.func) != lower)
        return "pci_filter_parse_pciid read " + printable(text) + " as " +
               (error ? error : printable(pci_address_text(f.domain, f.bus, f.slot, f.func)));
    return std::nullopt;
}

} // namespace

// The input is an address text; with two line ends in it, also a report's bus, device and function items.
check_result check_bus_address(std::string_view input)
{
    const std::string text(input);
    if (check_result failed = check_accepted(text))
        return failed;
    pci_filter f {};
    f.domain = f.bus = f.slot = f.func = -1;
    if (!pci_filter_parse_pciid(&f, text)) {
        // A domain is read whole (volume-management domains reach past 0xffff); the other fields have PCI's ranges.
        if (f.bus > 0xff || f.slot > 0x1f || f.func > 7)
            return "pci_filter_parse_pciid accepted " + printable(text) + " with a field out of range";
        if (f.domain >= 0 && f.bus >= 0 && f.slot >= 0 && f.func >= 0 &&
            !is_pci_address(pci_address_text(f.domain, f.bus, f.slot, f.func)))
            return "the address parsed from " + printable(text) + " does not print as a PCI address";
    }
    const size_t first = text.find('\n'), second = text.find('\n', first + 1);
    if (second == std::string::npos || text.find('\n', second + 1) != std::string::npos)
        return std::nullopt;
    return check_accepted(join_bus_address(text.substr(0, first), text.substr(first + 1, second - first - 1),
                                           text.substr(second + 1)));
}
