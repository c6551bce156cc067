// The report's value items and libxml2's text types.
#pragma once

#include <string>

#include <libxml/xmlwriter.h>

// Writes one data item of the report: <name value="..."/>. The writer's own
// results are not examined; a failed writer shows when the document is ended.
void write_value_item(xmlTextWriterPtr writer, const char *name, const std::string &value);

// The XML name and text types of libxml2, from plain C strings.
const xmlChar *xml_text(const char *text);
