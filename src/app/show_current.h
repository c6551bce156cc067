// -c: the current-firmware display.
#pragma once

#include "app/mode_end.h"
#include "core/run_state.h"

// The installed and the available firmware versions of every adapter port; decides nothing.
mode_end show_current(run_context &ctx);
