#pragma once

// The machine side of the simulated server: sysfs entries and the PCI ID database.

#include <string>

#include "sim_server.h"

namespace sim::sysfs {

// <root>/sys/bus/pci/devices/<address>/ with the attribute files libpci and
// the utility read, and the /sys/class/net link when the function has one.
void write_function(const std::string &root, const PciFunction &fn);

// Names vendors 15b3 and 8086 with a few of their network devices.
std::string default_pci_ids();

} // namespace sim::sysfs
