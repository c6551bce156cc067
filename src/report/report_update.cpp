#include "report/report_update.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "control/console.h"
#include "discovery/catalog.h"
#include "flash/flash_exec.h"
#include "flash/image_name.h"
#include "flash/versions.h"
#include "globals.h"
#include "discovery/bus_address.h"

std::vector<std::string> firmware_id;

namespace {

// The text of the most recent "type" item, carried from node to node.
std::string current_image_type;

using reader_ptr = std::unique_ptr<xmlTextReader, decltype(&xmlFreeTextReader)>;

// Reads the whole report once, handing every node to visit. Logs and answers
// false when the report cannot be opened or is not well-formed.
bool walk_report(const std::string &path, const std::function<void(xmlTextReaderPtr)> &visit)
{
    reader_ptr reader(xmlNewTextReaderFilename(path.c_str()), &xmlFreeTextReader);
    if (!reader) {
        log_mellanox_event(pmstflint_fout, LOG_ERROR, "read_discovery_report: Failed to open " + path + "\n");
        return false;
    }
    int ret;
    while ((ret = xmlTextReaderRead(reader.get())) == 1)
        visit(reader.get());
    reader.reset();
    if (ret != 0) {
        log_mellanox_event(pmstflint_fout, LOG_ERROR, "read_discovery_report: Failed to parse " + path + "\n");
        return false;
    }
    return true;
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

// Items that fill the device record; rec is null past the last device.
void store_record_item(const std::string &name, const std::string &value, nic_info *rec)
{
    if (!rec)
        return;
    if (name == "device_id")
        rec->pinterfacename = value;
    else if (name == "venid")
        rec->ven_id = axtoi(value);
    else if (name == "devid")
        rec->dev_id = axtoi(value);
    else if (name == "subvenid")
        rec->sub_ven_id = axtoi(value);
    else if (name == "subdevid")
        rec->sub_dev_id = axtoi(value);
    else if (name == "macaddress")
        rec->pcurrent_mac = value;
    else if (name == "product_id") {
        if (rec->pxmlName.empty())
            rec->pxmlName.resize(1);
        rec->pxmlName[0] = value;
    } else if (name == "busnumber")
        rec->busnumber = value;
    else if (name == "devicenumber")
        rec->devicenumber = value;
    else if (name == "funcnumber")
        rec->funcnumber = value;
    else if (name == "slotnumber")
        rec->pPort = value;
    else if (name == "active_version")
        read_FW_cur_version(rec, current_image_type, value);
    else if (name == "action") {
        if (asks_for_flashing(value))
            rec->flags |= 2;
        rebuild_bus_address(*rec);
    }
}

void store_item(const std::string &name, const std::string &value, nic_info *rec, int idx)
{
    if (name == "type")
        current_image_type = value;
    else if (name == "firmware_id") {
        if (idx >= 0 && static_cast<size_t>(idx) < firmware_id.size())
            firmware_id[static_cast<size_t>(idx)] = value;
    } else
        store_record_item(name, value, rec);
}

// How the device identifies itself in the log: its place in the report and
// its device_id.
std::string device_label(size_t idx)
{
    return "device " + std::to_string(idx + 1) + " (" + g_ninfo[idx].pinterfacename.value_or("") + ")";
}

// Index of the newest entry; of entries with the same version, the first.
size_t newest_catalog_entry(const std::vector<XMLFW_INFO> &entries)
{
    size_t newest = 0;
    fw_key newest_key {};
    for (size_t i = 0; i < entries.size(); ++i) {
        uint32_t maj = 0, min = 0, rel = 0;
        parseversions(entries[i].pxmlRom.value_or(""), &maj, &min, &rel);
        const fw_key key = fw_sort_key(maj, min, rel);
        if (i == 0 || key > newest_key) {
            newest = i;
            newest_key = key;
        }
    }
    return newest;
}

// Puts the chosen catalog entry into image slot 0, the one the flash step
// burns during this mode.
void set_chosen_image(nic_info &rec, const XMLFW_INFO &entry)
{
    uint32_t maj = 0, min = 0, rel = 0;
    parseversions(entry.pxmlRom.value_or(""), &maj, &min, &rel);
    rec.uFwROMmaj.assign(1, maj);
    rec.uFwROMmin.assign(1, min);
    rec.uFwROMrel.assign(1, rel);
    rec.pxmlFwImage.assign(1, entry.pxmlFwImage);
}

bool has_image_name(const nic_info &rec)
{
    return !rec.pxmlFwImage.empty() && rec.pxmlFwImage[0] && !rec.pxmlFwImage[0]->empty();
}

// Burns one device and tells whether this burn succeeded. The outcome bits
// describe the whole run and are never cleared, so they are set aside for the
// call and put back afterwards.
bool burn_device(size_t idx)
{
    const int run_outcome = g_iFlag & 0x0600;
    g_iFlag &= ~0x0600;
    do_update_firmware(static_cast<unsigned>(idx));
    const bool burned = (g_iFlag & 0x0400) && !(g_iFlag & 0x0200);
    g_iFlag |= run_outcome;
    return burned;
}

enum class device_result { done, failed, abandon };

// Refuses a device whose bus address could smuggle anything into a command.
bool check_bus_address(size_t idx)
{
    const opt_text &address = g_ninfo[idx].pbus_info;
    if (!address)
        log_mellanox_event(pmstflint_fout, LOG_ERROR,
                           "read_discovery_report: No bus address for " + device_label(idx) + "\n");
    else if (!is_pci_address(*address))
        log_mellanox_event(pmstflint_fout, LOG_ERROR,
                           "read_discovery_report: Invalid bus address \"" + *address + "\" for " +
                               device_label(idx) + "\n");
    return address && is_pci_address(*address);
}

device_result update_device(size_t idx, std::vector<XMLFW_INFO> &entries)
{
    nic_info &rec = g_ninfo[idx];
    if (!check_bus_address(idx))
        return device_result::failed;

    const std::string key = catalog_key(rec, firmware_id[idx]);
    rec.fw_count = 0;
    if (read_NIC_FW_xml_file(key, entries) != 1 || entries.empty()) {
        log_mellanox_event(pmstflint_fout, LOG_ERROR,
                           "For " + *rec.pbus_info + " no matching firmware file in XML\n");
        return device_result::failed;
    }

    set_chosen_image(rec, entries[newest_catalog_entry(entries)]);
    if (!has_image_name(rec)) {
        log_mellanox_event(pmstflint_fout, LOG_ERROR,
                           "read_discovery_report: No image file in the catalog for " + device_label(idx) + "\n");
        return device_result::failed;
    }
    if (rec.pxmlFwImage[0]->find("Tamaro") != std::string::npos) {
        if (modify_imagename(rec, nullptr) != 0 || !has_image_name(rec)) {
            log_mellanox_event(pmstflint_fout, LOG_ERROR,
                               "read_discovery_report: Error in finding the image for Tamaro/Kestrel2\n");
            return device_result::abandon;
        }
    }

    if (!(rec.flags & 2))
        return device_result::done;
    return burn_device(idx) ? device_result::done : device_result::failed;
}

} // namespace

int read_discovery_report()
{
    std::vector<XMLFW_INFO> entries;
    silent = 2;
    open_event_log();

    const std::string &path = g_XMLDiscoveryReport;
    int device_count = 0;
    if (!walk_report(path, [&](xmlTextReaderPtr reader) { read_num_device_elements(reader, &device_count); }))
        return 2;

    g_ninfo.assign(static_cast<size_t>(device_count), nic_info {});
    firmware_id.assign(static_cast<size_t>(device_count), std::string());
    current_image_type.clear();
    int idx = 0;
    const auto visit = [&](xmlTextReaderPtr reader) {
        nic_info *rec = idx < device_count ? &g_ninfo[static_cast<size_t>(idx)] : nullptr;
        process_node(reader, rec, &idx);
    };
    if (!walk_report(path, visit))
        return 2;

    read_discovery = 1;
    int errors = 0;
    bool requested_failed = false;
    for (size_t i = 0; i < g_ninfo.size(); ++i) {
        nic_count = static_cast<int>(i);
        const bool requested = g_ninfo[i].flags & 2;
        const device_result result = update_device(i, entries);
        if (result == device_result::abandon)
            return 2;
        if (result == device_result::failed) {
            ++errors;
            requested_failed = requested_failed || requested;
        }
    }
    nic_count = device_count;

    if (errors >= device_count) {
        log_mellanox_event(pmstflint_fout, LOG_ERROR, "read_discovery_report: Error at read_NIC_FW_xml_file\n");
        return 2;
    }
    return requested_failed ? 2 : 0;
}

void read_num_device_elements(xmlTextReaderPtr reader, int *count)
{
    if (node_name(reader) == "device" && xmlTextReaderNodeType(reader) == 1)
        ++*count;
}

void process_node(xmlTextReaderPtr reader, nic_info *pCurNinfo, int *Idx)
{
    const std::string name = node_name(reader);
    const int type = xmlTextReaderNodeType(reader);
    if (name == "device" && type == 15)
        ++*Idx;
    if (type != 1)
        return;
    // Every attribute of a recognised element is its value; the last one stays.
    while (xmlTextReaderMoveToNextAttribute(reader) == 1) {
        const xmlChar *value = xmlTextReaderConstValue(reader);
        store_item(name, value ? reinterpret_cast<const char *>(value) : "", pCurNinfo, *Idx);
    }
}

void read_FW_cur_version(nic_info *pCurNinfo, const std::string &pImageType, const std::string &pVersion)
{
    if (!pCurNinfo || pVersion.find("n/a") != std::string::npos)
        return;
    uint32_t maj = 0, min = 0, rel = 0;
    parseversions(pVersion, &maj, &min, &rel);
    if (pImageType.find("ROM") == std::string::npos) {
        log_mellanox_event(pmstflint_fout, LOG_ERROR, "read_FW_cur_version: Error Wrong image type\n");
        return;
    }
    pCurNinfo->uCurROMmaj = maj;
    pCurNinfo->uCurROMmin = min;
    pCurNinfo->uCurROMrel = rel;
    pCurNinfo->flags |= 1;
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
