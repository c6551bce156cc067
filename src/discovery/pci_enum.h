// PCI enumeration of network adapters.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/pci_address.h"

// The PCI classes (base class and subclass) of network adapters: InfiniBand
// serial bus, Ethernet, other network, InfiniBand network.
extern const std::array<int, 4> class_code;

// Lists one entry per PCI device (its lowest-numbered function) whose class
// is one of pmatch_pattern, in ascending address order: its address in pppif
// and its vendor name in vendor_name. 0 when any was listed, else 1.
int get_interface_list(std::vector<pci_address> &pppif, std::vector<std::string> &vendor_name,
                       const std::array<int, 4> &pmatch_pattern, int32_t *pif_count);
