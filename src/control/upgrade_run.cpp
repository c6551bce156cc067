#include "control/upgrade_run.h"

#include <cstdio>

#include "control/console.h"
#include "discovery/inventory.h"
#include "flash/flash_exec.h"
#include "flash/selection.h"
#include "globals.h"

namespace {

void release_inventory()
{
    fw_number.clear();
    g_ninfo.clear();
    std::fflush(pmstflint_fout);
}

// Offers each port with catalog images for selection and flashing; false
// when the operator quit.
bool upgrade_ports()
{
    const size_t count = static_cast<size_t>(g_nNics > 0 ? g_nNics : 0);
    for (size_t uIdx = 0; uIdx < count && uIdx < g_ninfo.size(); ++uIdx) {
        if (g_ninfo[uIdx].fw_count <= 0)
            continue;
        const auto port = static_cast<unsigned>(uIdx);
        if (!(g_iFlag & 0x0800))
            select_firmware(port);
        if (g_iFlag & 0x0100)
            return false;
        if (fw_invalid == 1) {
            fw_invalid = 0;
            continue;
        }
        do_update_firmware(port);
    }
    return true;
}

} // namespace

int fwupg()
{
    open_event_log();

    const int built = build_NIC_list();
    if (built != 0) {
        print_message("\nNIC firmware update did not complete.  Check log for errors. \n");
        release_inventory();
        return built;
    }

    if (!upgrade_ports()) {
        print_message("\nFirmware upgrade cancelled by User \n");
        return 3;
    }

    if (fw_invalid_count == g_nMellanoxPorts)
        return 1;
    if (g_iFlag & 0x0200) {
        print_message("\nNIC firmware update completed with errors. \n");
        return 2;
    }
    if (g_iFlag & 0x0400) {
        print_message("\n\nPlease Reboot node for new image to be loaded into silicon\n\n");
        return 0;
    }
    release_inventory();
    return 0;
}
