// Flash execution: the burn, its verification, its logged outcome and its result.
#include "flash/flash_exec.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/burn_history.h"
#include "core/burn_turns.h"
#include "core/console.h"
#include "core/event_log.h"
#include "core/flash_tool.h"
#include "core/package_files.h"
#include "core/versions.h"
#include "platform/paths.h"
#include "platform/signals.h"
#include "platform/temp_file.h"

namespace {

// The end of the tool's output that its last lines are taken from.
constexpr off_t k_output_tail = 65536;

std::string pad_right(const std::string &text, size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Whether an image file name reaches outside nic_fw/: a leading "/" or a ".."
// component. The name comes from the catalog or from getmlnxinfo.
bool leaves_firmware_dir(const std::string &file)
{
    const std::filesystem::path path(file);
    return path.is_absolute() || std::find(path.begin(), path.end(), "..") != path.end();
}

// The last lines of the tool's output (both its streams, as they came) that hold more than blanks,
// without line ends.
std::vector<std::string> last_lines(int fd)
{
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0)
        return {};
    const off_t from = std::max<off_t>(0, st.st_size - k_output_tail);
    std::string text(static_cast<size_t>(st.st_size - from), '\0');
    const ssize_t n = pread(fd, text.data(), text.size(), from);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos)
            lines.push_back(std::move(line));
        at = end + 1;
    }
    if (lines.size() > k_tool_output_lines)
        lines.erase(lines.begin(), lines.end() - static_cast<long>(k_tool_output_lines));
    return lines;
}

void report_success(run_context &ctx, const nic_info &nic, const std::string &mac)
{
    // Logged first: the log is the record, whatever becomes of the console.
    log_mellanox_event(ctx.log, LOG_INFO, "MAC ", pad_right(log_value(mac), 12), " Upgrade SUCCESS\n");
    print_message(ctx, "Firmware Flashed:\tSUCCESS  for interface " + nic.pbus_info.value_or("") + "\n\n");
}

// A tool can exit 0 and leave the old firmware: the burn counts only when the adapter, asked
// again, reports the image's version. Logs the failure when it does not. Runs under the burn's
// signal hold, so that only the time limit ends this query.
bool burn_verified(run_context &ctx, const nic_info &nic, const std::string &mac, const fw_version &image,
                   burn_result &result)
{
    const query_answer answer = [&] {
        const query_turn turn(ctx.turns);
        return query_flash_device(ctx, nic.pbus_info.value_or(""));
    }();
    const opt_text &reported = answer.fw_version.value;
    const bool read = reported && answer.fw_version.rc == 0;
    if (read)
        result.reported = reported;
    if (read && parseversions(*reported) == image)
        return true;
    const std::string seen = read ? *reported : std::string("no version");
    log_mellanox_event(ctx.log, LOG_ERROR, "MAC ", pad_right(log_value(mac), 12),
                       " Upgrade not verified: the adapter reports ", seen, " after the burn, the image is ",
                       version_text(image), "\n");
    result.failure = "the burn of " + nic.pbus_info.value_or("") + " was not verified: the adapter reports " + seen +
                     " after the burn, the image is " + version_text(image);
    return false;
}

