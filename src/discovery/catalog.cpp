// Reading the firmware catalog and matching its entries against an adapter's key.
#include "discovery/catalog.h"

#include <climits>
#include <memory>

#include <libxml/xmlreader.h>

#include "core/package_files.h"

namespace {

opt_text text_of(const xmlChar *value)
{
    if (!value)
        return std::nullopt;
    return std::string(reinterpret_cast<const char *>(value));
}

// "%4s": shorter fields are padded on the left with blanks, so they never
// equal a four-digit key group.
std::string padded4(const std::string &field)
{
    return field.size() < 4 ? std::string(4 - field.size(), ' ') + field : field;
}

// The comparison key of the working entry; nothing while it lacks a part.
std::optional<std::string> entry_key(const XMLFW_INFO &e)
{
    if (!e.pxmlVenId || !e.pxmlDevId || !e.pxmlSubVenId || !e.pxmlSubDevId || !e.pxmlPSID)
        return std::nullopt;
    return padded4(*e.pxmlVenId) + "-" + padded4(*e.pxmlDevId) + "-" + padded4(*e.pxmlSubVenId) + "-" +
           padded4(*e.pxmlSubDevId) + "-" + *e.pxmlPSID;
}

XMLFW_INFO accepted_copy(const XMLFW_INFO &e)
{
    XMLFW_INFO copy;
    copy.pxmlVenId = e.pxmlVenId;
    copy.pxmlDevId = e.pxmlDevId;
    copy.pxmlSubVenId = e.pxmlSubVenId;
    copy.pxmlPSID = e.pxmlPSID;
    copy.pxmlSubDevId = e.pxmlSubDevId;
    copy.pxmlName = e.pxmlName;
    return copy;
}

struct reader_closer {
    void operator()(xmlTextReader *r) const { xmlFreeTextReader(r); }
};

// Walks the attributes of the node the reader stands on. The working entry
// is carried from node to node on purpose: the catalog's entries rely on it.
void scan_node_attributes(xmlTextReaderPtr reader, const std::string &pciIdString, const nic_info &nic,
                          XMLFW_INFO &working, std::vector<XMLFW_INFO> &found)
{
    const int count = xmlTextReaderAttributeCount(reader);
    for (int i = 0; i < count; ++i) {
        if (xmlTextReaderMoveToNextAttribute(reader) != 1)
            continue;
        const std::string name = reinterpret_cast<const char *>(xmlTextReaderConstName(reader));
        const xmlChar *value = xmlTextReaderConstValue(reader);
        if (name == "name") {
            working.pxmlName = text_of(value);
        } else if (name == "venid") {
            working.pxmlVenId = text_of(value);
        } else if (name == "devid") {
            working.pxmlDevId = text_of(value);
        } else if (name == "PSID") {
            working.pxmlPSID = text_of(value);
        } else if (name == "subvenid") {
            // The adapter's own subsystem IDs stand in for the catalog's.
            working.pxmlSubVenId = pci_id_text(nic.sub_ven_id);
        } else if (name == "subdevid") {
            working.pxmlSubDevId = pci_id_text(nic.sub_dev_id);
            if (entry_key(working) != pciIdString)
                return;
            found.push_back(accepted_copy(working));
        } else if (name == "rom") {
            if (!found.empty())
                found.back().pxmlRom = text_of(value);
        } else if (name == "fwFile") {
            if (!found.empty())
                found.back().pxmlFwImage = text_of(value);
        }
    }
}

// Every entry of the catalog the reader stands before that matches the key, in document order.
std::vector<XMLFW_INFO> scan_catalog(xmlTextReaderPtr reader, const std::string &pciIdString, const nic_info &nic)
{
    std::vector<XMLFW_INFO> found;
    XMLFW_INFO working;
    while (xmlTextReaderRead(reader) == 1)
        scan_node_attributes(reader, pciIdString, nic, working, found);
    return found;
}

} // namespace

std::string catalog_key(const nic_info &nic, const std::string &psid)
{
    return pci_id_text(nic.ven_id) + "-" + pci_id_text(nic.dev_id) + "-" + pci_id_text(nic.sub_ven_id) + "-" +
           pci_id_text(nic.sub_dev_id) + "-" + psid;
}

std::optional<std::vector<XMLFW_INFO>> read_NIC_FW_xml_file(event_log &log, const std::string &pciIdString,
                                                            const nic_info &nic)
{
    xmlCheckVersion(20706);
    std::unique_ptr<xmlTextReader, reader_closer> reader(xmlReaderForFile(k_catalog_file, nullptr, 0));
    if (!reader) {
        log_mellanox_event(log, LOG_ERROR, std::string("Unable to open ") + k_catalog_file + "\n");
        return std::nullopt;
    }
    return scan_catalog(reader.get(), pciIdString, nic);
}

std::optional<std::vector<XMLFW_INFO>> read_NIC_FW_xml_memory(const std::string &catalog,
                                                              const std::string &pciIdString, const nic_info &nic)
{
    xmlCheckVersion(20706);
    if (catalog.size() > static_cast<size_t>(INT_MAX))
        return std::nullopt;
    std::unique_ptr<xmlTextReader, reader_closer> reader(
        xmlReaderForMemory(catalog.data(), static_cast<int>(catalog.size()), k_catalog_file, nullptr, 0));
    if (!reader)
        return std::nullopt;
    return scan_catalog(reader.get(), pciIdString, nic);
}
