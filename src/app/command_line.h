// The command line: its shape, its options, the modes and the options each allows.
#pragma once

#include <optional>

#include "core/run_state.h"

enum class cmdline_check {
    proceed,   // go on to parse the options
    malformed, // refused with the usage text
    ignored,   // the old boot-enable form: accepted, nothing done
};

// Checks the command line's shape before parsing, rewrites slash options in
// place and stores the report path in opts.
cmdline_check verify_cmd_line_options(int argc, char **pargv, options &opts);

// Parses the options into opts; the exit status when parsing ends the run (-h, an unknown option).
std::optional<int> parse_options(int argc, char **argv, options &opts);

enum class run_mode { upgrade, show_current, discover, update };

// The mode the options select, or nothing when they are not a combination any mode allows.
std::optional<run_mode> choose_mode(const options &opts);

// The usage text, one line per message.
void usage(const options &opts);
