// Bus addresses: what the parser lets through to a command line is a PCI address and nothing else.
#include <vector>

#include "checks.h"
#include "core/pci_address.h"

namespace {

// The fields of an accepted text, read apart from the parser: [domain:]bus:slot.function.
std::vector<unsigned long> fields_of(const std::string &text)
{
    std::vector<unsigned long> fields;
    for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
        end = text.find_first_of(":.", start);
        fields.push_back(std::stoul(text.substr(start, end - start), nullptr, 16));
    }
    if (fields.size() == 3)
        fields.insert(fields.begin(), 0);
    return fields;
}

} // namespace

// The input is an address text.
check_result check_bus_address(std::string_view input)
{
    const std::string text(input);
    const std::optional<pci_address> address = pci_address::parse(text);
    if (!address)
        return std::nullopt;
    if (text.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
        return "the parser accepted " + printable(text) + ", which holds more than hexadecimal digits, ':' and '.'";
    const std::vector<unsigned long> fields {address->domain, address->bus, address->slot, address->function};
    if (fields_of(text) != fields || address->domain > 0x7fffffff || address->function > 7)
        return "the parser read " + printable(text) + " as " + address->text();
    // What rovan writes reads back to the same address, in a report's three items too.
    const bus_items items = bus_items_of(*address);
    if (pci_address::parse(address->text()) != address ||
        pci_address::parse(join_bus_address(items.busnumber, items.devicenumber, items.funcnumber)) != address)
        return "the address of " + printable(text) + " does not read back from " + address->text();
    return std::nullopt;
}
