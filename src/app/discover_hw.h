// -d: the discovery report.
#pragma once

#include "core/run_state.h"

// Writes the discovery report to ctx.opts.report_path; returns 0 written, 1 fatal, 2 not written.
int discover_HW(run_context &ctx);
