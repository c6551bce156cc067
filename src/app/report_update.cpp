// The report-driven update: per device of the report its plan from the catalog, in report order; then the
// planned burns side by side.
#include "app/report_update.h"

#include <algorithm>

#include "app/burn_pool.h"
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

// A code-named image resolved through getmlnxinfo before its device is burned.
struct resolved_image {
    catalog_image image {};
    std::optional<std::string> failure {}; // why it could not be resolved: the run ends
    int signal = 0;                        // held back meanwhile: the run ends by it
};

// The image to burn into a planned device: a code-named one is resolved, which also puts the address into a command.
resolved_image resolve_image(run_context &ctx, const report_device &device, const catalog_image &image)
{
    if (image.file->find("Tamaro") == std::string::npos)
        return {.image = image};
    nic_info resolving = device.rec;
    resolving.images = {image};
    const image_resolution resolution = modify_imagename(ctx, resolving, nullptr);
    resolved_image resolved {.image = resolving.images[0], .signal = resolution.signal};
    // A signal during the resolution ends the run by that signal, nothing more said of the device.
    if (resolved.signal != 0 || (!resolution.failure && has_image_name(resolved.image)))
        return resolved;
    log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: Error in finding the image for Tamaro/Kestrel2\n");
    resolved.failure = "the image of " + *device.rec.pbus_info + " could not be resolved: " +
                       resolution.failure.value_or("getmlnxinfo's answer names no image file");
    return resolved;
}

// A report is edited by hand or by a deployment manager: the adapter is burned only when it is the
// board the report names. The live PSID and version become the device's, for the burn's history.
// Why it is not to be burned; nothing when it is.
std::optional<std::string> check_board(run_context &ctx, report_device &device)
{
    nic_info &rec = device.rec;
    // A signal held meanwhile ends the query: the burns' hold carries it, and no burn starts.
    const query_answer answer = query_device_near_burn(ctx, *rec.pbus_info).answer;
    const bool answered = answer.psid.value && answer.psid.rc == 0;
    if (answered && *answer.psid.value == device.firmware_id) {
        rec.psid = answer.psid.value;
        if (answer.fw_version.value && answer.fw_version.rc == 0)
            rec.current = parseversions(*answer.fw_version.value);
        return std::nullopt;
    }
    const std::string board = answered ? *answer.psid.value : std::string("no answer");
    log_mellanox_event(ctx.log, LOG_ERROR, "read_discovery_report: ", *rec.pbus_info, " is board ", board,
                       ", the report says ", device.firmware_id, "; not flashed\n");
    return *rec.pbus_info + " was not burned: " +
           (answered ? "it is board " + board : std::string("it did not answer")) + ", the report says " +
           device.firmware_id;
}

// What share one flash, which two burns must not write at once: the PCI device, and the adapter (its board
// and base MAC) when the report names both.
std::vector<std::string> flash_keys(const report_device &device)
{
    std::vector<std::string> keys = {device.rec.address->device().text()};
    if (device.rec.pcurrent_mac && !device.rec.pcurrent_mac->empty())
        keys.push_back(device.firmware_id + " " + format_mac(*device.rec.pcurrent_mac));
    return keys;
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

    // Each device planned in report order, its refusal said in its turn; the planned burns then side by side.
    firmware_catalog catalog;
    std::vector<device_plan> plans(devices->size());
    std::vector<std::optional<std::string>> failures(devices->size());
    burn_results burns(devices->size());
    std::optional<mode_end> end;
    size_t handled = 0; // the devices planned: all, unless the run ended early
    burn_pool pool(ctx, devices->size());
    for (; handled < devices->size() && !end; ++handled) {
        const size_t i = handled;
        report_device &device = (*devices)[i];
        run_context planning = pool.context(i);
        std::optional<device_plan> planned = plan_device(planning, catalog, device, i);
        if (!planned) {
            end = ended(1, result_word::fatal, catalog.failure());
            break;
        }
        plans[i] = std::move(*planned);
        failures[i] = plans[i].plan.refusal;
        if (!failures[i] && plans[i].plan.image) {
            resolved_image resolved = resolve_image(planning, device, *plans[i].plan.image);
            failures[i] = resolved.failure;
            if (resolved.signal != 0)
                end = ended_by_signal(resolved.signal);
            else if (resolved.failure) {
                end = ended(2, result_word::failed, resolved.failure);
                end->reason_said = true; // below
            } else
                pool.add({.record = i,
                          .flash_keys = flash_keys(device),
                          .check = [&, i](run_context &checking) {
                              failures[i] = check_board(checking, (*devices)[i]);
                              if (failures[i])
                                  say(checking, *failures[i]);
                              return !failures[i];
                          },
                          .burn = [&, i, image = resolved.image](run_context &burning) {
                              burns[i] = do_update_firmware(burning, (*devices)[i].rec, image, burn_source::report);
                              failures[i] = burns[i]->failure;
                              if (failures[i])
                                  say(burning, *failures[i]);
                          }});
        }
        // A device that asked for nothing fails the run only with every other device.
        if (failures[i] && device.rec.has(nic_flash_requested))
            say(planning, *failures[i]);
    }
    // A signal during a resolution ends the run before any burn starts.
    if (!end || !end->signal) {
        if (const int signal = pool.run())
            end = ended_by_signal(signal);
    }

    size_t errors = 0;
    std::optional<std::string> first_failure; // of a device asked for, the first that was not burned
    for (size_t i = 0; i < handled; ++i) {
        errors += failures[i] ? 1 : 0;
        if (failures[i] && (*devices)[i].rec.has(nic_flash_requested) && !first_failure)
            first_failure = failures[i];
    }
    if (!end)
        end = update_status(ctx, *devices, errors, first_failure);
    for (size_t i = 0; i < devices->size(); ++i)
        end->result.adapters.push_back(describe_device((*devices)[i], i, plans[i], burns[i]));
    end->result.reboot_required =
        std::ranges::any_of(burns, [](const auto &burn) { return burn && burn->succeeded(); });
    return std::move(*end);
}
