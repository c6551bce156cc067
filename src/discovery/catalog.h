#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nic_info.h"

// Looks a catalog key up in nic_fw/NICFWData.xml. Replaces pXmlFwInfo with the
// matching entries in document order and counts them into
// g_ninfo[nic_count].fw_count; 1 when any matched, else 0. Ends the process
// with status 1 when the catalog cannot be opened.
int read_NIC_FW_xml_file(const std::string &pciIdString, std::vector<XMLFW_INFO> &pXmlFwInfo);

// A PCI ID as the catalog key and the report write it: "%04X".
std::string pci_id_text(int32_t id);

// The catalog key of an adapter, "%04X-%04X-%04X-%04X-%s" of its vendor,
// device, subsystem vendor and subsystem device IDs and its PSID. Also sets
// sub_ven_id_new and sub_dev_id_new, which the lookup puts into the key.
std::string catalog_key(const nic_info &nic, const std::string &psid);
