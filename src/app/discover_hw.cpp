// The -d mode: the inventory written as a discovery report.
#include "app/discover_hw.h"
#include "core/event_log.h"

#include "discovery/inventory.h"
#include "report/report_writer.h"

int discover_HW(run_context &ctx)
{
    if (!ctx.log.open())
        return 1;
    inventory inv = build_NIC_list(ctx);
    if (inv.status == inventory_status::fatal)
        return 1;
    if (inv.status != inventory_status::ok)
        return 2;
    return xml_discovery_report(ctx.log, inv.ports, ctx.opts.report_path) ? 0 : 2;
}
