// The firmware item of a report device: its versions and the recommended action.
#pragma once

#include <string>

#include <libxml/xmlwriter.h>

#include "core/event_log.h"
#include "core/records.h"

// Writes the fw_item of a record: one per image type of the record. False
// when a writer call failed.
bool write_XML_FW_item(event_log &log, xmlTextWriterPtr writer, const nic_info &nic);

// The highest catalog version of a record; empty when it has no image.
void build_XML_FW_item_version(const std::string &pFwtype, std::string &pAttribute, const nic_info &nic);

// The installed version of a record.
void build_XML_FW_item_active_version(const std::string &pFwtype, std::string &pAttribute, const nic_info &nic);

// "upgrade", "rewrite", "downgrade" or "Nothing": the first two ask a report-driven update to burn.
void recommend_XML_FW_action(const std::string &pFwtype, std::string &pAttribute, const nic_info &nic);
