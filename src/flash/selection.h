// Whether to flash a port of the upgrade run: the versions shown, the operator's answer.
#pragma once

#include "core/console.h"
#include "core/records.h"
#include "core/run_state.h"

// Decides for one port of the upgrade run whether to flash it: sets its
// flash-request bit, and the run's quit or no-more-questions outcome.
void select_firmware(run_context &ctx, nic_info &nic);

// Shows the port's versions and asks: yes flash, no, quit the run, or
// continue (flash and offer no further port).
answer is_FW_needed(run_context &ctx, const nic_info &nic);
