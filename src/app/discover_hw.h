// -d: the discovery report.
#pragma once

#include "app/mode_end.h"
#include "core/run_state.h"

// Writes the discovery report of the inventory to ctx.opts.report_path: status 0 written, 1 fatal,
// 2 no adapter to report or not written.
mode_end discover_HW(run_context &ctx);
