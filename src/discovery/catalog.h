// The firmware catalog nic_fw/NICFWData.xml and the key an adapter is looked up by.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "core/records.h"

// The catalog key of an adapter, "%04X-%04X-%04X-%04X-%s" of its vendor,
// device, subsystem vendor and subsystem device IDs and its PSID.
std::string catalog_key(const nic_info &nic, const std::string &psid);

// The catalog entries matching a key, in document order. The adapter's own
// subsystem IDs stand in for each entry's. Nothing when the catalog cannot be
// opened (logged): a fatal condition for the run.
std::optional<std::vector<XMLFW_INFO>> read_NIC_FW_xml_file(event_log &log, const std::string &pciIdString,
                                                            const nic_info &nic);

// The same lookup over a catalog held in memory; nothing when no reader could be made for it.
std::optional<std::vector<XMLFW_INFO>> read_NIC_FW_xml_memory(const std::string &catalog,
                                                              const std::string &pciIdString, const nic_info &nic);
