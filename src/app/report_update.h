// -u: the report-driven update.
#pragma once

#include "core/run_state.h"

// Burns the devices whose action in the report at ctx.opts.report_path asks
// for it; returns the exit status: 0, 1 (fatal) or 2.
int read_discovery_report(run_context &ctx);
