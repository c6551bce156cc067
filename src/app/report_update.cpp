// The report-driven update: per device of the report its plan from the catalog, then its burn, in report order.
#include "app/report_update.h"

#include <algorithm>

#include "app/result_output.h"
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

bool has_image_name(const catalog_image &image)
{
    return image.file && !image.file->empty();
}

// A device's plan, and the catalog's versions for its board.
struct device_plan {
    adapter_plan plan {};
    std::vector<std::string> available {};
};

// Why a device that asks for a burn has no bus address fit for a command; nothing when it has one.
std::optional<std::string> bus_address_refusal(run_context &ctx, const report_device &device, size_t idx)
{
    const opt_text &address = device.rec.pbus_info;
    if (!address) {
        log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: No bus address for ", device_label(device, idx),
                           "\n");
        return device_label(device, idx) + " was not burned: the report gives it no bus address";
    }
    if (!device.rec.address) {
        log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: Invalid bus address \"", *address, "\" for ",
                           device_label(device, idx), "\n");
        return device_label(device, idx) + " was not burned: its bus address \"" + *address +
               "\" is not a PCI address";
    }
    return std::nullopt;
}

// The plan of one device: burn the board's newest catalog image when its action asks for it. A
// device that cannot be handled carries a refusal and counts against the report. Nothing when the
// catalog cannot be read.
std::optional<device_plan> plan_device(run_context &ctx, firmware_catalog &catalog, const report_device &device,
                                       size_t idx)
{
    const nic_info &rec = device.rec;
    const bool requested = rec.has(nic_flash_requested);
    device_plan planned;
    adapter_plan &plan = planned.plan;
    plan.decision = requested ? adapter_decision::burn : adapter_decision::skip_declined;
    // The address goes to the flash tool only: a device that asks for no burn is looked up whatever it holds.
    if (requested && (plan.refusal = bus_address_refusal(ctx, device, idx)))
        return planned;

    const std::string key = catalog_key(rec, device.firmware_id);
    const std::optional<std::vector<XMLFW_INFO>> entries = catalog.read_NIC_FW_xml_file(ctx.log, key, rec);
    if (!entries)
        return std::nullopt;
    for (const XMLFW_INFO &entry : *entries)
        planned.available.push_back(version_text(parseversions(entry.pxmlRom.value_or(""))));
    std::ranges::sort(planned.available, [](const std::string &a, const std::string &b) {
        return parseversions(a) < parseversions(b);
    });
    const std::string name = rec.pbus_info.value_or(device_label(device, idx));
    if (entries->empty()) {
        if (device.has_action)
            log_mellanox_event(ctx.log, LOG_ERROR, "For ", rec.pbus_info.value_or(""),
                               " no matching firmware file in XML\n");
        plan.decision = adapter_decision::no_image;
        plan.refusal = name + " was not burned: the catalog offers no image for board " + device.firmware_id;
        return planned;
    }
    if (!device.has_action)
        return planned;

    const XMLFW_INFO &entry = (*entries)[newest_catalog_entry(*entries)];
    const catalog_image image {parseversions(entry.pxmlRom.value_or("")), entry.pxmlFwImage, std::nullopt};
    if (!has_image_name(image)) {
        log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: No image file in the catalog for ",
                           device_label(device, idx), "\n");
        plan.decision = adapter_decision::no_image;
        plan.refusal = name + " was not burned: the catalog names no image file for board " + device.firmware_id;
        return planned;
    }
    if (requested)
        plan.image = image;
    return planned;
}

// What handling a planned burn did.
struct device_result {
    std::optional<burn_result> burn {};    // when the tool ran, or was to run
    std::optional<std::string> failure {}; // why the device was not burned, or its burn failed
    bool abandon = false;                 // a code-named image that could not be resolved ends the run
    int signal = 0;                       // held back meanwhile: the run ends by it
};

// A report is edited by hand or by a deployment manager: the adapter is burned only when it is the
// board the report names. The live PSID and version become the device's, for the burn's history.
device_result check_board(run_context &ctx, report_device &device)
{
    nic_info &rec = device.rec;
    const near_burn_answer near = query_device_near_burn(ctx, *rec.pbus_info);
    const query_answer &answer = near.answer;
    const bool answered = answer.psid.value && answer.psid.rc == 0;
    if (answered && *answer.psid.value == device.firmware_id) {
        rec.psid = answer.psid.value;
        if (answer.fw_version.value && answer.fw_version.rc == 0)
            rec.current = parseversions(*answer.fw_version.value);
        return {.signal = near.signal};
    }
    const std::string board = answered ? *answer.psid.value : std::string("no answer");
    log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: ", *rec.pbus_info, " is board ", board,
                       ", the report says ", device.firmware_id, "; not flashed\n");
    return {.failure = *rec.pbus_info + " was not burned: " +
                       (answered ? "it is board " + board : std::string("it did not answer")) + ", the report says " +
                       device.firmware_id,
            .signal = near.signal};
}

