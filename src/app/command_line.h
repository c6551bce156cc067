// The command line: its shape, its options, the modes and the options each allows.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/run_state.h"

enum class cmdline_check {
    proceed,   // go on to parse the options
    malformed, // refused with the usage text
    ignored,   // the old boot-enable form: accepted, nothing done
};

// What a run's long options asked of main beyond the options they set.
enum class long_request {
    none,
    help,    // --help: the usage text, status 0
    version, // --version: the program's and the result document's versions, status 0
};

struct long_options_taken {
    std::vector<char *> words;                 // argv[0] and the words left, in order, then a null
    long_request request = long_request::none; // the first --help or --version: it ends the run at once
    std::optional<std::string> error;          // why a long option was refused
};

// Takes --help, --version, --json and --prometheus FILE (or --prometheus=FILE) out of the command line
// wherever they stand, setting --json and the file in opts. The words left keep their order and go to
// the rules below unchanged; any other word, an unknown "--xyz" included, is left for them to judge.
long_options_taken take_long_options(int argc, char **argv, options &opts);

// Checks the command line's shape before parsing, rewrites slash options in
// place and stores the report path in opts.
cmdline_check verify_cmd_line_options(int argc, char **pargv, options &opts);

// Why a command line that verify_cmd_line_options found malformed is refused.
std::string shape_refusal(int argc, char **pargv);

// How parsing ends the run: -h asks for the usage, an unknown option or a missing report path is refused.
struct parse_stop {
    int status = 1;                      // the exit status
    std::optional<std::string> refusal;  // why the command line was refused; nothing for -h
    bool operator==(const parse_stop &) const = default;
};

// Parses the options into opts; how parsing ended the run, when it did.
std::optional<parse_stop> parse_options(int argc, char **argv, options &opts);

enum class run_mode { upgrade, show_current, discover, update };

// The mode the options select, or nothing when they are not a combination any mode allows.
std::optional<run_mode> choose_mode(const options &opts);

// Why choose_mode refuses the options: "-c and -d cannot be combined".
std::string combination_refusal(const options &opts);

// The usage text, one line per message.
void usage(const options &opts);

// The --version text: the program's version and the result document's schema version.
std::string version_text();
