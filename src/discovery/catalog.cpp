#include "discovery/catalog.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <libxml/xmlreader.h>

#include "control/console.h"
#include "globals.h"

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
void scan_node_attributes(xmlTextReaderPtr reader, const std::string &pciIdString, XMLFW_INFO &working,
                          std::vector<XMLFW_INFO> &found)
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
            working.pxmlSubVenId = sub_ven_id_new;
        } else if (name == "subdevid") {
            working.pxmlSubDevId = sub_dev_id_new;
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

} // namespace

std::string pci_id_text(int32_t id)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(id));
    return text;
}

std::string catalog_key(const nic_info &nic, const std::string &psid)
{
    sub_ven_id_new = pci_id_text(nic.sub_ven_id);
    sub_dev_id_new = pci_id_text(nic.sub_dev_id);
    return pci_id_text(nic.ven_id) + "-" + pci_id_text(nic.dev_id) + "-" + sub_ven_id_new + "-" + sub_dev_id_new +
           "-" + psid;
}

int read_NIC_FW_xml_file(const std::string &pciIdString, std::vector<XMLFW_INFO> &pXmlFwInfo)
{
    pXmlFwInfo.clear();
    XMLFW_INFO working;
    xmlCheckVersion(20706);
    std::unique_ptr<xmlTextReader, reader_closer> reader(xmlReaderForFile(g_XMLFwFile, nullptr, 0));
    if (!reader) {
        log_mellanox_event(pmstflint_fout, LOG_ERROR, std::string("Unable to open ") + g_XMLFwFile + "\n");
        std::exit(1);
    }
    while (xmlTextReaderRead(reader.get()) == 1)
        scan_node_attributes(reader.get(), pciIdString, working, pXmlFwInfo);

    if (nic_count >= 0 && static_cast<size_t>(nic_count) < g_ninfo.size())
        g_ninfo[static_cast<size_t>(nic_count)].fw_count = static_cast<int32_t>(pXmlFwInfo.size());
    return pXmlFwInfo.empty() ? 0 : 1;
}
