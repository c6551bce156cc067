#include "flash/selection.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "control/console.h"
#include "flash/versions.h"
#include "globals.h"

namespace {

// The triple of catalog image i; zeros for a slot that the record lacks.
std::array<uint32_t, 3> image_triple(const nic_info &nic, size_t i)
{
    if (i >= nic.uFwROMmaj.size() || i >= nic.uFwROMmin.size() || i >= nic.uFwROMrel.size())
        return {0, 0, 0};
    return {nic.uFwROMmaj[i], nic.uFwROMmin[i], nic.uFwROMrel[i]};
}

size_t image_count(const nic_info &nic)
{
    return nic.fw_count > 0 ? static_cast<size_t>(nic.fw_count) : 0;
}

bool catalog_has_newer(const nic_info &nic)
{
    for (size_t i = 0; i < image_count(nic); ++i) {
        const auto v = image_triple(nic, i);
        if (version_newer(v[0], v[1], v[2], nic.uCurROMmaj, nic.uCurROMmin, nic.uCurROMrel))
            return true;
    }
    return false;
}

void show_versions(const nic_info &nic, const std::string &bus)
{
    print_message("\nCurrent Firmware Version is " + version_text(nic.uCurROMmaj, nic.uCurROMmin, nic.uCurROMrel) +
                  " on " + bus + " \n");
    if (ver_buf.empty())
        return;
    print_message("Repository has these firmware versions............");
    for (size_t i = 0; i < ver_buf.size(); ++i)
        print_message("[" + std::to_string(i + 1) + "] Image Version  " + ver_buf[i] + "\n");
}

// A silent run without force skips a port that has nothing newer. Only the
// option bits count: outcome bits of earlier ports must not turn the skip
// into a re-burn.
bool silent_skip()
{
    return (g_iFlag & 0x00ff) == 0x0002;
}

} // namespace

int is_FW_needed(unsigned uNicIdx)
{
    if (uNicIdx >= g_ninfo.size())
        return 1;
    const nic_info &nic = g_ninfo[uNicIdx];
    const std::string bus = nic.pbus_info.value_or("");

    std::string prompt_str;
    fw_version_message(prompt_str, static_cast<int>(uNicIdx));
    // Left in ver_buf for the flash step.
    ver_buf = sorted_image_versions(static_cast<int>(uNicIdx));

    const bool newer_fw = catalog_has_newer(nic);
    if (newer_fw)
        print_message("Repository has New firmware version for interface " + bus +
                      ".................Please flash the newer version\n");
    show_versions(nic, bus);

    if (newer_fw)
        return nfwu_yesno(prompt_str, 0, 0, 0, "y");

    log_mellanox_event(pmstflint_fout, LOG_WARNING, "*** WARNING *** - Installed firmware is the latest firmware\n");
    print_message("Repository doesn't have newer firmware version, Installed firmware version is the latest "
                  "one..........Please Quit the updation.\n");
    if (silent_skip()) {
        fw_invalid = 1;
        ++fw_invalid_count;
        return 1;
    }
    return nfwu_yesno(prompt_str, 1, 1, 1, "n");
}

int select_firmware(unsigned uNicIdx)
{
    if (uNicIdx >= g_ninfo.size())
        return 0;
    nic_info &nic = g_ninfo[uNicIdx];
    if (!(nic.flags & 1))
        return 0;

    for (size_t i = 0; i < image_count(nic) && i < nic.pxmlFwImage.size(); ++i) {
        const opt_text &file = nic.pxmlFwImage[i];
        if (file && file->find("n/a") != std::string::npos)
            log_mellanox_event(pmstflint_fout, LOG_WARNING,
                               std::string("Failed to get firmware image filename from ") + g_XMLFwFile + "\n");
    }

    switch (is_FW_needed(uNicIdx)) {
    case 0:
        nic.flags |= 2;
        break;
    case 3:
        nic.flags |= 2;
        g_iFlag |= 0x0800;
        break;
    case 2:
        g_iFlag |= 0x0100;
        nic.flags = 0;
        break;
    default:
        nic.flags = 0;
        break;
    }
    return 0;
}
