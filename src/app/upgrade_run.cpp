// The upgrade run: each port offered, burned when chosen, the outcome turned into the exit status.
#include "app/upgrade_run.h"
#include "core/event_log.h"

#include "core/console.h"
#include "discovery/inventory.h"
#include "flash/flash_exec.h"
#include "flash/selection.h"

namespace {

// Offers each port with catalog images for selection and flashing; false
// when the operator quit.
bool upgrade_ports(run_context &ctx, std::vector<nic_info> &ports)
{
    for (nic_info &nic : ports) {
        if (nic.images.empty())
            continue;
        if (!ctx.outcome.no_more_questions)
            select_firmware(ctx, nic);
        if (ctx.outcome.quit)
            return false;
        do_update_firmware(ctx, nic, image_choice::newest);
        // A signal held back during a burn ends the run at once.
        if (ctx.outcome.deferred_signal != 0)
            return true;
    }
    return true;
}

} // namespace

int fwupg(run_context &ctx)
{
    if (!ctx.log.open())
        return 1;

    inventory inv = build_NIC_list(ctx);
    if (inv.status == inventory_status::fatal)
        return 1;
    if (inv.status != inventory_status::ok) {
        print_message(ctx, "\nNIC firmware update did not complete.  Check log for errors. \n");
        return static_cast<int>(inv.status);
    }

    if (!upgrade_ports(ctx, inv.ports)) {
        print_message(ctx, "\nFirmware upgrade cancelled by User \n");
        return 3;
    }
    if (ctx.outcome.deferred_signal != 0)
        return 2;

    if (ctx.outcome.latest_skips == inv.mellanox_ports)
        return 1;
    if (ctx.outcome.failed) {
        print_message(ctx, "\nNIC firmware update completed with errors. \n");
        return 2;
    }
    if (ctx.outcome.flashed)
        print_message(ctx, "\n\nPlease Reboot node for new image to be loaded into silicon\n\n");
    return 0;
}
