// How a mode ends: the run's result for main to report, and a signal to end the run by.
#pragma once

#include <optional>
#include <string>

#include "core/run_result.h"

// What a mode leaves for main.
struct mode_end {
    run_result result {};     // the status, the result word and reason, the adapters, what was not read
    bool reason_said = false; // the reason's line on standard error is out already
    int signal = 0;           // held back during the run: main ends the run by it once the result is out
};

mode_end ended(int status, result_word word, std::optional<std::string> reason = std::nullopt);
// A run that a signal ends: its status is the one a shell shows for it.
mode_end ended_by_signal(int sig);
