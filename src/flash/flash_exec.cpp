// Flash execution: the chosen image, the burn, and its logged outcome.
#include "flash/flash_exec.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "core/burn_history.h"
#include "core/console.h"
#include "core/event_log.h"
#include "core/flash_tool.h"
#include "core/package_files.h"
#include "core/versions.h"
#include "platform/paths.h"
#include "platform/signals.h"
#include "platform/temp_file.h"

namespace {

std::string pad_right(const std::string &text, size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// The index of the first image whose version text is the highest of the
// sorted list, or nothing when no image has that text.
std::optional<size_t> chosen_image_index(const nic_info &nic)
{
    const std::vector<std::string> versions = sorted_image_versions(nic);
    if (versions.empty())
        return std::nullopt;
    for (size_t i = 0; i < nic.images.size(); ++i) {
        if (version_text(nic.images[i].version) == versions.back())
            return i;
    }
    return std::nullopt;
}

// Whether an image file name reaches outside nic_fw/: a leading "/" or a ".."
// component. The name comes from the catalog or from getmlnxinfo.
bool leaves_firmware_dir(const std::string &file)
{
    const std::filesystem::path path(file);
    return path.is_absolute() || std::find(path.begin(), path.end(), "..") != path.end();
}

// Picks the image of an upgrade-run port and logs the choice; nothing when
// the sorted list names no image of the port.
std::optional<size_t> select_image_for_burn(run_context &ctx, nic_info &nic)
{
    const std::optional<size_t> chosen = chosen_image_index(nic);
    if (!chosen) {
        print_message(ctx, "You have not entered the right Index for firmware version ....................\n");
        return std::nullopt;
    }
    if (!ctx.outcome.waiting_notice_shown) {
        ctx.outcome.waiting_notice_shown = true;
        log_mellanox_event(ctx.log, LOG_INFO, "\nThe Firmware Upgrade will take several minutes.  Please be patient.\n");
    }
    const std::string mac = nic.pcurrent_mac.value_or("");
    log_mellanox_event(ctx.log, LOG_INFO, "\nSelecting ", nic.images[*chosen].name.value_or(""), " MAC: ",
                       pad_right(log_value(mac), 12), " \n");
    nic.pcurrent_mac = format_mac(mac);
    return chosen;
}

// The port's MAC as the outcome entries show it.
std::string logged_mac(const nic_info &nic)
{
    return pad_right(log_value(nic.pcurrent_mac.value_or("")), 12);
}

void report_success(run_context &ctx, const nic_info &nic)
{
    ctx.outcome.flashed = true;
    // Logged first: the log is the record, whatever becomes of the console.
    log_mellanox_event(ctx.log, LOG_INFO, "MAC ", logged_mac(nic), " Upgrade SUCCESS\n");
    print_message(ctx, "Firmware Flashed:\tSUCCESS  for interface " + nic.pbus_info.value_or("") + "\n\n");
}

// A tool can exit 0 and leave the old firmware: the burn counts only when the adapter, asked
// again, reports the image's version. Logs the failure when it does not. Runs under the burn's
// signal hold, so that only the time limit ends this query.
bool burn_verified(run_context &ctx, const nic_info &nic, const fw_version &image)
{
    const query_answer answer = query_flash_device(ctx, nic.pbus_info.value_or(""));
    const opt_text &reported = answer.fw_version.value;
    const bool read = reported && answer.fw_version.rc == 0;
    if (read && parseversions(*reported) == image)
        return true;
    ctx.outcome.failed = true;
    log_mellanox_event(ctx.log, LOG_ERROR, "MAC ", logged_mac(nic), " Upgrade not verified: the adapter reports ",
                       read ? *reported : std::string("no version"), " after the burn, the image is ",
                       version_text(image), "\n");
    return false;
}

// fwupg_cmd, the tool's command line, names the adapter and the image.
void report_failure(run_context &ctx, const nic_info &nic, const burn_outcome &outcome, const std::string &output_file,
                    const std::string &fwupg_cmd)
{
    ctx.outcome.failed = true;
    const std::string bus = nic.pbus_info.value_or("");
    if (!outcome.started)
        log_mellanox_event(ctx.log, LOG_ERROR, "Could not start the flash tool for ", bus, "\n");
    else if (!outcome.exited)
        log_mellanox_event(ctx.log, LOG_ERROR, "The flash tool was ended by signal ",
                           std::to_string(outcome.term_signal), " while burning ", bus, "\n");

    // Without its output file a search would read standard input instead.
    const int found = output_file.empty() ? 1 : do_command(ctx.tools, psid_mismatch_search(output_file));
    if (found == 0)
        log_mellanox_event(ctx.log, LOG_ERROR, "Fimware upgrade on this device is not supported\n ", fwupg_cmd, "\n");
    else
        log_mellanox_event(ctx.log, LOG_ERROR, "Upgrade failed\n ", fwupg_cmd, "\n");
}

// The keys this burn's history records share.
burn_record history_record(const nic_info &nic, const std::string &image_path, const fw_version &image)
{
    return {.time = {}, .pid = getpid(), .address = nic.pbus_info.value_or(""), .psid = nic.psid.value_or(""),
            .mac = format_mac(nic.pcurrent_mac.value_or("")), .image = image_path, .from = version_text(nic.current),
            .to = version_text(image)};
}

// Runs the tool on one image, verifies and judges the outcome, with the burn's start and end in
// the history.
burn_result burn_and_record(run_context &ctx, const nic_info &nic, const std::string &image_path,
                            const fw_version &image)
{
    // Close-on-exec: the tool gets its output pipe, not this file.
    temp_file output(system_path("/tmp/dataXXXXXX"), O_CLOEXEC);
    const flash_tool_command cmd = flash_burn_arguments(ctx, nic.pbus_info.value_or(""), image_path);
    const burn_record burn = history_record(nic, image_path, image);
    ctx.history.append_start(burn);
    const auto started = std::chrono::steady_clock::now();
    const burn_outcome outcome = run_flash_burn(ctx, cmd, output.fd());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    burn_end end {.outcome = "failed",
                  .tool_status = outcome.started && outcome.exited ? std::optional(outcome.exit_code) : std::nullopt,
                  .seconds = std::round(took.count() * 1000) / 1000};

    if (outcome.started && outcome.exited && outcome.exit_code == 0) {
        const bool verified = burn_verified(ctx, nic, image);
        end.outcome = verified ? "success" : "not-verified";
        ctx.history.append_end(burn, end);
        if (!verified)
            return burn_result::failed;
        report_success(ctx, nic);
        return burn_result::flashed;
    }
    ctx.history.append_end(burn, end);
    std::string command_line = cmd.path;
    for (size_t i = 1; i < cmd.argv.size(); ++i)
        command_line += " " + cmd.argv[i];
    report_failure(ctx, nic, outcome, output.name(), command_line);
    return burn_result::failed;
}

// One hold from before the start record to past the end record and the outcome's log entries: a
// signal anywhere in between would leave a finished burn unrecorded, or unverified. The signal is
// left in the run's outcome, for main to act on once the output file is gone.
burn_result burn_image(run_context &ctx, const nic_info &nic, const std::string &image_path, const fw_version &image)
{
    const signal_hold hold;
    const burn_result result = burn_and_record(ctx, nic, image_path, image);
    if (hold.held() != 0 && ctx.outcome.deferred_signal == 0)
        ctx.outcome.deferred_signal = hold.held();
    return result;
}

} // namespace

burn_result do_update_firmware(run_context &ctx, nic_info &nic, image_choice choice)
{
    if (!nic.has(nic_flash_requested))
        return burn_result::not_burned;
    if (nic.images.empty()) {
        print_message(ctx, "Quitting......................as nothing found in repository\n");
        return burn_result::not_burned;
    }

    size_t image_index = 0;
    if (choice == image_choice::newest) {
        const std::optional<size_t> chosen = select_image_for_burn(ctx, nic);
        if (!chosen)
            return burn_result::not_burned;
        image_index = *chosen;
    }

    const std::string file = nic.images[image_index].file.value_or("");
    if (file.empty()) {
        // Burning the bare firmware directory would only fail later and less clearly.
        ctx.outcome.failed = true;
        log_mellanox_event(ctx.log, LOG_ERROR, "No firmware image file name for ", nic.pbus_info.value_or(""),
                           "; not flashed\n");
        return burn_result::failed;
    }
    if (leaves_firmware_dir(file)) {
        ctx.outcome.failed = true;
        log_mellanox_event(ctx.log, LOG_ERROR, "Image file name ", file, " leaves nic_fw/; not flashed\n");
        return burn_result::failed;
    }
    return burn_image(ctx, nic, k_image_dir + file, nic.images[image_index].version);
}

std::string format_mac(const std::string &pStrTok)
{
    std::string mac;
    mac.reserve(pStrTok.size());
    for (char c : pStrTok) {
        if (c != ':' && c != '-' && c != '.')
            mac.push_back(c);
    }
    return mac;
}
