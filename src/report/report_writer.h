// Writing the discovery report of an inventory.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <libxml/tree.h>
#include <libxml/xmlwriter.h>

#include "core/event_log.h"
#include "core/records.h"

// Writes one device element per complete port and saves the report at path, changing nothing in
// the ports; why it could not be written (logged), or nothing.
std::optional<std::string> xml_discovery_report(event_log &log, const std::vector<nic_info> &ports,
                                                const std::string &path);

// Makes the writer of a new document and writes the report's root and header
// items and opens its devices element; the writer is null (logged) when none
// could be made. These two answer whether every writer call succeeded.
bool write_XML_start_elements(event_log &log, xmlTextWriterPtr *writer, xmlDocPtr *doc);
bool write_XML_device_elements(event_log &log, xmlTextWriterPtr writer, const nic_info &nic);
