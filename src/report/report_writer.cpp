// The discovery report writer: header, one element per device, the atomic save.
#include "report/report_writer.h"

#include <iterator>
#include <memory>
#include <optional>

#include "report/fw_items.h"
#include "report/interface_name.h"
#include "report/report_file.h"
#include "report/value_item.h"

namespace {

// Root and header of the report: element names and their values.
const char *const k_header_names[] = {"valtrix_rom_discovery", "type", "alt_name", "version", "takes_effect"};
const char *const k_header_values[] = {"2.0.0.0", "MELLANOX_NIC",
                                       "Valtrix Mellanox InfiniBand Online Firmware Upgrade Utility for Linux",
                                       "1.0.0", "reboot"};

// The parts of a bus address "dddd:bb:ss.f": "dddd:bb", "ss" and "f". A part
// that the address lacks is empty.
struct bus_parts {
    std::string bus;
    std::string device;
    std::string function;
};

bus_parts split_bus_address(const std::string &address)
{
    bus_parts parts;
    const size_t first = address.find(':');
    const size_t second = first == std::string::npos ? std::string::npos : address.find(':', first + 1);
    parts.bus = address.substr(0, second);
    if (second != std::string::npos) {
        const size_t dot = address.find('.', second + 1);
        parts.device = address.substr(second + 1, dot == std::string::npos ? std::string::npos : dot - second - 1);
    }
    const size_t last_dot = address.rfind('.');
    if (last_dot != std::string::npos)
        parts.function = address.substr(last_dot + 1);
    return parts;
}

std::string device_id_of(event_log &log, const nic_info &nic)
{
    if (nic.pinterfacename) {
        if (std::optional<std::string> name = find_interface_name(*nic.pinterfacename))
            return *name;
    }
    log_mellanox_event(log, LOG_ERROR, "deviceId:Writing Interface Name\n");
    return nic.pinterfacename.value_or("");
}

struct writer_freer {
    void operator()(xmlTextWriter *w) const { xmlFreeTextWriter(w); }
};
struct doc_freer {
    void operator()(xmlDoc *d) const { xmlFreeDoc(d); }
};

std::string log_not_written(event_log &log, const std::string &path, const std::string &reason)
{
    log_mellanox_event(log, LOG_ERROR, "xml_discovery_report: Failed to write ", path, ": ", reason, "\n");
    return reason;
}

} // namespace

std::optional<std::string> xml_discovery_report(event_log &log, const std::vector<nic_info> &ports,
                                                const std::string &path)
{
    xmlDocPtr raw_doc = nullptr;
    xmlTextWriterPtr raw_writer = nullptr;
    bool written = write_XML_start_elements(log, &raw_writer, &raw_doc);
    // Declared in this order so that the writer, which feeds the document, goes first.
    const std::unique_ptr<xmlDoc, doc_freer> doc(raw_doc);
    std::unique_ptr<xmlTextWriter, writer_freer> writer(raw_writer);

    // Without a writer every item would fail; only ending the document reports it.
    if (writer) {
        for (const nic_info &nic : ports) {
            if (nic.has(nic_complete))
                written &= write_XML_device_elements(log, writer.get(), nic);
        }
    }
    if (!writer || xmlTextWriterEndDocument(writer.get()) < 0) {
        log_mellanox_event(log, LOG_ERROR, "Error at XmlTextWriterEndDocument\n");
        return log_not_written(log, path, "the document could not be completed");
    }
    // Ending adds a failed last flush to the bytes written; the output keeps
    // its failure, so flushing again shows it.
    if (!written || xmlTextWriterFlush(writer.get()) < 0)
        return log_not_written(log, path, "a part of the document could not be written");
    writer.reset();
    if (std::optional<std::string> failure = save_document_atomically(doc.get(), path))
        return log_not_written(log, path, *failure);
    return std::nullopt;
}

bool write_XML_start_elements(event_log &log, xmlTextWriterPtr *writer, xmlDocPtr *doc)
{
    *doc = nullptr;
    *writer = xmlNewTextWriterDoc(doc, 0);
    if (!*writer) {
        log_mellanox_event(log, LOG_ERROR, "write_XML_start_elements: Error creating teh xml writer\n");
        return false;
    }
    bool ok = xmlTextWriterSetIndent(*writer, 1) >= 0;
    ok &= xmlTextWriterSetIndentString(*writer, xml_text("    ")) >= 0;
    ok &= xmlTextWriterStartDocument(*writer, nullptr, "UTF-8", nullptr) >= 0;

    ok &= xmlTextWriterStartElement(*writer, xml_text(k_header_names[0])) >= 0;
    ok &= xmlTextWriterWriteAttribute(*writer, xml_text("version"), xml_text(k_header_values[0])) >= 0;
    for (size_t i = 1; i < std::size(k_header_names); ++i)
        ok &= write_value_item(*writer, k_header_names[i], k_header_values[i]);
    ok &= xmlTextWriterStartElement(*writer, xml_text("devices")) >= 0;
    return ok;
}

bool write_XML_device_elements(event_log &log, xmlTextWriterPtr writer, const nic_info &nic)
{
    const bus_parts bus = split_bus_address(nic.pbus_info.value_or(""));

    bool ok = xmlTextWriterStartElement(writer, xml_text("device")) >= 0;
    ok &= write_value_item(writer, "device_id", carried_value(log, "device_id", device_id_of(log, nic), nic));
    ok &= write_value_item(writer, "venid", pci_id_text(nic.ven_id));
    ok &= write_value_item(writer, "devid", pci_id_text(nic.dev_id));
    ok &= write_value_item(writer, "subvenid", pci_id_text(nic.sub_ven_id));
    ok &= write_value_item(writer, "subdevid", pci_id_text(nic.sub_dev_id));
    ok &= write_value_item(writer, "macaddress", carried_value(log, "macaddress", nic.pcurrent_mac.value_or(""), nic));
    ok &= write_value_item(writer, "product_id", nic.images.empty() ? "" : nic.images[0].name.value_or(""));
    ok &= write_value_item(writer, "busnumber", bus.bus);
    ok &= write_value_item(writer, "devicenumber", bus.device);
    ok &= write_value_item(writer, "funcnumber", bus.function);
    ok &= write_value_item(writer, "slotnumber", nic.pPort.value_or(""));
    ok &= write_value_item(writer, "nictype", "MELLANOX");
    ok &= write_XML_FW_item(log, writer, nic);
    ok &= xmlTextWriterEndElement(writer) >= 0;
    return ok;
}
