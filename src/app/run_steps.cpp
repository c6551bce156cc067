// The steps the inventory modes share: the end of one cut short, the inventory's own plan and its description.
#include "app/run_steps.h"

#include <ctime>

#include "app/result_output.h"
#include "core/flash_tool.h"
#include "core/versions.h"
#include "platform/boot_time.h"
#include "report/metrics_file.h"

std::optional<mode_end> inventory_cut_short(const inventory &inv)
{
    if (inv.signal != 0)
        return ended_by_signal(inv.signal);
    if (inv.failure)
        return ended(1, result_word::fatal, inv.failure);
    return std::nullopt;
}

run_plan inventory_plan(const inventory &inv)
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

namespace {

std::string unqueried_text(const result_unqueried &why, int time_limit_s)
{
    switch (why.cause) {
    case unqueried_cause::timeout:
        return "no answer from the flash tool within " + std::to_string(time_limit_s) + " s";
    case unqueried_cause::tool_missing: return "the flash tool could not be started";
    case unqueried_cause::no_answer: return "the flash tool's answer holds no firmware version or PSID";
    case unqueried_cause::status: break;
    }
    return "the flash tool exited with status " + std::to_string(why.status);
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

// The metrics of the adapters read, each with the version a successful burn of this run left.
void write_metrics(const run_context &ctx, const inventory &inv, const burn_results &burns, int status)
{
    metrics_input input {.run_time = std::time(nullptr), .run_status = status, .boot_time = boot_time()};
    for (size_t i = 0; i < inv.ports.size(); ++i) {
        if (inv.roles[i] != port_role::complete)
            continue;
        const nic_info &nic = inv.ports[i];
        const bool burned = i < burns.size() && burns[i] && burns[i]->succeeded() && burns[i]->reported;
        const fw_version installed = burned ? parseversions(*burns[i]->reported) : nic.current;
        const std::vector<std::string> available = sorted_image_versions(nic);
        input.adapters.push_back({.address = nic.pbus_info.value_or(""), .psid = nic.psid.value_or(""),
                                  .installed = version_text(installed),
                                  .newest = available.empty() ? "" : available.back(),
                                  .update_available = !available.empty() && parseversions(available.back()) > installed});
    }
    input.queried = static_cast<int>(input.adapters.size());
    input.unqueried = static_cast<int>(inv.unqueried.size());
    if (std::optional<std::string> failure = write_metrics_file(ctx.opts.prometheus_path, input, ctx.history))
        say(*failure);
}

} // namespace

inventory take_inventory(run_context &ctx)
{
    inventory inv = build_NIC_list(ctx);
    for (const result_unqueried &why : inv.unqueried)
        say(why.address + " was not read: " + unqueried_text(why, ctx.query_time_limit_s));
    return inv;
}

void finish_inventory_mode(const run_context &ctx, const inventory &inv, const run_plan &plan,
                           const burn_results &burns, mode_end &end)
{
    describe_inventory(inv, plan, burns, end);
    if (!ctx.opts.prometheus_path.empty() && inv.status != inventory_status::cut_short)
        write_metrics(ctx, inv, burns, end.result.status);
}
