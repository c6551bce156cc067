#include "flash/flash_exec.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "control/console.h"
#include "flash/flash_tool.h"
#include "flash/versions.h"
#include "globals.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace {

// The per-burn file that receives a copy of the tool's output; closed and
// removed when the burn has been judged.
class burn_output_file {
public:
    burn_output_file()
    {
        std::string tmpl = system_path("/tmp/dataXXXXXX");
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        // Close-on-exec: the tool gets its output pipe, not this file.
        fd_ = mkostemp(name.data(), O_CLOEXEC);
        if (fd_ >= 0)
            name_ = name.data();
    }
    ~burn_output_file()
    {
        if (fd_ >= 0) {
            close(fd_);
            std::remove(name_.c_str());
        }
    }
    burn_output_file(const burn_output_file &) = delete;
    burn_output_file &operator=(const burn_output_file &) = delete;

    int fd() const { return fd_; }
    const std::string &name() const { return name_; }

private:
    int fd_ = -1;
    std::string name_;
};

std::string pad_right(const std::string &text, size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string text_or_empty(const std::vector<opt_text> &slots, size_t i)
{
    return i < slots.size() ? slots[i].value_or("") : std::string();
}

// The catalog index of the first image whose version text is the highest of
// the sorted list, or nothing when no image has that text.
std::optional<size_t> chosen_image_index(const nic_info &nic)
{
    const size_t count = static_cast<size_t>(nic.fw_count);
    if (ver_buf.size() < count)
        return std::nullopt;
    const std::string &target = ver_buf[count - 1];
    for (size_t i = 0; i < count && i < nic.uFwROMmaj.size() && i < nic.uFwROMmin.size() && i < nic.uFwROMrel.size();
         ++i) {
        if (version_text(nic.uFwROMmaj[i], nic.uFwROMmin[i], nic.uFwROMrel[i]) == target)
            return i;
    }
    return std::nullopt;
}

// Picks the image of an upgrade-run port and logs the choice; nothing when
// the sorted list names no image of the port.
std::optional<size_t> select_image_for_burn(unsigned uNicIdx, nic_info &nic)
{
    const std::optional<size_t> chosen = chosen_image_index(nic);
    if (!chosen) {
        print_message("You have not entered the right Index for firmware version ....................\n");
        return std::nullopt;
    }
    if (uNicIdx < fw_number.size())
        fw_number[uNicIdx] = static_cast<int>(*chosen);

    if (!(g_iFlag & 0x1000)) {
        g_iFlag |= 0x1000;
        log_mellanox_event(pmstflint_fout, LOG_INFO,
                           "\nThe Firmware Upgrade will take several minutes.  Please be patient.\n");
    }
    const std::string mac = nic.pcurrent_mac.value_or("");
    log_mellanox_event(pmstflint_fout, LOG_INFO,
                       "\nSelecting " + text_or_empty(nic.pxmlName, *chosen) + " MAC: " + pad_right(mac, 12) + " \n");
    nic.pcurrent_mac = format_mac(mac);
    return chosen;
}

void report_success(const nic_info &nic)
{
    g_iFlag |= 0x0400;
    print_message("Firmware Flashed:\tSUCCESS  for interface " + nic.pbus_info.value_or("") + "\n\n");
    log_mellanox_event(pmstflint_fout, LOG_INFO,
                       "MAC " + pad_right(nic.pcurrent_mac.value_or(""), 12) + " Upgrade SUCCESS\n");
}

// Returns the status of the search for a refused board in the tool's output.
int report_failure(const nic_info &nic, const burn_outcome &outcome, const std::string &output_file)
{
    g_iFlag |= 0x0200;
    const std::string bus = nic.pbus_info.value_or("");
    if (!outcome.started)
        log_mellanox_event(pmstflint_fout, LOG_ERROR, "Could not start the flash tool for " + bus + "\n");
    else if (!outcome.exited)
        log_mellanox_event(pmstflint_fout, LOG_ERROR,
                           "The flash tool was ended by signal " + std::to_string(outcome.term_signal) +
                               " while burning " + bus + "\n");

    const std::string fwupg_cmd;
    // Without its output file a search would read standard input instead.
    const int found =
        output_file.empty() ? 1 : do_command("grep -i \"PSID Mismatch\" " + output_file + " > /dev/null");
    if (found == 0)
        log_mellanox_event(pmstflint_fout, LOG_ERROR,
                           "Fimware upgrade on this device is not supported\n " + fwupg_cmd + "\n");
    else
        log_mellanox_event(pmstflint_fout, LOG_ERROR, "Upgrade failed\n " + fwupg_cmd + "\n");
    return found;
}

// Runs the tool on one image and judges the outcome. A signal held back
// during the burn is returned for the caller to act on once the output file
// is gone.
int burn_image(const nic_info &nic, const std::string &image_path, int &deferred_signal)
{
    burn_output_file output;
    const flash_burn_command cmd = flash_burn_arguments(nic.pbus_info.value_or(""), image_path);
    const burn_outcome outcome = run_flash_tool(cmd.path, cmd.argv, output.fd());
    deferred_signal = outcome.deferred_signal;

    if (outcome.started && outcome.exited && outcome.exit_code == 0) {
        report_success(nic);
        return 0;
    }
    return report_failure(nic, outcome, output.name());
}

} // namespace

int do_update_firmware(unsigned uNicIdx)
{
    if (uNicIdx >= g_ninfo.size())
        return 0;
    nic_info &nic = g_ninfo[uNicIdx];
    if (!(nic.flags & 2))
        return 0;
    if (nic.fw_count <= 0) {
        print_message("Quitting......................as nothing found in repository\n");
        return 0;
    }

    size_t image_index = 0;
    if (read_discovery != 1) {
        const std::optional<size_t> chosen = select_image_for_burn(uNicIdx, nic);
        if (!chosen)
            return 0;
        image_index = *chosen;
    }

    const std::string file = text_or_empty(nic.pxmlFwImage, image_index);
    if (file.empty()) {
        // Burning the bare firmware directory would only fail later and less clearly.
        g_iFlag |= 0x0200;
        log_mellanox_event(pmstflint_fout, LOG_ERROR,
                           "No firmware image file name for " + nic.pbus_info.value_or("") + "; not flashed\n");
        return 1;
    }

    int deferred_signal = 0;
    const int result = burn_image(nic, "./nic_fw/" + file, deferred_signal);
    if (deferred_signal != 0)
        act_on_deferred_signal(deferred_signal);
    return result;
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
