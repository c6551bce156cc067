// The report-driven update: each device of the report looked up in the catalog, resolved and burned.
#include "app/report_update.h"

#include "core/bus_address.h"
#include "core/event_log.h"
#include "core/flash_tool.h"
#include "core/versions.h"
#include "discovery/catalog.h"
#include "flash/flash_exec.h"
#include "flash/image_name.h"
#include "report/report_reader.h"

namespace {

// How the device identifies itself in the log: its place in the report and its device_id.
std::string device_label(const report_device &device, size_t idx)
{
    return "device " + std::to_string(idx + 1) + " (" + device.rec.pinterfacename.value_or("") + ")";
}

// Index of the newest entry; of entries with the same version, the first.
size_t newest_catalog_entry(const std::vector<XMLFW_INFO> &entries)
{
    size_t newest = 0;
    fw_version newest_version {};
    for (size_t i = 0; i < entries.size(); ++i) {
        const fw_version version = parseversions(entries[i].pxmlRom.value_or(""));
        if (i == 0 || version > newest_version) {
            newest = i;
            newest_version = version;
        }
    }
    return newest;
}

// The chosen catalog entry becomes the device's only image, the one the flash step burns.
void set_chosen_image(nic_info &rec, const XMLFW_INFO &entry)
{
    rec.images.assign(1, catalog_image {parseversions(entry.pxmlRom.value_or("")), entry.pxmlFwImage, std::nullopt});
}

bool has_image_name(const nic_info &rec)
{
    return !rec.images.empty() && rec.images[0].file && !rec.images[0].file->empty();
}

enum class device_result { done, failed, abandon, fatal };

// Refuses a device whose bus address could smuggle anything into a command.
bool check_bus_address(run_context &ctx, const report_device &device, size_t idx)
{
    const opt_text &address = device.rec.pbus_info;
    if (!address)
        log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: No bus address for ", device_label(device, idx),
                           "\n");
    else if (!is_pci_address(*address))
        log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: Invalid bus address \"", *address, "\" for ",
                           device_label(device, idx), "\n");
    return address && is_pci_address(*address);
}

// A report is edited by hand or by a deployment manager: the adapter is burned only when it is the
// board the report names. The live PSID and version become the device's, for the burn's history.
bool board_matches_report(run_context &ctx, report_device &device)
{
    nic_info &rec = device.rec;
    const query_answer answer = query_device_near_burn(ctx, *rec.pbus_info);
    const bool answered = answer.psid.value && answer.psid.rc == 0;
    if (answered && *answer.psid.value == device.firmware_id) {
        rec.psid = answer.psid.value;
        if (answer.fw_version.value && answer.fw_version.rc == 0)
            rec.current = parseversions(*answer.fw_version.value);
        return true;
    }
    log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: ", *rec.pbus_info, " is board ",
                       answered ? *answer.psid.value : std::string("no answer"), ", the report says ",
                       device.firmware_id, "; not flashed\n");
    return false;
}

device_result update_device(run_context &ctx, firmware_catalog &catalog, report_device &device, size_t idx)
{
    nic_info &rec = device.rec;
    // The address goes to the flash tool only: a device that asks for no burn is looked up whatever it holds.
    if (rec.has(nic_flash_requested) && !check_bus_address(ctx, device, idx))
        return device_result::failed;

    const std::string key = catalog_key(rec, device.firmware_id);
    const std::optional<std::vector<XMLFW_INFO>> entries = catalog.read_NIC_FW_xml_file(ctx.log, key, rec);
    if (!entries)
        return device_result::fatal;
    if (entries->empty()) {
        if (device.has_action)
            log_mellanox_event(ctx.log, LOG_ERROR, "For ", rec.pbus_info.value_or(""),
                               " no matching firmware file in XML\n");
        return device_result::failed;
    }
    if (!device.has_action)
        return device_result::done;

    set_chosen_image(rec, (*entries)[newest_catalog_entry(*entries)]);
    if (!has_image_name(rec)) {
        log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: No image file in the catalog for ",
                           device_label(device, idx), "\n");
        return device_result::failed;
    }
    // The resolution finds the image to burn, and puts the address into a command.
    if (!rec.has(nic_flash_requested))
        return device_result::done;
    if (rec.images[0].file->find("Tamaro") != std::string::npos) {
        const int resolved = modify_imagename(ctx, rec, nullptr);
        // A signal during the resolution ends the run by that signal, nothing more said of the device.
        if (ctx.outcome.deferred_signal != 0)
            return device_result::abandon;
        if (resolved != 0 || !has_image_name(rec)) {
            log_mellanox_event(ctx.log, LOG_ERROR,
                               "read_discovery_report: Error in finding the image for Tamaro/Kestrel2\n");
            return device_result::abandon;
        }
    }

    if (!board_matches_report(ctx, device))
        return device_result::failed;
    return do_update_firmware(ctx, rec, image_choice::first) == burn_result::flashed ? device_result::done
                                                                                    : device_result::failed;
}

} // namespace

int read_discovery_report(run_context &ctx)
{
    if (!ctx.log.open())
        return 1;

    std::optional<std::vector<report_device>> devices = read_report_devices(ctx.log, ctx.opts.report_path);
    if (!devices)
        return 2;

    firmware_catalog catalog;
    size_t errors = 0;
    bool requested_failed = false;
    for (size_t i = 0; i < devices->size(); ++i) {
        report_device &device = (*devices)[i];
        const bool requested = device.rec.has(nic_flash_requested);
        const device_result result = update_device(ctx, catalog, device, i);
        if (result == device_result::fatal)
            return 1;
        if (result == device_result::abandon)
            return 2;
        if (result == device_result::failed) {
            ++errors;
            requested_failed = requested_failed || requested;
        }
        // A signal held back during a burn ends the run at once.
        if (ctx.outcome.deferred_signal != 0)
            return 2;
    }

    if (errors >= devices->size()) {
        log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: Error at read_NIC_FW_xml_file\n");
        return 2;
    }
    return requested_failed ? 2 : 0;
}