// The burn of a planned device: its code-named image resolved, its live board checked, then burned.
device_result update_device(run_context &ctx, report_device &device, catalog_image image)
{
    // The resolution finds the image to burn, and puts the address into a command.
    if (image.file->find("Tamaro") != std::string::npos) {
        nic_info resolving = device.rec;
        resolving.images = {image};
        const image_resolution resolution = modify_imagename(ctx, resolving, nullptr);
        image = resolving.images[0];
        // A signal during the resolution ends the run by that signal, nothing more said of the device.
        if (resolution.signal != 0)
            return {.abandon = true, .signal = resolution.signal};
        if (resolution.failure || !has_image_name(image)) {
            log_mellanox_event(ctx.log, LOG_ERROR,
                               "read_discovery_report: Error in finding the image for Tamaro/Kestrel2\n");
            return {.failure = "the image of " + *device.rec.pbus_info + " could not be resolved: " +
                               resolution.failure.value_or("getmlnxinfo's answer names no image file"),
                    .abandon = true};
        }
    }
    device_result checked = check_board(ctx, device);
    if (checked.failure || checked.signal != 0)
        return checked;
    device_result burned {.burn = do_update_firmware(ctx, device.rec, image, burn_source::report)};
    burned.failure = burned.burn->failure;
    burned.signal = burned.burn->signal;
    return burned;
}

// The device as the result document shows it.
result_adapter describe_device(const report_device &device, size_t idx, const device_plan &planned,
                               const std::optional<burn_result> &burn)
{
    const nic_info &rec = device.rec;
    result_adapter adapter {.address = rec.pbus_info.value_or(device_label(device, idx)),
                            .psid = rec.psid ? rec.psid : opt_text(device.firmware_id), .mac = rec.pcurrent_mac};
    if (rec.has(nic_complete))
        adapter.installed = version_text(rec.current);
    adapter.available = planned.available;
    if (!adapter.available.empty())
        adapter.newest = adapter.available.back();
    adapter.decision = planned.plan.decision;
    if (burn)
        adapter.burn = burn->burn;
    return adapter;
}

// The status of a run that handled every device: 2 when a device asked for was not burned, or when
// no device could be handled at all.
mode_end update_status(run_context &ctx, const std::vector<report_device> &devices, size_t errors,
                       const std::optional<std::string> &first_failure)
{
    if (errors >= devices.size()) {
        log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: Error at read_NIC_FW_xml_file\n");
        if (!first_failure)
            return ended(2, result_word::failed,
                         devices.empty() ? "the report lists no device" : "no device of the report could be handled");
    }
    if (first_failure) {
        mode_end end = ended(2, result_word::failed, first_failure);
        end.reason_said = true;
        return end;
    }
    if (std::ranges::none_of(devices, [](const report_device &d) { return d.rec.has(nic_flash_requested); }))
        return ended(0, result_word::nothing_to_do, "the report asks for no burn");
    return ended(0, result_word::ok);
}

} // namespace

mode_end read_discovery_report(run_context &ctx)
{
    const std::string &path = ctx.opts.report_path;
    std::string unreadable;
    std::optional<std::vector<report_device>> devices = read_report_devices(ctx.log, path, &unreadable);
    if (!devices)
        return ended(2, result_word::failed, "cannot read the report " + path + ": " + unreadable);

    firmware_catalog catalog;
    std::vector<device_plan> plans(devices->size());
    burn_results burns(devices->size());
    size_t errors = 0;
    std::optional<std::string> first_failure; // of a device asked for, the first that was not burned
    std::optional<mode_end> end;
    for (size_t i = 0; i < devices->size() && !end; ++i) {
        report_device &device = (*devices)[i];
        std::optional<device_plan> planned = plan_device(ctx, catalog, device, i);
        if (!planned) {
            end = ended(1, result_word::fatal, catalog.failure());
            break;
        }
        plans[i] = std::move(*planned);
        std::optional<std::string> failure = plans[i].plan.refusal;
        if (!failure && plans[i].plan.image) {
            device_result result = update_device(ctx, device, *plans[i].plan.image);
            burns[i] = std::move(result.burn);
            failure = result.failure;
            if (result.signal != 0)
                end = ended_by_signal(result.signal);
            else if (result.abandon)
                end = ended(2, result_word::failed, failure);
        }
        errors += failure ? 1 : 0;
        // A device that asked for nothing fails the run only with every other device.
        if (failure && device.rec.has(nic_flash_requested)) {
            say(*failure);
            first_failure = first_failure ? first_failure : failure;
            if (end && !end->signal)
                end->reason_said = true;
        }
    }
    if (!end)
        end = update_status(ctx, *devices, errors, first_failure);
    for (size_t i = 0; i < devices->size(); ++i)
        end->result.adapters.push_back(describe_device((*devices)[i], i, plans[i], burns[i]));
    end->result.reboot_required =
        std::ranges::any_of(burns, [](const auto &burn) { return burn && burn->succeeded(); });
    return std::move(*end);
}
