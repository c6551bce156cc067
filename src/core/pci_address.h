// A PCI function's address: domain, bus, device (slot) and function, with its one text form and its order.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct pci_address {
    uint32_t domain = 0;
    uint8_t bus = 0;
    uint8_t slot = 0; // the device number; device() is the whole device
    uint8_t function = 0;

    // "[domain:]bus:slot.function" in either case: an optional domain of 1-8 hexadecimal digits, 1-2
    // digits of bus and of slot, a function 0-7, and nothing else, so that only an address reaches a
    // command line. No domain is domain 0; one above 0x7fffffff is refused, as libpci holds an int.
    static std::optional<pci_address> parse(std::string_view text);

    // "%04x:%02x:%02x.%d", as the enumeration lists it and the flash tool is given it.
    std::string text() const;

    // The PCI device, whose functions share one flash: the address with its function left out (as 0).
    pci_address device() const { return {domain, bus, slot, 0}; }

    // Numeric: domain, then bus, slot and function, whatever width the domain's text has.
    auto operator<=>(const pci_address &) const = default;
};

// A report names an address by three items, the bus item carrying the domain: "0000:05", "00", "0".
struct bus_items {
    std::string busnumber;
    std::string devicenumber;
    std::string funcnumber;
};
bus_items bus_items_of(const pci_address &address);

// The address text of a report's three items as they stand ("05" "00" "0" give 05:00.0), which may
// not be an address at all.
std::string join_bus_address(const std::string &busnumber, const std::string &devicenumber,
                             const std::string &funcnumber);
