// The report reader: node walking, the items each device is made of, and the old hexadecimal reading.
#include "report/report_reader.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>

#include <sys/stat.h>

#include "core/bus_address.h"
#include "core/versions.h"

namespace {

using reader_ptr = std::unique_ptr<xmlTextReader, decltype(&xmlFreeTextReader)>;
// A new reader at the start of the report, from a file or from memory; null when none could be made.
using reader_opener = std::function<xmlTextReaderPtr()>;

// Reads the whole report once, handing every node to visit. Logs and answers
// why when the report cannot be opened or is not well-formed.
std::optional<std::string> walk_report(event_log &log, const std::string &path, const reader_opener &open,
                                       const std::function<void(xmlTextReaderPtr)> &visit)
{
    reader_ptr reader(open(), &xmlFreeTextReader);
    if (!reader) {
        log_mellanox_event(log, LOG_ERROR, "read_discovery_report: Failed to open ", path, "\n");
        return "it cannot be opened";
    }
    int ret;
    while ((ret = xmlTextReaderRead(reader.get())) == 1)
        visit(reader.get());
    reader.reset();
    if (ret != 0) {
        log_mellanox_event(log, LOG_ERROR, "read_discovery_report: Failed to parse ", path, "\n");
        return "not well-formed XML";
    }
    return std::nullopt;
}

std::string node_name(xmlTextReaderPtr reader)
{
    const xmlChar *name = xmlTextReaderConstName(reader);
    return name ? reinterpret_cast<const char *>(name) : "--";
}

bool asks_for_flashing(const std::string &action)
{
    return action.find("upgrade") != std::string::npos || action.find("rewrite") != std::string::npos ||
           action.find("downgrade") != std::string::npos;
}

// At the action item the bus address is rebuilt from the items read so far;
// without all three the device has none.
void rebuild_bus_address(nic_info &rec)
{
    if (rec.busnumber && rec.devicenumber && rec.funcnumber)
        rec.pbus_info = join_bus_address(*rec.busnumber, *rec.devicenumber, *rec.funcnumber);
    else
        rec.pbus_info.reset();
}

// Items that fill the device record.
void store_record_item(event_log &log, const std::string &name, const std::string &value, nic_info &rec,
                       const std::string &image_type)
{
    if (name == "device_id")
        rec.pinterfacename = value;
    else if (name == "venid")
        rec.ven_id = axtoi(value);
    else if (name == "devid")
        rec.dev_id = axtoi(value);
    else if (name == "subvenid")
        rec.sub_ven_id = axtoi(value);
    else if (name == "subdevid")
        rec.sub_dev_id = axtoi(value);
    else if (name == "macaddress")
        rec.pcurrent_mac = value;
    else if (name == "busnumber")
        rec.busnumber = value;
    else if (name == "devicenumber")
        rec.devicenumber = value;
    else if (name == "funcnumber")
        rec.funcnumber = value;
    else if (name == "slotnumber")
        rec.pPort = value;
    else if (name == "active_version")
        read_FW_cur_version(log, &rec, image_type, value);
    else if (name == "action") {
        if (asks_for_flashing(value))
            rec.flags |= nic_flash_requested;
        rebuild_bus_address(rec);
    }
}

void store_item(event_log &log, const std::string &name, const std::string &value, report_reading &reading)
{
    const bool in_device = reading.idx >= 0 && static_cast<size_t>(reading.idx) < reading.devices.size();
    if (name == "type")
        reading.current_image_type = value;
    else if (name == "firmware_id") {
        if (in_device)
            reading.devices[static_cast<size_t>(reading.idx)].firmware_id = value;
    } else if (in_device) {
        if (name == "action")
            reading.devices[static_cast<size_t>(reading.idx)].has_action = true;
        store_record_item(log, name, value, reading.devices[static_cast<size_t>(reading.idx)].rec,
                          reading.current_image_type);
    }
}

// The two passes: count the devices, then fill them.
std::optional<std::vector<report_device>> read_devices(event_log &log, const std::string &path,
                                                       const reader_opener &open, std::string *failure)
{
    int device_count = 0;
    std::optional<std::string> failed =
        walk_report(log, path, open, [&](xmlTextReaderPtr reader) { read_num_device_elements(reader, &device_count); });
    report_reading reading;
    reading.devices.resize(static_cast<size_t>(device_count));
    if (!failed)
        failed = walk_report(log, path, open, [&](xmlTextReaderPtr reader) { process_node(log, reader, reading); });
    if (!failed)
        return std::move(reading.devices);
    if (failure)
        *failure = *failed;
    return std::nullopt;
}

} // namespace

std::optional<std::vector<report_device>> read_report_devices(event_log &log, const std::string &path,
                                                              std::string *failure)
{
    std::string not_opened;
    std::optional<std::vector<report_device>> devices = read_devices(log, path, [&]() -> xmlTextReaderPtr {
        // Only a regular file, or a link to one: opening a FIFO would block, and a
        // device or a directory is no report.
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            not_opened = st.st_mode == 0 ? std::strerror(errno) : "not a regular file";
            return nullptr;
        }
        return xmlNewTextReaderFilename(path.c_str());
    }, failure);
    if (!devices && failure && !not_opened.empty())
        *failure = not_opened;
    return devices;
}

std::optional<std::vector<report_device>> read_report_devices_from_memory(event_log &log, const std::string &text,
                                                                          const std::string &name)
{
    return read_devices(log, name, [&]() -> xmlTextReaderPtr {
        if (text.size() > static_cast<size_t>(INT_MAX))
            return nullptr;
        return xmlReaderForMemory(text.data(), static_cast<int>(text.size()), name.c_str(), nullptr, 0);
    }, nullptr);
}

void read_num_device_elements(xmlTextReaderPtr reader, int *count)
{
    if (node_name(reader) == "device" && xmlTextReaderNodeType(reader) == XML_READER_TYPE_ELEMENT)
        ++*count;
}

void process_node(event_log &log, xmlTextReaderPtr reader, report_reading &reading)
{
    const std::string name = node_name(reader);
    const int type = xmlTextReaderNodeType(reader);
    if (name == "device" && type == XML_READER_TYPE_END_ELEMENT)
        ++reading.idx;
    if (type != XML_READER_TYPE_ELEMENT)
        return;
    // Every attribute of a recognised element is its value; the last one stays.
    while (xmlTextReaderMoveToNextAttribute(reader) == 1) {
        const xmlChar *value = xmlTextReaderConstValue(reader);
        store_item(log, name, value ? reinterpret_cast<const char *>(value) : "", reading);
    }
}

void read_FW_cur_version(event_log &log, nic_info *pCurNinfo, const std::string &pImageType,
                         const std::string &pVersion)
{
    if (!pCurNinfo || pVersion.find("n/a") != std::string::npos)
        return;
    const fw_version version = parseversions(pVersion);
    if (pImageType.find("ROM") == std::string::npos) {
        log_mellanox_event(log, LOG_ERROR, "read_FW_cur_version: Error Wrong image type\n");
        return;
    }
    pCurNinfo->current = version;
    pCurNinfo->flags |= nic_complete;
}

int32_t axtoi(const std::string &hexStg)
{
    int32_t value = 0;
    for (size_t i = 0; i < hexStg.size() && i < 4; ++i) {
        const unsigned char c = static_cast<unsigned char>(hexStg[i]);
        int digit;
        if (c >= 0x2A && c <= 0x3F)
            digit = c & 0x0F;
        else if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
            digit = (c & 0x0F) + 9;
        else
            break;
        value = value * 16 + digit;
    }
    return value;
}
