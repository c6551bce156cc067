// PCI enumeration of network adapters and the PCI address text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct pci_filter;

// The PCI classes (base class and subclass) of network adapters: InfiniBand
// serial bus, Ethernet, other network, InfiniBand network.
extern const std::array<int, 4> class_code;

// Lists one entry per PCI device (its lowest-numbered function) whose class
// is one of pmatch_pattern, in ascending address order: its address text in
// pppif and its vendor name in vendor_name. 0 when any was listed, else 1.
int get_interface_list(std::vector<std::string> &pppif, std::vector<std::string> &vendor_name,
                       const std::array<int, 4> &pmatch_pattern, int32_t *pif_count);

// Parses domain:bus:slot.function into the position fields of f; an empty
// or "*" field leaves its field as it was. Null on success, else the error.
const char *pci_filter_parse_pciid(pci_filter *f, const std::string &str);

// Case-insensitive order of two address texts: below, equal or above 0.
int cmp_pci_id_nums(const std::string &pci_id1, const std::string &pci_id2);

// "%04x:%02x:%02x.%d" of a function's position.
std::string pci_address_text(int domain, int bus, int slot, int func);
