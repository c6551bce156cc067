// Reading a discovery report back into device records, for the report-driven update.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <libxml/xmlreader.h>

#include "core/event_log.h"
#include "core/records.h"

// One device of a report: its record (flash-request bit set when its action
// asks for a burn) and the PSID its firmware item names.
struct report_device {
    nic_info rec;
    std::string firmware_id;
    bool has_action = false; // without an action item a device asks for nothing
};

// What the second pass has read so far.
struct report_reading {
    std::vector<report_device> devices; // sized by the first pass
    int idx = 0;                        // the device being read; past the last one, items are dropped
    std::string current_image_type;     // the text of the most recent "type" item, carried from node to node
};

// Reads the report in two passes (count the devices, then fill them); nothing, with why in *failure
// when one is given, when it cannot be opened or is not well-formed (logged).
std::optional<std::vector<report_device>> read_report_devices(event_log &log, const std::string &path,
                                                              std::string *failure = nullptr);

// The same over a report held in memory; name stands for it in the log.
std::optional<std::vector<report_device>> read_report_devices_from_memory(event_log &log, const std::string &text,
                                                                          const std::string &name);

void read_num_device_elements(xmlTextReaderPtr reader, int *count);
void process_node(event_log &log, xmlTextReaderPtr reader, report_reading &reading);
void read_FW_cur_version(event_log &log, nic_info *pCurNinfo, const std::string &pImageType,
                         const std::string &pVersion);
int32_t axtoi(const std::string &hexStg);
