// The default mode: the upgrade run.
#pragma once

#include "app/mode_end.h"
#include "core/run_state.h"

// Upgrades every adapter port: the inventory, then each port asked (or not) and burned when chosen,
// one after the other, so that the operator sees each burn before the next question; the status
// 0-3 comes from the plan and the burns.
mode_end fwupg(run_context &ctx);
