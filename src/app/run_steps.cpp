// The steps the inventory modes share: the end of one cut short, the inventory's own plan and its description.
#include "app/run_steps.h"

#include "core/versions.h"

std::optional<mode_end> inventory_cut_short(const inventory &inv)
{
    if (inv.signal != 0)
        return ended_by_signal(inv.signal);
    if (inv.failure)
        return ended(1, result_word::fatal, inv.failure);
    return std::nullopt;
}

run_plan inspect_inventory(const inventory &inv)
{
    run_plan plan;
    plan.adapters.resize(inv.ports.size());
    for (size_t i = 0; i < inv.ports.size(); ++i) {
        adapter_decision &decision = plan.adapters[i].decision;
        switch (inv.roles[i]) {
        case port_role::second_device: decision = adapter_decision::second_device; break;
        case port_role::unqueried: decision = adapter_decision::unqueried; break;
        case port_role::complete:
            if (inv.ports[i].images.empty())
                decision = adapter_decision::no_image;
            break;
        case port_role::other_vendor: break;
        }
    }
    return plan;
}

void describe_inventory(const inventory &inv, const run_plan &plan, const burn_results &burns, mode_end &end)
{
    for (size_t i = 0; i < inv.ports.size(); ++i) {
        if (inv.roles[i] == port_role::other_vendor)
            continue;
        const nic_info &nic = inv.ports[i];
        result_adapter adapter {.address = nic.pbus_info.value_or(""), .psid = nic.psid, .mac = nic.pcurrent_mac};
        if (inv.roles[i] == port_role::complete)
            adapter.installed = version_text(nic.current);
        adapter.available = sorted_image_versions(nic);
        if (!adapter.available.empty())
            adapter.newest = adapter.available.back();
        adapter.decision = plan.adapters[i].decision;
        if (i < burns.size() && burns[i]) {
            adapter.burn = burns[i]->burn;
            end.result.reboot_required = end.result.reboot_required || burns[i]->succeeded();
        }
        end.result.adapters.push_back(std::move(adapter));
    }
    end.result.unqueried = inv.unqueried;
}
