// The state of one run: the options read once and the context passed down.
#pragma once

#include <string>

#include "core/burn_history.h"

class event_log;
class tool_runner;

// The options of the command line, parsed once and read-only afterwards.
struct options {
    bool show_current = false; // -c
    bool silent = false;       // -s: no console messages, no prompts
    bool force = false;        // -F, -f: burn even when nothing is newer
    bool prompt = false;       // -p
    bool yes = false;          // -y: every prompt answered yes
    bool discover = false;     // -d
    bool update = false;       // -u
    std::string report_path;   // the second word, or the default report name
    bool json = false;           // --json: one JSON document of the run on standard output
    std::string prometheus_path; // --prometheus FILE: the metrics file; empty when not asked for

    // Console messages are for interactive runs: silent, report-writing and report-driven runs print none.
    bool console_silenced() const { return silent || update || discover; }
    // The flash tool runs silently in silent and report-driven runs.
    bool silent_tool() const { return silent || update; }
};

// Which flash tool the Secure Boot check left usable.
struct boot_state {
    bool installed_tool = false; // Secure Boot is on: /usr/bin/flint replaces the package's tool
};

// Seconds a flash-tool query may run when ROVAN_QUERY_TIMEOUT does not say otherwise.
inline constexpr int k_default_query_time_limit_s = 60;

// Everything a mode and the steps below it work on, owned by main.
struct run_context {
    const options &opts;
    boot_state boot;
    event_log &log;
    tool_runner &tools;
    int query_time_limit_s = k_default_query_time_limit_s; // a query still running then is ended
    burn_history history {}; // keeps nothing until main names the file
};
