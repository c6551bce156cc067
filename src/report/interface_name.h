// The network interface name of a PCI function, for the report's device_id.
#pragma once

#include <optional>
#include <string>

// The network interface of a PCI function: among the links of /sys/class/net,
// taken in name order, the first whose name or target holds the bus address
// (letters in either case), named by the last component of its target.
// Nothing when no link matches.
std::optional<std::string> find_interface_name(const std::string &bus_address);
