// -u: the report-driven update.
#pragma once

#include "app/mode_end.h"
#include "core/run_state.h"

// Burns the devices whose action in the report at ctx.opts.report_path asks for it: each device
// planned from the report and the catalog, then burned when asked for; status 0, 1 (fatal) or 2.
mode_end read_discovery_report(run_context &ctx);
