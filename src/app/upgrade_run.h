// The default mode: the upgrade run.
#pragma once

#include "core/run_state.h"

// Upgrades every adapter port; returns the exit status 0-3.
int fwupg(run_context &ctx);
