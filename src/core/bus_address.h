// PCI bus-address texts: joining a report's address items and checking the form before a shell sees it.
#pragma once

#include <string>

// The bus address of a report device, "bus:device.function" of its three
// items, the bus item carrying the domain ("0000:05" "00" "0" give 0000:05:00.0).
std::string join_bus_address(const std::string &busnumber, const std::string &devicenumber,
                             const std::string &funcnumber);

// Whether text has the form of a PCI address: an optional domain of 1-8
// hexadecimal digits and ":", then 1-2 of bus, ":", 1-2 of device, ".", a
// function 0-7. Only such a text may be handed to a shell or to the flash tool.
bool is_pci_address(const std::string &text);
