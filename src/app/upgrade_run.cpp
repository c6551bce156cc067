// The upgrade run: inventory, then per port the answer, its plan and its burn; the status from them all.
#include "app/upgrade_run.h"
#include "app/run_steps.h"

#include <algorithm>

#include "app/result_output.h"
#include "core/console.h"
#include "discovery/inventory.h"
#include "flash/flash_exec.h"
#include "flash/selection.h"

namespace {

// Asks for and burns each port with catalog images, in order, until the operator quits or a signal
// held back during a burn ends the run; after a "continue" no later port is asked or burned.
void upgrade_ports(run_context &ctx, const inventory &inv, run_plan &plan, burn_results &burns)
{
    bool asking = true, burned_before = false;
    for (size_t i = 0; i < inv.ports.size() && asking; ++i) {
        const nic_info &nic = inv.ports[i];
        if (nic.images.empty())
            continue;
        const answer given = select_firmware(ctx, nic);
        plan.adapters[i] = plan_upgrade_port(nic, ctx.opts, given);
        plan.quit = given == answer::quit;
        asking = given != answer::quit && given != answer::continue_all;
        if (plan.adapters[i].decision != adapter_decision::burn)
            continue;
        if (!burned_before)
            log_waiting_notice(ctx.log);
        burned_before = true;
        burns[i] = do_update_firmware(ctx, nic, *plan.adapters[i].image, burn_source::upgrade_run);
        if (burns[i]->failure)
            say(*burns[i]->failure);
        if (burns[i]->signal != 0)
            return;
    }
}

// The status of a run whose ports were all offered (or the operator quit), with its closing message.
mode_end upgrade_status(const run_context &ctx, const inventory &inv, const run_plan &plan, const burn_results &burns)
{
    if (plan.quit) {
        print_message(ctx, "\nFirmware upgrade cancelled by User \n");
        return ended(3, result_word::quit, "the operator quit at the prompt");
    }
    for (const std::optional<burn_result> &burn : burns) {
        if (burn && burn->signal != 0)
            return ended_by_signal(burn->signal);
    }
    const auto current = std::ranges::count_if(
        plan.adapters, [](const adapter_plan &p) { return p.decision == adapter_decision::skip_current; });
    if (current == inv.mellanox_ports)
        return ended(1, result_word::nothing_to_do, "every adapter has the newest firmware already");
    const auto failed = std::ranges::find_if(burns, [](const auto &burn) { return burn && !burn->succeeded(); });
    if (failed != burns.end()) {
        print_message(ctx, "\nNIC firmware update completed with errors. \n");
        mode_end end = ended(2, result_word::failed, (*failed)->failure);
        end.reason_said = true;
        return end;
    }
    if (std::ranges::any_of(burns, [](const auto &burn) { return burn.has_value(); }))
        print_message(ctx, "\n\nPlease Reboot node for new image to be loaded into silicon\n\n");
    return ended(0, result_word::ok);
}

} // namespace

mode_end fwupg(run_context &ctx)
{
    const inventory inv = take_inventory(ctx);
    run_plan plan = inventory_plan(inv);
    burn_results burns(inv.ports.size());
    mode_end end;
    if (std::optional<mode_end> cut = inventory_cut_short(inv)) {
        end = std::move(*cut);
    } else if (inv.status != inventory_status::ok) {
        print_message(ctx, "\nNIC firmware update did not complete.  Check log for errors. \n");
        end = inv.status == inventory_status::no_mellanox ? ended(1, result_word::failed, "no Mellanox adapter found")
                                                          : ended(2, result_word::failed, "no adapter could be queried");
    } else {
        upgrade_ports(ctx, inv, plan, burns);
        end = upgrade_status(ctx, inv, plan, burns);
    }
    finish_inventory_mode(ctx, inv, plan, burns, end);
    return end;
}
