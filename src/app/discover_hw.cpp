// The -d mode: the inventory written as a discovery report.
#include "app/discover_hw.h"
#include "app/run_steps.h"

#include "discovery/inventory.h"
#include "report/report_writer.h"

mode_end discover_HW(run_context &ctx)
{
    const inventory inv = take_inventory(ctx);
    const std::string &path = ctx.opts.report_path;
    mode_end end;
    if (std::optional<mode_end> cut = inventory_cut_short(inv))
        end = std::move(*cut);
    else if (inv.status == inventory_status::no_mellanox)
        end = ended(2, result_word::failed, "no Mellanox adapter found");
    else if (inv.status == inventory_status::none_readable)
        end = ended(2, result_word::failed, "no adapter could be queried");
    else if (std::optional<std::string> failure = xml_discovery_report(ctx.log, inv.ports, path))
        end = ended(2, result_word::failed, "cannot write the report " + path + ": " + *failure);
    else
        end = ended(0, result_word::ok);
    finish_inventory_mode(ctx, inv, inventory_plan(inv), {}, end);
    return end;
}