// fwupg_cmd, the tool's command line, names the adapter and the image.
void report_failure(run_context &ctx, const nic_info &nic, const burn_outcome &outcome, const std::string &output_file,
                    const std::string &fwupg_cmd, burn_result &result)
{
    const std::string bus = nic.pbus_info.value_or("");
    std::string why;
    if (!outcome.started) {
        log_mellanox_event(ctx.log, LOG_ERROR, "Could not start the flash tool for ", bus, "\n");
        why = "the flash tool could not be started";
    } else if (!outcome.exited) {
        log_mellanox_event(ctx.log, LOG_ERROR, "The flash tool was ended by signal ",
                           std::to_string(outcome.term_signal), " while burning ", bus, "\n");
        why = "the flash tool was ended by signal " + std::to_string(outcome.term_signal);
    } else {
        const std::vector<std::string> &lines = result.burn.tool_output;
        why = "status " + std::to_string(outcome.exit_code) + (lines.empty() ? "" : ": " + lines.back());
    }
    result.failure = "the burn of " + bus + " failed: " + why;

    // Without its output file a search would read standard input instead.
    const int found = output_file.empty() ? 1 : do_command(ctx, psid_mismatch_search(output_file));
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
// the history. With turns, the burn's turn is given back once the tool has ended.
void burn_and_record(run_context &ctx, const nic_info &nic, const std::string &mac, const fw_version &image,
                     burn_result &result)
{
    const std::string &image_path = result.burn.image;
    const std::string bus = nic.pbus_info.value_or("");
    // Close-on-exec: the tool gets its output pipe, not this file.
    temp_file output(system_path("/tmp/dataXXXXXX"), O_CLOEXEC);
    const flash_tool_command cmd = flash_burn_arguments(ctx, bus, image_path);
    const burn_record burn = history_record(nic, image_path, image);
    ctx.history.append_start(burn);
    console_progress(ctx, "rovan: burning " + bus + " " + result.burn.from + " -> " + result.burn.to);
    const auto started = std::chrono::steady_clock::now();
    const burn_outcome outcome = run_flash_burn(ctx, cmd, output.fd());
    const auto tool_ended = std::chrono::steady_clock::now();
    if (ctx.turns)
        ctx.turns->give();
    const std::chrono::duration<double> took = tool_ended - started;
    result.burn.tool_status = outcome.started && outcome.exited ? std::optional(outcome.exit_code) : std::nullopt;
    result.burn.seconds = std::round(took.count() * 1000) / 1000;
    result.burn.tool_output = last_lines(output.fd());
    burn_end end {.outcome = "failed", .tool_status = result.burn.tool_status, .seconds = result.burn.seconds};

    if (outcome.started && outcome.exited && outcome.exit_code == 0) {
        const bool verified = burn_verified(ctx, nic, mac, image, result);
        result.burn.outcome = verified ? burn_verdict::success : burn_verdict::not_verified;
        end.outcome = result_text(result.burn.outcome);
        ctx.history.append_end(burn, end);
        if (verified)
            report_success(ctx, nic, mac);
    } else {
        ctx.history.append_end(burn, end);
        std::string command_line = cmd.path;
        for (size_t i = 1; i < cmd.argv.size(); ++i)
            command_line += " " + cmd.argv[i];
        report_failure(ctx, nic, outcome, output.name(), command_line, result);
    }
    const std::chrono::duration<double> all = std::chrono::steady_clock::now() - started;
    console_progress(ctx, "rovan: " + bus + " done in " + std::to_string(std::lround(all.count())) + " s: " +
                              end.outcome);
}

} // namespace

burn_result do_update_firmware(run_context &ctx, const nic_info &nic, const catalog_image &image, burn_source source)
{
    const std::string bus = nic.pbus_info.value_or("");
    // The upgrade run logs the MAC as the tool gave it, then as the outcome entries show it.
    std::string mac = nic.pcurrent_mac.value_or("");
    if (source == burn_source::upgrade_run) {
        log_mellanox_event(ctx.log, LOG_INFO, "\nSelecting ", image.name.value_or(""), " MAC: ",
                           pad_right(log_value(mac), 12), " \n");
        mac = format_mac(mac);
    }

    const std::string file = image.file.value_or("");
    burn_result result;
    result.burn.image = k_image_dir + file;
    result.burn.from = version_text(nic.current);
    result.burn.to = version_text(image.version);
    if (file.empty()) {
        // Burning the bare firmware directory would only fail later and less clearly.
        log_mellanox_event(ctx.log, LOG_ERROR, "No firmware image file name for ", bus, "; not flashed\n");
        result.failure = bus + " was not burned: the catalog names no image file for it";
        return result;
    }
    if (leaves_firmware_dir(file)) {
        log_mellanox_event(ctx.log, LOG_ERROR, "Image file name ", file, " leaves nic_fw/; not flashed\n");
        result.failure = bus + " was not burned: its image file name " + file + " leaves nic_fw/";
        return result;
    }
    // One hold from before the start record to past the end record and the outcome's log entries:
    // a signal anywhere in between would leave a finished burn unrecorded, or unverified. The run
    // ends by the signal once the burn is done and its capture file gone.
    const signal_hold hold;
    burn_and_record(ctx, nic, mac, image.version, result);
    result.signal = hold.held();
    return result;
}

void log_waiting_notice(event_log &log)
{
    log_mellanox_event(log, LOG_INFO, "\nThe Firmware Upgrade will take several minutes.  Please be patient.\n");
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
