#pragma once

#include <string>
#include <vector>

#include "nic_info.h"

// Looks a catalog key up in nic_fw/NICFWData.xml. Replaces pXmlFwInfo with the
// matching entries in document order and counts them into
// g_ninfo[nic_count].fw_count; 1 when any matched, else 0. Ends the process
// with status 1 when the catalog cannot be opened.
int read_NIC_FW_xml_file(const std::string &pciIdString, std::vector<XMLFW_INFO> &pXmlFwInfo);
