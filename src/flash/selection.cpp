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
    if (silent_skip(ctx.opts)) {
        ++ctx.outcome.latest_skips;
        return answer::no;
    }
    return nfwu_yesno(ctx, prompt_str, answer::no, "n");
}

void select_firmware(run_context &ctx, nic_info &nic)
{
    if (!nic.has(nic_complete))
        return;

    for (const catalog_image &image : nic.images) {
        if (image.file && image.file->find("n/a") != std::string::npos)
            log_mellanox_event(ctx.log, LOG_WARNING, "Failed to get firmware image filename from ", k_catalog_file,
                               "\n");
    }

    switch (is_FW_needed(ctx, nic)) {
    case answer::yes:
        nic.flags |= nic_flash_requested;
        break;
    case answer::continue_all:
        nic.flags |= nic_flash_requested;
        ctx.outcome.no_more_questions = true;
        break;
    case answer::quit:
        ctx.outcome.quit = true;
        nic.flags = 0;
        break;
    case answer::no:
        nic.flags = 0;
        break;
    }
}
