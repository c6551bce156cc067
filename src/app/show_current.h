// -c: the current-firmware display.
#pragma once

#include "core/run_state.h"

// The installed and the available firmware versions of every adapter port; returns the exit status.
int show_current(run_context &ctx);
