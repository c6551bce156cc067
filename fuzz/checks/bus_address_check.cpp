// Bus addresses: what the check lets through to a command line is a PCI address and nothing else.
#include <cctype>

extern "C" {
#include <pci/pci.h>
}

#include "checks.h"
#include "core/bus_address.h"
#include "discovery/pci_enum.h"
#include "support.h"

namespace {

// The form the enumeration writes, "%04x:%02x:%02x.%d" in either case, with
// a device number a PCI bus can have (the check itself does not look at it).
bool canonical_form(const std::string &text)
{
    if (text.size() != 12 || text[4] != ':' || text[7] != ':' || text[10] != '.')
        return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11}) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return std::stoi(text.substr(8, 2), nullptr, 16) <= 0x1f;
}

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

check_result check_accepted(const std::string &text)
{
    if (!is_pci_address(text))
        return std::nullopt;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
            return "is_pci_address accepted " + printable(text) + ", which holds more than hexadecimal digits, ':' and '.'";
    }
    // The enumeration's own parser reads what it wrote to the same numbers.
    if (canonical_form(text)) {
        pci_filter f {};
        if (const char *error = pci_filter_parse_pciid(&f, text))
            return "pci_filter_parse_pciid refused " + printable(text) + ": " + error;
        if (pci_address_text(f.domain, f.bus, f.slot, f.func) != lower(text))
            return "pci_filter_parse_pciid read " + printable(text) + " as " +
                   printable(pci_address_text(f.domain, f.bus, f.slot, f.func));
    }
    return std::nullopt;
}

check_result check_parsed(const std::string &text)
{
    pci_filter f {};
    f.domain = f.bus = f.slot = f.func = -1;
    if (pci_filter_parse_pciid(&f, text))
        return std::nullopt;
    // A domain is read whole (volume-management domains reach past 0xffff); the other fields have PCI's ranges.
    if (f.bus > 0xff || f.slot > 0x1f || f.func > 7)
        return "pci_filter_parse_pciid accepted " + printable(text) + " with a field out of range";
    if (f.domain >= 0 && f.bus >= 0 && f.slot >= 0 && f.func >= 0 &&
        !is_pci_address(pci_address_text(f.domain, f.bus, f.slot, f.func)))
        return "the address parsed from " + printable(text) + " does not print as a PCI address";
    return std::nullopt;
}

} // namespace

// The input is an address text; with two line ends in it, also a report's bus, device and function items.
check_result check_bus_address(std::string_view input)
{
    const std::string text(input);
    if (check_result failed = check_accepted(text))
        return failed;
    if (check_result failed = check_parsed(text))
        return failed;
    const std::vector<std::string> items = split_at(input, '\n');
    if (items.size() == 3) {
        const std::string joined = join_bus_address(items[0], items[1], items[2]);
        if (check_result failed = check_accepted(joined))
            return failed;
    }
    return std::nullopt;
}
