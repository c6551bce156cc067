// Whether to flash a port of the upgrade run: the versions shown, the operator's answer, the port's plan.
#pragma once

#include "core/console.h"
#include "core/pipeline.h"
#include "core/records.h"
#include "core/run_state.h"

// Shows a complete port's versions and asks whether to burn its newest image: yes, no, quit the run,
// or continue (burn, and offer no further port). Silent and -y runs answer yes unasked, except that
// a silent run without force passes over a port with nothing newer (no).
answer select_firmware(run_context &ctx, const nic_info &nic);

// The versions shown and the question, as select_firmware asks it.
answer is_FW_needed(run_context &ctx, const nic_info &nic);

// The plan of an upgrade-run port from the answer given for it: burn its newest image (the first of
// equal ones in catalog order), skip-current (passed over by a silent run) or skip-declined.
adapter_plan plan_upgrade_port(const nic_info &nic, const options &opts, answer given);
