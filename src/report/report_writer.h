#pragma once

#include <libxml/tree.h>
#include <libxml/xmlwriter.h>

// -d: writes the discovery report to g_XMLDiscoveryReport; 0 written, 2 not.
int discover_HW();
void xml_discovery_report();
void write_XML_start_elements(xmlTextWriterPtr *writer, xmlDocPtr *doc);
void write_XML_device_elements(xmlTextWriterPtr *writer, int IdxNic);
