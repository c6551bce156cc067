#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <libxml/xmlreader.h>

#include "nic_info.h"

// PSID of each report device, by device index.
extern std::vector<std::string> firmware_id;

// -u: burns the devices whose action in the report asks for it; 0 or 2.
int read_discovery_report();
void read_num_device_elements(xmlTextReaderPtr reader, int *count);
void process_node(xmlTextReaderPtr reader, nic_info *pCurNinfo, int *Idx);
void read_FW_cur_version(nic_info *pCurNinfo, const std::string &pImageType, const std::string &pVersion);
int32_t axtoi(const std::string &hexStg);
