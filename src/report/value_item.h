// The report's value items and libxml2's text types.
#pragma once

#include <string>

#include <libxml/xmlwriter.h>

#include "core/event_log.h"
#include "core/records.h"

// Writes one data item of the report: <name value="..."/>. False when a
// writer call failed.
bool write_value_item(xmlTextWriterPtr writer, const char *name, const std::string &value);

// The value of item name of a device, from sysfs or the flash tool, as XML
// can carry it: each byte that is a control character (other than tab, line
// feed and carriage return), not UTF-8, or part of a character XML excludes
// becomes "?". A value that had to change is logged with its item and device.
std::string carried_value(event_log &log, const char *name, const std::string &value, const nic_info &nic);

// The XML name and text types of libxml2, from plain C strings.
const xmlChar *xml_text(const char *text);
