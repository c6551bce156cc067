// Image selection and the upgrade decision of the upgrade run.
#include "flash/selection.h"

#include <string>
#include <vector>

#include "core/event_log.h"
#include "core/package_files.h"
#include "core/versions.h"

namespace {

bool catalog_has_newer(const nic_info &nic)
{
    for (const catalog_image &image : nic.images) {
        if (image.version > nic.current)
            return true;
    }
    return false;
}

void show_versions(const run_context &ctx, const nic_info &nic, const std::string &bus)
{
    print_message(ctx, "\nCurrent Firmware Version is " + version_text(nic.current) + " on " + bus + " \n");
    const std::vector<std::string> versions = sorted_image_versions(nic);
    if (versions.empty())
        return;
    print_message(ctx, "Repository has these firmware versions............");
    for (size_t i = 0; i < versions.size(); ++i)
        print_message(ctx, "[" + std::to_string(i + 1) + "] Image Version  " + versions[i] + "\n");
}

// A silent run without force skips a port that has nothing newer.
bool silent_skip(const options &opts)
{
    return opts.silent && !opts.force;
}

// The first image whose version text is the highest of the sorted list; nothing for a port without images.
std::optional<catalog_image> newest_image(const nic_info &nic)
{
    const std::vector<std::string> versions = sorted_image_versions(nic);
    for (const catalog_image &image : nic.images) {
        if (version_text(image.version) == versions.back())
            return image;
    }
    return std::nullopt;
}

} // namespace

answer is_FW_needed(run_context &ctx, const nic_info &nic)
{
    const std::string bus = nic.pbus_info.value_or("");
    const std::string prompt_str = fw_version_message();

    const bool newer_fw = catalog_has_newer(nic);
    if (newer_fw)
        print_message(ctx, "Repository has New firmware version for interface " + bus +
                               ".................Please flash the newer version\n");
    show_versions(ctx, nic, bus);

    if (newer_fw)
        return nfwu_yesno(ctx, prompt_str, answer::yes, "y");

    log_mellanox_event(ctx.log, LOG_WARNING, "*** WARNING *** - Installed firmware is the latest firmware\n");
    print_message(ctx, "Repository doesn't have newer firmware version, Installed firmware version is the latest "
                       "one..........Please Quit the updation.\n");
    if (silent_skip(ctx.opts))
        return answer::no;
    return nfwu_yesno(ctx, prompt_str, answer::no, "n");
}

answer select_firmware(run_context &ctx, const nic_info &nic)
{
    for (const catalog_image &image : nic.images) {
        if (image.file && image.file->find("n/a") != std::string::npos)
            log_mellanox_event(ctx.log, LOG_WARNING, "Failed to get firmware image filename from ", k_catalog_file,
                               "\n");
    }
    return is_FW_needed(ctx, nic);
}

adapter_plan plan_upgrade_port(const nic_info &nic, const options &opts, answer given)
{
    adapter_plan plan;
    const std::optional<catalog_image> newest = nic.images.empty() ? std::nullopt : newest_image(nic);
    if (!newest) {
        plan.decision = adapter_decision::no_image;
        return plan;
    }
    switch (given) {
    case answer::yes:
    case answer::continue_all:
        plan.decision = adapter_decision::burn;
        plan.image = newest;
        break;
    case answer::no:
        // In a silent run nobody is asked: a no is the pass over a port that has the newest image.
        plan.decision = silent_skip(opts) && !catalog_has_newer(nic) ? adapter_decision::skip_current
                                                                      : adapter_decision::skip_declined;
        break;
    case answer::quit: plan.decision = adapter_decision::skip_declined; break;
    }
    return plan;
}
